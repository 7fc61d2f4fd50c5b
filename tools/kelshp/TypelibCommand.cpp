#include <cstdio>

#include "Tool.h"
#include "kel/automation/TypeLibraryListing.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp typelib\n"
    "\n"
    "Prints the library's type library, kelShapeLib, as an interface definition: every\n"
    "class with its members, dispatch ids, parameters, results and help strings, and the\n"
    "two enumerations.\n";

}  // namespace

int runTypelib(const Args& args) {
  if (parseArguments(args, {}, 0, 0, "no operands").help) return std::fputs(kUsage, stdout), 0;
  std::fputs(kel::toUtf8(kel::automation::typeLibraryListing()).c_str(), stdout);
  return 0;
}

}  // namespace kelshp

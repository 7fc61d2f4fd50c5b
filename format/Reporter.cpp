#include "format/Reporter.h"

namespace kel::format {

std::string describe(const Finding& f) {
  std::string out = f.file;
  if (f.offset >= 0) out += ": offset " + std::to_string(f.offset);
  if (f.record >= 0) out += ": record " + std::to_string(f.record + 1);
  out += ": " + f.sentence;
  return out;
}

}  // namespace kel::format

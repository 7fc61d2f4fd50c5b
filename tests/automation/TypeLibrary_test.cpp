// The type library is the interface contract: every class, member, kind, dispatch id, parameter,
// result and help string, and the two enumerations. `kelshp typelib` prints it whole, and the
// print must match tests/data/kelShapeLib.idl to the byte. After a deliberate change to the
// interface, regenerate it from a build and review the diff:
//
//   build/tools/kelshp/kelshp typelib > tests/data/kelShapeLib.idl

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/PeerTools.h"

using namespace kel::testing;

TEST(TypeLibrary, KelshpListsItAsTheGoldenListing) {
  std::ifstream golden(std::string(KEL_SOURCE_DIR) + "/tests/data/kelShapeLib.idl");
  ASSERT_TRUE(golden) << "tests/data/kelShapeLib.idl is missing";
  std::string want{std::istreambuf_iterator<char>(golden), {}};
  EXPECT_EQ(run(quote(KELSHP_PATH) + " typelib"), want);
}

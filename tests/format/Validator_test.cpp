#include "kel/format/Validator.h"

#include <gtest/gtest.h>

#include "support/ShapefileFixtures.h"

using namespace kel::testing;
namespace fmt = kel::format;

namespace {

// Everything the readers and the validator say of f.* that is more than a note, its table's
// code page declared (the sample's text is Windows-1252 beyond ASCII, which would be guessed).
std::vector<fmt::Finding> validated(const ShapefileFiles& files) {
  TempDir dir;
  writeSet(dir, files, "f");
  dir.write("f.cpg", "1252");
  fmt::CollectingReporter said;
  if (auto layer = fmt::Layer::open(dir.native("f"), said)) fmt::validate(*layer, said);
  std::erase_if(said.findings,
                [](const fmt::Finding& f) { return f.severity == fmt::Severity::Note; });
  for (fmt::Finding& f : said.findings) f.file = f.file.substr(f.file.rfind('/') + 1);
  return said.findings;
}

}  // namespace

TEST(Validator, RegularFilesGiveNoFinding) {
  for (std::int32_t type : {1, 3, 5, 8})
    EXPECT_EQ(describeAll(validated(sampleFiles(type))), "") << type;
}

// Each fault made in the PolyLine sample, and the irregularity that says where it is. The sample's
// records lie at 100, 320 and 440 and end at 560; its rows at 161, 184 and 207 of 23 bytes.
TEST(Validator, SaysWhatOnlyAWalkOfTheWholeFinds) {
  const ShapefileFiles sample = sampleFiles(3);
  ShapefileFiles missedEntry = sample;
  putBigEndian(missedEntry.shx, 108, 164);
  ShapefileFiles noMark = sample;
  noMark.dbf.pop_back();
  const Pts line = {{0, 0}, {1, 1}};
  std::vector<Bytes> tail;
  for (const auto& [pts, starts] : sampleShapes(3)) {
    tail.push_back(shapeContent(3, pts, starts, extentsOf(pts)));
  }
  tail[0].zeros(8);
  const struct {
    ShapefileFiles files;
    const char* file;
    std::int64_t offset;
  } cases[] = {
      {missedEntry, "f.shx", 108},                                    // entry 2 four words late
      {patched(sample, &ShapefileFiles::shx, 126, 0), "f.shx", 124},  // 3 bytes behind the entries
      {patched(sample, &ShapefileFiles::shx, 27, 0), "f.shx", 24},    // the header's length
      {shapefileOf(3, tail, sample.dbf, {0, 0, 30, 30}), "f.shp", 320},  // 8 bytes behind fields
      {patched(sample, &ShapefileFiles::shp, 112, 1), "f.shp",
       112},                                                        // a box that misses its points
      {patched(sample, &ShapefileFiles::shp, 36, 1), "f.shp", 36},  // the header's extents
      {shapefileOf(3, {shapeContent(3, line, {1}, {0, 0, 1, 1})}, dbfFile(1), {0, 0, 1, 1}),
       "f.shp", 152},                                                 // part 1 starts at point 1
      {patched(sample, &ShapefileFiles::shp, 563, 0), "f.shp", 560},  // 4 bytes behind the records
      {patched(sample, &ShapefileFiles::dbf, 48, 0), "f.dbf", 48},    // column 1 of width 0
      {patched(sample, &ShapefileFiles::dbf, 8, 162), "f.dbf", 8},  // a header length past the mark
      {patched(sample, &ShapefileFiles::dbf, 161, '*'), "f.dbf", 161},  // row 1 deleted
      {patched(sample, &ShapefileFiles::dbf, 168, 'x'), "f.dbf", 168},  // row 1's POP is no number
      {patched(sample, &ShapefileFiles::dbf, 232, 0), "f.dbf", 231},    // bytes behind the end mark
      {noMark, "f.dbf", 230},                                           // no end mark
  };
  for (const auto& c : cases) {
    std::vector<fmt::Finding> found = validated(c.files);
    EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                            [&](const fmt::Finding& f) {
                              return f.file == c.file && f.offset == c.offset &&
                                     f.severity == fmt::Severity::Irregularity;
                            }))
        << c.file << " " << c.offset << " not in\n"
        << describeAll(found);
  }
}

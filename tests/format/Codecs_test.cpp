#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kel/format/DbaseFile.h"
#include "kel/format/Encoding.h"
#include "kel/format/MainFile.h"
#include "kel/format/ShapeRecord.h"
#include "kel/format/Value.h"
#include "kel/runtime/TextEncoder.h"
#include "kel/runtime/Transcoder.h"
#include "support/Bytes.h"
#include "support/EngineWriting.h"

using namespace kel::format;

namespace {

template <class T>
std::vector<T> vec(std::span<const T> s) {
  return {s.begin(), s.end()};
}

}  // namespace

// A MultiPatch with M values laid out by hand, the record with every array: each is read where
// the format puts it, and written there again.
TEST(ShapeCodec, ReadsAndWritesEveryArrayWhereTheFormatPutsIt) {
  kel::testing::Bytes b;
  b.i32le(31).f64(0).f64(1).f64(2).f64(3);                  // the type and box
  b.i32le(2).i32le(3).i32le(0).i32le(2).i32le(0).i32le(5);  // counts, starts, part types
  for (double v : {0, 1, 2, 3, 0, 1, 4, 6, 4, 5, 6, 7, 9, 7, 8, 9}) b.f64(v);  // X Y, Z, M
  ShapeBuffer buffer;
  ShapeView v;
  ASSERT_FALSE(decodeShape(b.vec(), buffer, v));
  EXPECT_EQ(std::tuple(vec(v.parts), vec(v.partTypes), v.points[1].x, v.points[2].y),
            std::tuple(std::vector<std::int32_t>{0, 2}, std::vector<std::int32_t>{0, 5}, 2.0, 1.0));
  EXPECT_EQ(std::tuple(vec(v.z), v.zRange.min, vec(v.m), v.mRange.max),
            std::tuple(std::vector<double>{4, 5, 6}, 4.0, std::vector<double>{7, 8, 9}, 9.0));
  std::vector<unsigned char> again;
  encodeShape(v, again);
  EXPECT_EQ(again, b.vec());
}

// Every type with Z and M values goes through the writer and back in LayerWriter_test. A PointM
// given no M holds "no measure"; a PointZ, like the other Z types, none.
TEST(ShapeCodec, APointMGivenNoMeasureHoldsNoMeasureAndAPointZNone) {
  for (ShapeType type : {ShapeType::PointZ, ShapeType::PointM}) {
    std::vector<kel::testing::EngineRecord> records = kel::testing::engineRecords(type);
    records[0].m.clear();
    ShapeView in = records[0].view(), out;
    std::vector<unsigned char> bytes;
    encodeShape(in, bytes);
    ShapeBuffer buffer;
    ASSERT_FALSE(decodeShape(bytes, buffer, out));
    ASSERT_EQ(out.m.size(), type == ShapeType::PointM ? 1u : 0u);
    if (type == ShapeType::PointM) {
      EXPECT_LT(out.m[0], kNoMeasureBelow);
    }
  }
}

TEST(ShapeCodec, RefusesBytesThatAreNoRecordAndSaysWhere) {
  auto encoded = [](ShapeType t) {
    std::vector<unsigned char> b;
    encodeShape(kel::testing::engineRecords(t)[0].view(), b);
    return b;
  };
  auto put32 = [](std::vector<unsigned char> b, std::size_t at, std::int32_t v) {
    std::memcpy(b.data() + at, &v, 4);
    return b;
  };
  // Two parts of 5 and 5 points; a MultiPatch's part types follow the starts.
  std::vector<unsigned char> poly = encoded(ShapeType::PolyLine);
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    std::size_t offset;
  } cases[] = {
      {"empty", {}, 0},
      {"unknown type", put32(std::vector<unsigned char>(4), 0, 2), 0},
      {"short point", std::vector<unsigned char>(poly.begin(), poly.begin() + 12), 0},
      {"negative count", put32(poly, 40, -1), 36},
      {"points past the end", put32(poly, 40, 1 << 28), 36},
      {"start outside", put32(poly, 48, 10), 48},
      {"starts descending", put32(put32(poly, 44, 0), 48, 0), 48},
      {"points without parts", put32(poly, 36, 0), 36},
      {"bad part type", put32(encoded(ShapeType::MultiPatch), 56, 9), 56},
  };
  ShapeBuffer buffer;
  for (const Case& c : cases) {
    ShapeView v;
    std::optional<CodecError> e = decodeShape(c.bytes, buffer, v);
    ASSERT_TRUE(e) << c.what;
    EXPECT_EQ(e->offset, c.offset) << c.what;
    EXPECT_FALSE(e->sentence.empty());
    EXPECT_LT(buffer.points.capacity(), 64u) << c.what << ": allocated by a count it did not hold";
  }
  std::vector<kel::testing::EngineRecord> bad = kel::testing::engineRecords(ShapeType::PolyLineZ);
  bad[0].z.clear();
  std::vector<unsigned char> out;
  EXPECT_THROW(encodeShape(bad[0].view(), out), std::invalid_argument);
}

// The headers' fields are held to the format by the files of other writers (tests/interop); a
// table's row count there never needs its 32nd bit.
TEST(HeaderCodecs, ATableCountsItsRowsInThirtyTwoBitsWithoutASign) {
  DbfHeader d;
  d.recordCount = 4000000000u;
  unsigned char b[32];
  d.encode(b);
  EXPECT_EQ(DbfHeader::decode(b).recordCount, 4000000000u);
}

TEST(Encodings, NamedByCodePageFilesAndLanguageMarks) {
  std::pair<std::string, std::string> cpg[] = {
      {"UTF-8\r\n", "UTF-8"},   {" utf8", "UTF-8"}, {"1252", "CP1252"},
      {"ANSI 1253", "CP1253"},  {"852", "CP852"},   {"88591", "ISO-8859-1"},
      {"8859-7", "ISO-8859-7"}, {"65001", "UTF-8"}, {"  ", ""},
      {"koi8-r", "KOI8-R"}};
  for (const auto& [text, want] : cpg) EXPECT_EQ(encodingOfCodePageFile(text), want) << text;
  EXPECT_EQ(encodingOfLanguageDriver(0x57), "CP1252");
  EXPECT_EQ(encodingOfLanguageDriver(0x03), "CP1252");
  EXPECT_EQ(encodingOfLanguageDriver(0x64), "CP852");
  EXPECT_EQ(encodingOfLanguageDriver(0x00), "");

  // Greek in three encodings, and bytes that are no characters, replaced and counted.
  std::pair<std::string, std::string> greek[] = {
      {"UTF-8", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1"},
      {"CP1253", "\xC1\xE8\xDE\xED\xE1"},
      {"ISO-8859-7", "\xC1\xE8\xDE\xED\xE1"}};
  for (const auto& [encoding, bytes] : greek) {
    std::string out;
    EXPECT_EQ(kel::Transcoder::open(encoding)->toUtf8(bytes, out), 0u);
    EXPECT_EQ(out, "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1") << encoding;
  }
  std::string out;
  EXPECT_EQ(kel::Transcoder::open("UTF-8")->toUtf8("a\xFF\xC3", out), 2u);
  EXPECT_EQ(out, "a\xEF\xBF\xBD\xEF\xBF\xBD");
  out.clear();
  EXPECT_EQ(kel::Transcoder::open("UTF-8")->toUtf8("\xED\xA0\x80", out), 3u);  // a surrogate
  EXPECT_EQ(kel::Transcoder::open("NO-SUCH-ENCODING"), nullptr);
  EXPECT_EQ(kel::TextEncoder::open("NO-SUCH-ENCODING"), nullptr);

  // Readers and writers take every name a .cpg file may give, as the .cpg reading names it.
  for (const auto& [name, encoding] : cpg) {
    if (encoding.empty()) continue;
    EXPECT_NE(kel::Transcoder::open(name), nullptr) << name;
    EXPECT_NE(kel::TextEncoder::open(name), nullptr) << name;
  }
}

TEST(Values, ReadWithoutAVisit) {
  struct Case {
    Value value;
    std::optional<double> real;
    std::optional<std::int64_t> integer;
    std::string text;
  };
  const Case cases[] = {
      {Null{}, {}, {}, ""},
      {std::int64_t{-42}, -42.0, -42, "-42"},
      {2.5, 2.5, {}, "2.5"},
      {1e15, 1e15, std::int64_t{1000000000000000}, "1e+15"},
      {0x1p63, 0x1p63, {}, "9223372036854775808"},
      {-0x1p63, -0x1p63, std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
      {true, {}, {}, "true"},
      {Date{2024, 5, 1}, {}, {}, "2024-05-01"},
      {std::string("Gr\xC3\xBC\x00n", 5), {}, {}, std::string("Gr\xC3\xBC\x00n", 5)},
      {RawBytes{"\x01\x02"}, {}, {}, "\x01\x02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.value));
    EXPECT_EQ(isNull(c.value), std::holds_alternative<Null>(c.value));
    EXPECT_EQ(asDouble(c.value), c.real);
    EXPECT_EQ(asInteger(c.value), c.integer);
    EXPECT_EQ(asText(c.value), c.text);
  }
}

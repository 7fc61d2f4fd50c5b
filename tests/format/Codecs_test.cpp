#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "format/DbaseFile.h"
#include "format/Encoding.h"
#include "format/MainFile.h"
#include "format/ShapeRecord.h"
#include "format/Value.h"
#include "support/Bytes.h"

using namespace kel::format;

namespace {

// A view of every array a type can hold: two parts of three points, Z and M values.
struct Sample {
  std::vector<std::int32_t> parts{0, 3}, partTypes{0, 5};
  std::vector<XY> points{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {-1, 0.5}, {1e300, -0.0}};
  std::vector<double> z{1, 2, 3, 4, 5, 6}, m{-2e38, 0, 1, 2, 3, 4};

  ShapeView view(ShapeType type, bool withM) const {
    ShapeTypeTraits t = *traitsOf(static_cast<std::int32_t>(type));
    ShapeView v;
    v.type = type;
    if (t.geometry == Geometry::Null) return v;
    std::size_t n = t.geometry == Geometry::Point ? 1 : points.size();
    v.points = std::span(points).first(n);
    if (t.z) v.z = std::span(z).first(n);
    if (t.m && withM) v.m = std::span(m).first(n);
    bool poly = t.geometry == Geometry::PolyLine || t.geometry == Geometry::Polygon ||
                t.geometry == Geometry::MultiPatch;
    if (poly) v.parts = parts;
    if (t.geometry == Geometry::MultiPatch) v.partTypes = partTypes;
    if (t.geometry != Geometry::Point) {
      v.box = {-1, 0, 1e300, 8};
      v.zRange = {1, 6};
      if (!v.m.empty()) v.mRange = {0, 4};
    }
    return v;
  }
};

template <class T>
std::vector<T> vec(std::span<const T> s) {
  return {s.begin(), s.end()};
}

void expectSame(const ShapeView& a, const ShapeView& b) {
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(vec(a.parts), vec(b.parts));
  EXPECT_EQ(vec(a.partTypes), vec(b.partTypes));
  ASSERT_EQ(a.points.size(), b.points.size());
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    EXPECT_EQ(a.points[i].x, b.points[i].x);
    EXPECT_EQ(std::signbit(a.points[i].y), std::signbit(b.points[i].y));
  }
  EXPECT_EQ(vec(a.z), vec(b.z));
  EXPECT_EQ(vec(a.m), vec(b.m));
}

constexpr ShapeType kAllTypes[] = {
    ShapeType::Null,        ShapeType::Point,     ShapeType::PolyLine,  ShapeType::Polygon,
    ShapeType::MultiPoint,  ShapeType::PointZ,    ShapeType::PolyLineZ, ShapeType::PolygonZ,
    ShapeType::MultiPointZ, ShapeType::PointM,    ShapeType::PolyLineM, ShapeType::PolygonM,
    ShapeType::MultiPointM, ShapeType::MultiPatch};

}  // namespace

TEST(ShapeCodec, EveryTypeComesBackAsItWentWithAndWithoutMeasures) {
  Sample s;
  ShapeBuffer buffer;
  for (ShapeType type : kAllTypes) {
    for (bool withM : {true, false}) {
      ShapeView in = s.view(type, withM), out;
      std::vector<unsigned char> bytes;
      encodeShape(in, bytes);
      ASSERT_EQ(bytes.size(), encodedSize(in));
      ASSERT_FALSE(decodeShape(bytes, buffer, out)) << static_cast<int>(type);
      SCOPED_TRACE(static_cast<int>(type));
      // A PointM or PointZ always holds an M: without one it is written as "no measure".
      if (!withM && (type == ShapeType::PointM || type == ShapeType::PointZ)) {
        EXPECT_LT(out.m[0], kNoMeasureBelow);
      } else {
        expectSame(in, out);
      }
      std::vector<unsigned char> again;
      encodeShape(out, again);
      EXPECT_EQ(again, bytes);
    }
  }
}

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

TEST(ShapeCodec, RefusesBytesThatAreNoRecordAndSaysWhere) {
  Sample s;
  auto encoded = [&](ShapeType t) {
    std::vector<unsigned char> b;
    encodeShape(s.view(t, true), b);
    return b;
  };
  auto put32 = [](std::vector<unsigned char> b, std::size_t at, std::int32_t v) {
    std::memcpy(b.data() + at, &v, 4);
    return b;
  };
  std::vector<unsigned char> poly = encoded(ShapeType::PolyLine);
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    std::size_t offset;
  } cases[] = {
      {"empty", {}, 0},
      {"unknown type", put32(encoded(ShapeType::Null), 0, 2), 0},
      {"short point", std::vector<unsigned char>(poly.begin(), poly.begin() + 12), 0},
      {"negative count", put32(poly, 40, -1), 36},
      {"points past the end", put32(poly, 40, 1 << 28), 36},
      {"start outside", put32(poly, 48, 6), 48},
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
  ShapeView bad = s.view(ShapeType::PolyLineZ, true);
  bad.z = {};
  std::vector<unsigned char> out;
  EXPECT_THROW(encodeShape(bad, out), std::invalid_argument);
}

TEST(HeaderCodecs, HeadersDescriptorsAndEntriesComeBack) {
  MainHeader h;
  h.fileCode = kFileCode;
  h.fileLength = 0x12345678;
  h.version = kVersion;
  h.shapeType = 31;
  h.xMin = -1.5;
  h.mMax = 1e300;
  MainHeader::Bytes b = h.encode();
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[3], 0x0A);   // 9994 big-endian
  EXPECT_EQ(b[28], 0xE8);  // 1000 little-endian
  EXPECT_EQ(MainHeader::decode(b).encode(), b);
  unsigned char rec[8];
  RecordHeader{7, 0x10203}.encode(rec);
  EXPECT_EQ(rec[3], 7);
  EXPECT_EQ(RecordHeader::decode(rec).contentLength, 0x10203);

  DbfHeader d;
  d.recordCount = 4000000000u;
  d.headerLength = 65;
  d.recordLength = 300;
  d.languageDriver = 0x57;
  unsigned char db[32];
  d.encode(db);
  EXPECT_EQ(db[29], 0x57);
  DbfHeader back = DbfHeader::decode(db);
  EXPECT_EQ(back.recordCount, d.recordCount);
  EXPECT_EQ(back.recordLength, 300);
  FieldDescriptor f;
  std::memcpy(f.name.data(), "NAME_OF_10", 10);
  f.type = 'N';
  f.width = 19;
  f.decimals = 11;
  unsigned char fb[32];
  f.encode(fb);
  FieldDescriptor g = FieldDescriptor::decode(fb);
  EXPECT_EQ(g.nameBytes(), "NAME_OF_10");
  EXPECT_EQ(std::tuple(g.type, g.width, g.decimals), std::tuple(f.type, f.width, f.decimals));
}

TEST(ValueDecoding, EachTypeLetterAsItsValues) {
  auto column = [](char type, int width, int decimals = 0) {
    FieldDescriptor f;
    f.type = static_cast<std::uint8_t>(type);
    f.width = static_cast<std::uint8_t>(width);
    f.decimals = static_cast<std::uint8_t>(decimals);
    return f;
  };
  struct Case {
    FieldDescriptor column;
    std::string bytes;
    Value want;
    bool odd;
  } cases[] = {
      {column('C', 8), "  ab c  ", std::string("ab c"), false},
      {column('C', 4), "    ", Null{}, false},
      {column('C', 4), "\xC9t\xE9", std::string("\xC3\x89t\xC3\xA9"), false},
      {column('N', 5), "  -12", std::int64_t{-12}, false},
      {column('N', 5), "*****", Null{}, false},
      {column('N', 5), "     ", Null{}, false},
      {column('N', 9, 3), "   +1.250", 1.25, false},
      {column('N', 20), "  12345678901234567890", 12345678901234567890.0, false},
      {column('N', 5), " 1.5x", Null{}, true},
      {column('F', 8, 2), "  1e3", 1000.0, false},
      {column('F', 8), "     -12", std::int64_t{-12}, false},
      {column('L', 1), "y", true, false},
      {column('L', 1), "F", false, false},
      {column('L', 1), "?", Null{}, false},
      {column('L', 1), "x", Null{}, true},
      {column('D', 8), "20240229", Date{2024, 2, 29}, false},
      {column('D', 8), "00000000", Null{}, false},
      {column('D', 8), "20241301", Null{}, true},
      {column('I', 4), std::string("\xFE\xFF\xFF\xFF", 4), std::int64_t{-2}, false},
      {column('M', 10), "        17", std::string("17"), false},
      {column('B', 2), "\x01 ", RawBytes{"\x01 "}, false},
  };
  std::unique_ptr<kel::Transcoder> text = kel::Transcoder::open("CP1252");
  for (const Case& c : cases) {
    std::string odd;
    EXPECT_EQ(decodeValue(c.column, c.bytes, *text, &odd), c.want) << c.bytes;
    EXPECT_EQ(!odd.empty(), c.odd) << c.bytes << ": " << odd;
  }
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
}

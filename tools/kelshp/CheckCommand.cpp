#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Output.h"
#include "Tool.h"
#include "runtime/FileSystem.h"
#include "runtime/Text.h"
#include "shapefile/DbaseFormat.h"
#include "shapefile/ShapefileFormat.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp check PATH\n"
    "\n"
    "Reads the three files of a shapefile byte by byte and reports, with byte offsets,\n"
    "what is wrong (the library cannot read it) or irregular (it reads, but not as the\n"
    "format has it): wrong codes, lengths that disagree, index entries that miss their\n"
    "records, record types that differ from the header, a table whose record count\n"
    "differs from the shape count, deleted records, bytes behind the last record.\n"
    "Exits 0 for a regular shapefile, 1 when anything was reported.\n";

using Bytes = std::vector<unsigned char>;

std::int32_t le32(const Bytes& b, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
std::int32_t be32(const Bytes& b, std::size_t at) {
  return kel::shp::swapBytes(le32(b, at));
}
std::int16_t le16(const Bytes& b, std::size_t at) {
  std::int16_t v;
  std::memcpy(&v, &b[at], 2);
  return v;
}
double f64(const Bytes& b, std::size_t at) {
  double v;
  std::memcpy(&v, &b[at], 8);
  return v;
}

std::string str(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

struct Extent {
  double xMin = INFINITY, yMin = INFINITY, xMax = -INFINITY, yMax = -INFINITY;
  void add(double x, double y) {
    xMin = std::min(xMin, x), yMin = std::min(yMin, y);
    xMax = std::max(xMax, x), yMax = std::max(yMax, y);
  }
  bool empty() const { return xMin > xMax; }
  bool operator==(const Extent&) const = default;
  std::string text() const {
    return "(" + str(xMin) + ", " + str(yMin) + ") - (" + str(xMax) + ", " + str(yMax) + ")";
  }
};

// Collects the findings, each "<file>: offset N: what", marked as an error or an irregularity.
class Findings {
 public:
  void error(const std::string& file, std::int64_t offset, const std::string& what) {
    add(file, offset, what, "error");
    ++errors_;
  }
  void irregular(const std::string& file, std::int64_t offset, const std::string& what) {
    add(file, offset, what, "irregular");
    ++irregularities_;
  }
  int errors() const { return errors_; }
  int irregularities() const { return irregularities_; }

 private:
  void add(const std::string& file, std::int64_t offset, const std::string& what,
           const char* kind) {
    std::string where = offset >= 0 ? ": offset " + std::to_string(offset) : "";
    std::printf("%s%s: %s (%s)\n", visible(file).c_str(), where.c_str(), visible(what).c_str(),
                kind);
  }
  int errors_ = 0;
  int irregularities_ = 0;
};

// A record of the main file as found: where it starts and how long its content claims to be.
struct RecordSpot {
  std::int64_t offset = 0;
  std::int32_t contentWords = 0;
};

std::string typeName(std::int32_t type) {
  switch (type) {
    case 11:
      return "PointZ";
    case 13:
      return "PolyLineZ";
    case 15:
      return "PolygonZ";
    case 18:
      return "MultiPointZ";
    case 21:
      return "PointM";
    case 23:
      return "PolyLineM";
    case 25:
      return "PolygonM";
    case 28:
      return "MultiPointM";
    case 31:
      return "MultiPatch";
    default:
      return shapeTypeName(type);
  }
}

bool readable(std::int32_t type) {
  return type == kel::kelPoint || type == kel::kelPolyLine || type == kel::kelPolygon ||
         type == kel::kelMultiPoint;
}

// Checks one 100-byte header; false when the file is too short to hold it.
bool checkHeader(Findings& f, const std::string& name, const Bytes& b,
                 kel::shp::ShapefileHeader& header) {
  if (b.size() < kel::shp::kHeaderBytes) {
    f.error(name, -1,
            "the file is " + std::to_string(b.size()) +
                " bytes long, shorter than its 100-byte header");
    return false;
  }
  kel::shp::ShapefileHeader::Bytes raw;
  std::copy_n(b.begin(), raw.size(), raw.begin());
  header = kel::shp::ShapefileHeader::decode(raw);
  if (header.fileCode != kel::shp::kFileCode) {
    f.error(name, 0, "file code is " + std::to_string(header.fileCode) + ", not 9994");
  }
  if (std::int64_t{header.fileLength} * 2 != static_cast<std::int64_t>(b.size())) {
    f.irregular(name, 24,
                "the header gives the file length as " + std::to_string(header.fileLength) +
                    " words, but the file has " + std::to_string(b.size()) + " bytes");
  }
  if (header.version != kel::shp::kVersion) {
    f.irregular(name, 28, "version is " + std::to_string(header.version) + ", not 1000");
  }
  return true;
}

std::vector<RecordSpot> checkMain(Findings& f, const std::string& name, const Bytes& b) {
  std::vector<RecordSpot> records;
  kel::shp::ShapefileHeader header;
  if (!checkHeader(f, name, b, header)) return records;
  std::int32_t fileType = header.shapeType;
  if (!readable(fileType)) {
    f.error(name, 32, "shape type " + typeName(fileType) + " is not one the library reads");
  }
  Extent all;
  std::int64_t at = kel::shp::kHeaderBytes;
  const auto size = static_cast<std::int64_t>(b.size());
  for (std::int32_t k = 1; at + kel::shp::kRecordHeaderBytes <= size; ++k) {
    std::string record = "record " + std::to_string(k);
    std::int32_t number = be32(b, at);
    std::int32_t words = be32(b, at + 4);
    if (number != k) f.irregular(name, at, record + " is numbered " + std::to_string(number));
    std::int64_t content = at + kel::shp::kRecordHeaderBytes;
    std::int64_t bytes = std::int64_t{words} * 2;
    if (words < 2 || content + bytes > size) {
      f.error(name, at,
              record + " claims " + std::to_string(bytes) + " bytes of content, but " +
                  std::to_string(size - content) + " remain");
      return records;
    }
    records.push_back({at, words});
    std::int32_t type = le32(b, content);
    if (type == kel::kelUndefined) {
      f.error(name, content, record + " is a null shape; reading stops there");
    } else if (type != fileType) {
      f.irregular(
          name, content,
          record + " has shape type " + typeName(type) + ", the header says " + typeName(fileType));
    }
    // The fields that the record's type lays out, and the extents of its points.
    std::int64_t need = 4;
    Extent points;
    std::int64_t pointsAt = 0, count = 0;
    if (type == kel::kelPoint && bytes >= 20) {
      need = 20, pointsAt = content + 4, count = 1;
    } else if ((type == kel::kelMultiPoint && bytes >= 40) ||
               ((type == kel::kelPolyLine || type == kel::kelPolygon) && bytes >= 44)) {
      bool poly = type != kel::kelMultiPoint;
      std::int64_t parts = poly ? le32(b, content + 36) : 0;
      count = le32(b, content + (poly ? 40 : 36));
      need = (poly ? 44 : 40) + 4 * parts + 16 * count;
      if (parts < 0 || count < 0) {
        f.error(name, content + 36, record + " has a negative count");
        need = bytes;
        count = 0;
      } else if (count > 32766 || parts > 32766) {
        f.error(name, content + 36, record + " has more than 32766 points or parts");
      } else if (poly && need <= bytes) {
        std::int64_t startsAt = content + 44;
        for (std::int64_t p = 0; p < parts; ++p) {
          std::int32_t start = le32(b, startsAt + 4 * p);
          std::int32_t previous = p > 0 ? le32(b, startsAt + 4 * (p - 1)) : -1;
          if ((p == 0 && start != 0) || start <= previous || start >= count) {
            f.irregular(name, startsAt + 4 * p,
                        record + ": part " + std::to_string(p + 1) + " starts at point " +
                            std::to_string(start));
          }
        }
      }
      pointsAt = content + (poly ? 44 + 4 * parts : 40);
    } else if (readable(type)) {
      need = type == kel::kelPoint ? 20 : type == kel::kelMultiPoint ? 40 : 44;
    }
    if (need > bytes) {
      f.error(name, at + 4,
              record + "'s fields need " + std::to_string(need) +
                  " bytes, its content length gives " + std::to_string(bytes));
    } else {
      if (need < bytes && readable(type)) {
        f.irregular(name, content + need,
                    record + " has " + std::to_string(bytes - need) + " bytes behind its fields");
      }
      for (std::int64_t i = 0; i < count; ++i) {
        points.add(f64(b, pointsAt + 16 * i), f64(b, pointsAt + 16 * i + 8));
      }
      if (type != kel::kelPoint && pointsAt > 0 && !points.empty()) {
        Extent box{f64(b, content + 4), f64(b, content + 12), f64(b, content + 20),
                   f64(b, content + 28)};
        if (!(box == points)) {
          f.irregular(name, content + 4,
                      record + "'s box " + box.text() + " differs from the extents of its points " +
                          points.text());
        }
      }
      if (!points.empty()) {
        all.add(points.xMin, points.yMin);
        all.add(points.xMax, points.yMax);
      }
    }
    at = content + bytes;
  }
  if (at < size) {
    f.irregular(name, at, std::to_string(size - at) + " bytes behind the last record");
  }
  Extent box{header.xMin, header.yMin, header.xMax, header.yMax};
  if (!all.empty() && !(box == all)) {
    f.irregular(name, 36,
                "the header's extents " + box.text() + " differ from the extents of the records " +
                    all.text());
  }
  return records;
}

void checkIndex(Findings& f, const std::string& name, const Bytes& b,
                const std::vector<RecordSpot>& records) {
  kel::shp::ShapefileHeader header;
  if (!checkHeader(f, name, b, header)) return;
  std::size_t entries = (b.size() - kel::shp::kHeaderBytes) / kel::shp::kIndexEntryBytes;
  std::size_t stray = (b.size() - kel::shp::kHeaderBytes) % kel::shp::kIndexEntryBytes;
  if (stray != 0) {
    f.irregular(name, static_cast<std::int64_t>(b.size() - stray),
                std::to_string(stray) + " bytes behind the last entry");
  }
  if (entries != records.size()) {
    f.error(name, -1,
            "the index has " + std::to_string(entries) + " entries, the main file " +
                std::to_string(records.size()) + " records");
  }
  for (std::size_t k = 0; k < std::min(entries, records.size()); ++k) {
    std::size_t at = kel::shp::kHeaderBytes + k * kel::shp::kIndexEntryBytes;
    std::int64_t offset = std::int64_t{be32(b, at)} * 2;
    std::int32_t words = be32(b, at + 4);
    if (offset != records[k].offset || words != records[k].contentWords) {
      f.irregular(name, static_cast<std::int64_t>(at),
                  "entry " + std::to_string(k + 1) + " points at byte " + std::to_string(offset) +
                      " with " + std::to_string(words) + " words, but record " +
                      std::to_string(k + 1) + " starts at byte " +
                      std::to_string(records[k].offset) + " with " +
                      std::to_string(records[k].contentWords));
    }
  }
}

void checkTable(Findings& f, const std::string& name, const Bytes& b, std::size_t shapes) {
  namespace dbf = kel::dbf;
  if (b.size() < dbf::kFileHeaderBytes + 1) {
    f.error(
        name, -1,
        "the file is " + std::to_string(b.size()) + " bytes long, too short for a table header");
    return;
  }
  std::int32_t records = le32(b, 4);
  if (records < 0 || static_cast<std::size_t>(records) != shapes) {
    f.error(name, 4,
            "the table holds " + std::to_string(records) + " records for " +
                std::to_string(shapes) + " shapes");
  }
  std::size_t at = dbf::kFileHeaderBytes;
  std::int64_t recordLength = 1;
  int columns = 0;
  for (; at < b.size() && b[at] != dbf::kHeaderTerminator; at += dbf::kDescriptorBytes) {
    if (at + dbf::kDescriptorBytes > b.size()) break;
    ++columns;
    std::string column = "column " + std::to_string(columns);
    char letter = static_cast<char>(b[at + 11]);
    if (letter != 'C' && letter != 'D' && letter != 'L' && letter != 'N') {
      f.irregular(
          name, static_cast<std::int64_t>(at + 11),
          column + " has the type letter '" + std::string(1, letter) + "', read as Character");
    }
    if (b[at + 16] == 0) {
      f.irregular(name, static_cast<std::int64_t>(at + 16),
                  column + " has width 0, so its values are empty");
    }
    recordLength += b[at + 16];
  }
  if (at >= b.size() || b[at] != dbf::kHeaderTerminator) {
    f.error(name, static_cast<std::int64_t>(at), "the field descriptors have no terminator");
    return;
  }
  std::size_t first = at + 1;
  if (le16(b, 8) != static_cast<std::int64_t>(first)) {
    f.irregular(name, 8,
                "the header length says " + std::to_string(le16(b, 8)) +
                    ", the descriptors end at byte " + std::to_string(first));
  }
  if (le16(b, 10) != recordLength) {
    f.irregular(name, 10,
                "the record length says " + std::to_string(le16(b, 10)) +
                    ", the columns add up to " + std::to_string(recordLength));
  }
  std::size_t count = records > 0 ? static_cast<std::size_t>(records) : 0;
  std::size_t end = first + count * static_cast<std::size_t>(recordLength);
  if (end > b.size()) {
    f.error(
        name, static_cast<std::int64_t>(b.size()),
        "the file ends before its last record, " + std::to_string(end - b.size()) + " bytes short");
  }
  for (std::size_t k = 0; k < count && first + (k + 1) * recordLength <= b.size(); ++k) {
    std::size_t flag = first + k * static_cast<std::size_t>(recordLength);
    if (b[flag] == '*') {
      f.irregular(name, static_cast<std::int64_t>(flag),
                  "record " + std::to_string(k + 1) + " is marked deleted");
    } else if (b[flag] != dbf::kNotDeleted) {
      f.irregular(
          name, static_cast<std::int64_t>(flag),
          "record " + std::to_string(k + 1) + " has the deletion flag " + std::to_string(b[flag]));
    }
  }
  if (end < b.size()) {
    if (b[end] != dbf::kEndOfFile || end + 1 < b.size()) {
      std::size_t behind = b.size() - end - (b[end] == dbf::kEndOfFile ? 1 : 0);
      f.irregular(name, static_cast<std::int64_t>(end),
                  std::to_string(behind) + " bytes behind the last record");
    }
  } else if (end == b.size()) {
    f.irregular(name, static_cast<std::int64_t>(end), "no end-of-file mark (0x1A)");
  }
}

}  // namespace

int runCheck(const Args& args) {
  if (wantsHelp(args)) return std::fputs(kUsage, stdout), 0;
  if (args.size() != 1) return std::fputs(kUsage, stderr), 2;
  ShapefilePath path = ShapefilePath::parse(args[0]);
  Bytes files[3];
  std::string names[3];
  const char* extensions[3] = {".shp", ".shx", ".dbf"};
  for (int i = 0; i < 3; ++i) {
    names[i] = path.file(extensions[i]);
    // The same letter-case-blind look-up as the library's.
    std::string native = kel::nativePath(kel::toUtf16(names[i]));
    if (kel::findFile(kel::toUtf16(names[i])).empty()) return fail(names[i] + ": no such file");
    std::ifstream in(native, std::ios::binary);
    if (!in) return fail(native + ": cannot be read");
    files[i].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  Findings findings;
  std::vector<RecordSpot> records = checkMain(findings, names[0], files[0]);
  checkIndex(findings, names[1], files[1], records);
  checkTable(findings, names[2], files[2], records.size());
  if (findings.errors() + findings.irregularities() == 0) {
    std::printf("%s: regular\n", visible(path.stem).c_str());
    return 0;
  }
  std::printf("%s: %d errors, %d irregularities\n", visible(path.stem).c_str(), findings.errors(),
              findings.irregularities());
  return 1;
}

}  // namespace kelshp

#include "kel/format/Validator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kel/format/MainFile.h"

namespace kel::format {

namespace {

std::string str(std::int64_t n) {
  return std::to_string(n);
}

std::string str(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// The extents of points; a NaN coordinate moves no bound.
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

class Validation {
 public:
  Validation(Layer& layer, Reporter& reporter) : layer_(layer), reporter_(reporter) {}

  void index();
  void records();
  void table();

 private:
  void irregular(const std::string& file, std::int64_t offset, std::int64_t record,
                 std::string sentence) {
    reporter_.report({Severity::Irregularity, file, offset, record, std::move(sentence)});
  }

  Layer& layer_;
  Reporter& reporter_;
};

// The index against a walk of the main file, entry by entry.
void Validation::index() {
  ShapeReader& r = layer_.shapes();
  const std::vector<std::uint32_t>& walk = r.walked();
  if (!r.indexHeader()) return;
  const std::string& shx = r.indexPath();
  const MainHeader& h = *r.indexHeader();
  std::int64_t size = r.indexSize();
  if (std::int64_t{h.fileLength} * 2 != size) {
    irregular(shx, kFileLengthAt, -1,
              "the header gives a length of " + str(std::int64_t{h.fileLength} * 2) +
                  " bytes; the file holds " + str(size));
  }
  if (h.version != kVersion) {
    irregular(shx, kVersionAt, -1, "the version is " + str(std::int64_t{h.version}) + ", not 1000");
  }
  std::int64_t stray = (size - kHeaderBytes) % kIndexEntryBytes;
  if (stray != 0) irregular(shx, size - stray, -1, str(stray) + " bytes follow the last entry");
  std::int64_t entries = r.indexEntryCount();
  auto records = static_cast<std::int64_t>(walk.size());
  if (entries != records) {
    irregular(shx, -1, -1,
              "the index holds " + str(entries) + " entries; walking the main file finds " +
                  str(records) + " records");
  }
  for (std::int64_t k = 0; k < std::min(entries, records); ++k) {
    auto offset = static_cast<std::uint32_t>(r.indexEntry(k).offset);
    auto found = walk[static_cast<std::size_t>(k)];
    if (offset != found) {
      irregular(shx, kHeaderBytes + kIndexEntryBytes * k, k,
                "the entry points at byte " + str(std::int64_t{offset} * 2) +
                    "; walking the main file finds the record at byte " +
                    str(std::int64_t{found} * 2));
    }
  }
}

void Validation::records() {
  ShapeReader& r = layer_.shapes();
  const std::string& shp = r.path();
  Extent all;
  ShapeView v;
  for (std::int64_t i = 0; i < r.count(); ++i) {
    if (!r.read(i, v)) continue;
    const ShapeReader::Place& place = r.place();
    std::int64_t content = place.offset + kRecordHeaderBytes;
    // Through the index, the reader compares the lengths itself.
    if (!r.indexed() && i < r.indexEntryCount()) {
      IndexEntry e = r.indexEntry(i);
      if (std::int64_t{static_cast<std::uint32_t>(e.offset)} * 2 == place.offset &&
          std::int64_t{e.contentLength} * 2 != place.contentLength) {
        irregular(r.indexPath(), kHeaderBytes + kIndexEntryBytes * i, i,
                  "the index gives a content length of " + str(std::int64_t{e.contentLength} * 2) +
                      " bytes; the record says " + str(place.contentLength));
      }
    }
    ShapeTypeTraits t = *traitsOf(static_cast<std::int32_t>(v.type));
    ContentLayout l = contentLayout(t, v.parts.size(), v.points.size());
    auto fields = static_cast<std::int64_t>(t.m && v.m.empty() ? l.m : l.end);
    if (place.contentLength > fields) {
      irregular(shp, content + fields, i,
                str(place.contentLength - fields) + " bytes follow the record's fields");
    }
    if (!v.parts.empty() && v.parts[0] != 0) {
      irregular(shp, content + static_cast<std::int64_t>(l.partStarts), i,
                "part 1 starts at point " + str(std::int64_t{v.parts[0]}) + ", not 0");
    }
    Extent points;
    for (const XY& p : v.points) points.add(p.x, p.y);
    if (points.empty()) continue;
    Extent box{v.box.xMin, v.box.yMin, v.box.xMax, v.box.yMax};
    if (t.geometry != Geometry::Point && !(box == points)) {
      irregular(
          shp, content + static_cast<std::int64_t>(l.box), i,
          "the box " + box.text() + " differs from the extents of its points " + points.text());
    }
    all.add(points.xMin, points.yMin);
    all.add(points.xMax, points.yMax);
  }
  const MainHeader& h = r.header();
  Extent header{h.xMin, h.yMin, h.xMax, h.yMax};
  if (!all.empty() && !(header == all)) {
    irregular(shp, kBoxAt, -1,
              "the header's extents " + header.text() + " differ from the extents of the records " +
                  all.text());
  }
}

void Validation::table() {
  TableReader* t = layer_.table();
  if (t == nullptr) return;
  const std::string& dbf = t->path();
  const DbfHeader& h = t->header();
  const std::vector<Column>& columns = t->columns();
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].descriptor.width == 0) {
      irregular(dbf, kDbfHeaderBytes + kDescriptorBytes * static_cast<std::int64_t>(k) + kWidthAt,
                -1,
                "column " + str(static_cast<std::int64_t>(k + 1)) +
                    " has width 0, so its values are empty");
    }
  }
  if (t->descriptorsEnd() >= 0 && h.headerLength != t->descriptorsEnd()) {
    irregular(dbf, kHeaderLengthAt, -1,
              "the header length is " + str(std::int64_t{h.headerLength}) +
                  "; the column descriptors end at byte " + str(t->descriptorsEnd()));
  }
  for (std::int64_t i = 0; i < t->count(); ++i) {
    RowView row = t->read(i);
    if (row.deleted) {
      irregular(dbf, h.headerLength + i * h.recordLength, i, "the row is marked deleted");
    }
    for (std::size_t c = 0; c < columns.size(); ++c) t->value(row, c);
  }
  // A file that ends before its last row has been told so by the reader.
  if (t->count() < h.recordCount) return;
  std::int64_t end = h.headerLength + t->count() * h.recordLength, size = t->fileSize();
  if (end == size) {
    irregular(dbf, end, -1, "the end-of-file mark (0x1A) is missing");
  } else if (end < size) {
    bool mark = t->byteAt(end) == kEndOfFileMark;
    std::int64_t behind = size - end - (mark ? 1 : 0);
    if (behind > 0) {
      irregular(dbf, end + (mark ? 1 : 0), -1,
                str(behind) + (mark ? " bytes follow the end-of-file mark"
                                    : " bytes follow the last row, where the end-of-file mark "
                                      "(0x1A) belongs"));
    }
  }
}

}  // namespace

void validate(Layer& layer, Reporter& reporter) {
  Validation v(layer, reporter);
  v.index();
  v.records();
  v.table();
}

}  // namespace kel::format

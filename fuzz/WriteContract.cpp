#include "fuzz/WriteContract.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "fuzz/Scratch.h"
#include "kel/runtime/CodePage.h"
#include "kel/runtime/Text.h"

namespace kel::fuzz {

namespace {

using Bits = std::uint64_t;
using BoxBits = std::array<Bits, 4>;  // xMin, yMin, xMax, yMax
using Fields = std::vector<std::pair<std::u16string, std::u16string>>;

constexpr std::int32_t kMaxCount = 32766;  // the most that a 16-bit counter walks to the end

Bits bitsOf(double v) {
  return std::bit_cast<Bits>(v);
}
std::optional<BoxBits> boxOf(const Ref<BoundingBox>& box) {
  if (!box) return std::nullopt;
  return BoxBits{bitsOf(box->get_xMin()), bitsOf(box->get_yMin()), bitsOf(box->get_xMax()),
                 bitsOf(box->get_yMax())};
}
bool isZero(const std::optional<BoxBits>& box) {
  return box && std::all_of(box->begin(), box->end(),
                            [](Bits b) { return std::bit_cast<double>(b) == 0.0; });
}
bool isPolyOrMulti(std::int32_t type) {
  return type == kelPolyLine || type == kelPolygon || type == kelMultiPoint;
}
bool hasRecords(std::int32_t type) {
  return type == kelPoint || isPolyOrMulti(type);
}
bool hasByte(char16_t c) {
  return ansiCodeOf(c) <= 0xFF;
}
// A character as it comes back from the table: through its byte.
char16_t throughByte(char16_t c) {
  return ansiToChar(static_cast<std::uint8_t>(ansiCodeOf(c)));
}

ShapeObject* asShape(const Variant& item) {
  return item.isObject() ? objectCast<ShapeObject>(item.object()) : nullptr;
}

// What a test can see of the object model, taken before a write and compared after it.
struct ShapeState {
  ShapeObject* shape = nullptr;  // null for an entry that is not a shape
  std::int32_t type = 0;
  std::vector<std::pair<Bits, Bits>> coords;
  std::vector<std::int32_t> parts;
  std::optional<BoxBits> box;
  bool hasRecord = false;
  Fields fields;
};
struct ColumnState {
  TableDescriptor* column = nullptr;
  std::u16string name;
  std::int32_t type = 0;
  std::uint8_t width = 0, precision = 0;
};
struct ModelState {
  std::int32_t type = 0;
  std::optional<BoxBits> box;
  std::vector<ShapeState> shapes;
  bool hasTable = false;
  std::vector<ColumnState> columns;
};

Fields fieldsOf(const Record& record) {
  Fields fields;
  for (const Variant& item : deref(record.get_Fields())) {
    const RecordField& field = item.deref<RecordField>();
    fields.emplace_back(field.name(), field.value());
  }
  return fields;
}

ShapeState stateOf(const Variant& item) {
  ShapeState s;
  s.shape = asShape(item);
  if (s.shape == nullptr) return s;
  s.type = s.shape->get_ShapeType();
  for (const Variant& c : deref(s.shape->get_Coordinates())) {
    const Coordinate& coordinate = c.deref<Coordinate>();
    s.coords.emplace_back(bitsOf(coordinate.get_X()), bitsOf(coordinate.get_Y()));
  }
  for (const Variant& p : deref(s.shape->get_Parts())) s.parts.push_back(p.toInt32());
  s.box = boxOf(s.shape->get_BoundingBox());
  s.hasRecord = s.shape->get_Record() != nullptr;
  if (s.hasRecord) s.fields = fieldsOf(*s.shape->get_Record());
  return s;
}

ModelState stateOf(const Shapefile& file) {
  ModelState m;
  m.type = file.get_ShapeType();
  m.box = boxOf(file.get_BoundingBox());
  for (const Variant& item : deref(file.get_ShapeObjects())) m.shapes.push_back(stateOf(item));
  Ref<TableDescription> table = file.get_TableDescription();
  m.hasTable = table != nullptr;
  if (m.hasTable) {
    for (const Variant& item : deref(table->get_TableDescriptors())) {
      TableDescriptor& c = item.deref<TableDescriptor>();
      m.columns.push_back({&c, c.name(), c.get_fieldType(), c.get_width(), c.get_precision()});
    }
  }
  return m;
}

// The value a record gives a column: its first field of exactly the column's name.
const std::u16string* exactValue(const Fields& fields, const std::u16string& name) {
  for (const auto& [n, v] : fields) {
    if (n == name) return &v;
  }
  return nullptr;
}

// Why the write of this model must fail, or empty text when nothing in it makes a write fail.
std::string documentedFailure(const ModelState& m) {
  if (!m.box) return "the shapefile has no BoundingBox";
  if (!m.hasTable) return "the shapefile has no TableDescription";
  for (const ShapeState& s : m.shapes) {
    if (s.shape == nullptr) return "an entry of the shape collection is not a ShapeObject";
  }
  if (m.shapes.size() > static_cast<std::size_t>(kMaxCount)) return "more than 32766 shapes";
  bool fileBoxUnset = isZero(m.box);
  if (fileBoxUnset && !m.shapes.empty() && m.shapes[0].coords.empty()) {
    return "the extents are unset and the first shape has no vertex";
  }
  for (const ShapeState& s : m.shapes) {
    if (m.type == kelPoint && s.coords.empty()) return "a shape of a Point file has no vertex";
    if (m.type != kelPoint && (fileBoxUnset || isPolyOrMulti(m.type)) &&
        s.coords.size() > static_cast<std::size_t>(kMaxCount)) {
      return "a shape of more than 32766 vertices";
    }
    if (!isPolyOrMulti(m.type)) continue;
    if (m.type != kelMultiPoint && s.parts.size() > static_cast<std::size_t>(kMaxCount)) {
      return "a shape of more than 32766 part starts";
    }
    if (!s.box) return "a shape has no BoundingBox";
    if (isZero(s.box) && s.type == kelPoint && s.coords.empty()) {
      return "a Point-typed shape without vertex has unset extents";
    }
  }
  if (m.columns.empty()) return "";  // the writer's one blank column, on blank records

  for (const ShapeState& s : m.shapes) {
    if (!s.hasRecord) return "a shape has no Record";
  }
  if (m.columns.size() > 1022) return "more than 1022 columns";
  std::int32_t recordLength = 1;
  for (const ColumnState& c : m.columns) {
    if (c.type < 0 || c.type > 0xFF) return "a column type outside 0 to 255";
    for (std::size_t k = 0; k < c.name.size() && k < 10; ++k) {
      if (!hasByte(c.name[k])) return "a column name holds a character without a byte";
    }
    std::size_t width = c.width;
    if (width == 0) {
      // Sized to the longest value; a record that has no value for it gets one blank.
      for (const ShapeState& s : m.shapes) {
        const std::u16string* v = exactValue(s.fields, c.name);
        width = std::max<std::size_t>(width, v != nullptr ? v->size() : 1);
      }
      if (width > 0xFF) return "a width-0 column's longest value is longer than 255";
    }
    recordLength += static_cast<std::int32_t>(width);
    if (recordLength > 32767) return "a record longer than 32767 bytes";
    for (const ShapeState& s : m.shapes) {
      const std::u16string* v = exactValue(s.fields, c.name);
      if (v == nullptr) continue;
      std::size_t placed = std::min(width, v->size());
      if (!std::all_of(v->end() - static_cast<std::ptrdiff_t>(placed), v->end(), hasByte)) {
        return "a written value holds a character without a byte";
      }
    }
  }
  return "";
}

// What a write may change: shape and file extents that were unset, blank fields added to records
// for the columns, widths of width-0 columns, and a table description without columns replaced by
// the one blank column.
std::string checkChanges(const ModelState& before, const ModelState& after) {
  if (after.type != before.type) return "the write changed the shape type";
  if (after.box != before.box && !isZero(before.box)) return "the write changed set extents";
  if (after.shapes.size() != before.shapes.size()) return "the write changed the shape count";
  for (std::size_t i = 0; i < before.shapes.size(); ++i) {
    const ShapeState& b = before.shapes[i];
    const ShapeState& a = after.shapes[i];
    if (a.shape != b.shape || a.type != b.type || a.coords != b.coords || a.parts != b.parts) {
      return "the write changed shape " + std::to_string(i + 1);
    }
    if (a.box != b.box && !isZero(b.box)) return "the write changed a shape's set extents";
    if (a.hasRecord != b.hasRecord || a.fields.size() < b.fields.size() ||
        !std::equal(b.fields.begin(), b.fields.end(), a.fields.begin())) {
      return "the write changed the fields of shape " + std::to_string(i + 1);
    }
    for (std::size_t k = b.fields.size(); k < a.fields.size(); ++k) {
      bool isColumn =
          std::any_of(before.columns.begin(), before.columns.end(),
                      [&](const ColumnState& c) { return c.name == a.fields[k].first; });
      if (a.fields[k].second != u" " || !isColumn) {
        return "the write added a field other than a blank one for a column";
      }
    }
  }
  if (before.columns.empty()) {
    bool untouched = after.hasTable == before.hasTable && after.columns.empty();
    bool blankColumn = after.columns.size() == 1 && after.columns[0].name == u" " &&
                       after.columns[0].type == kelFieldTypeCharacter &&
                       after.columns[0].width == 1 && after.columns[0].precision == 0;
    return untouched || blankColumn ? "" : "the write made columns other than the blank one";
  }
  if (after.columns.size() != before.columns.size()) return "the write changed the columns";
  for (std::size_t j = 0; j < before.columns.size(); ++j) {
    const ColumnState& b = before.columns[j];
    const ColumnState& a = after.columns[j];
    if (a.column != b.column || a.name != b.name || a.type != b.type ||
        a.precision != b.precision || (a.width != b.width && b.width != 0)) {
      return "the write changed column " + std::to_string(j + 1);
    }
  }
  return "";
}

// The index entries must point at their records, and both files be as long as their headers say.
std::string checkIndex(std::size_t shapes) {
  std::string shp = Scratch::instance().read("out.shp");
  std::string shx = Scratch::instance().read("out.shx");
  auto be32 = [](const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(s[at + k]);
    return static_cast<std::int32_t>(v);
  };
  if (shp.size() < 100 || shx.size() != 100 + 8 * shapes) return "the index file's size is wrong";
  if (be32(shp, 24) * std::int64_t{2} != static_cast<std::int64_t>(shp.size()) ||
      be32(shx, 24) * std::int64_t{2} != static_cast<std::int64_t>(shx.size())) {
    return "a header's file length differs from the file's size";
  }
  std::size_t at = 100;
  for (std::size_t k = 0; k < shapes; ++k) {
    if (at + 8 > shp.size() || be32(shx, 100 + 8 * k) * std::size_t{2} != at ||
        be32(shp, at) != static_cast<std::int32_t>(k + 1) ||
        be32(shx, 104 + 8 * k) != be32(shp, at + 4)) {
      return "index entry " + std::to_string(k + 1) + " misses its record";
    }
    at += 8 + 2 * static_cast<std::size_t>(be32(shp, at + 4));
  }
  return at == shp.size() ? "" : "bytes behind the last record";
}

// A column as the table file holds it and a read takes it back.
struct WrittenColumn {
  std::u16string modelName, readName;
  std::int32_t type;
  std::uint8_t width, precision;
};

std::vector<WrittenColumn> writtenColumns(const Shapefile& file) {
  std::vector<WrittenColumn> columns;
  for (const Variant& item : deref(file.get_TableDescription()->get_TableDescriptors())) {
    const TableDescriptor& c = item.deref<TableDescriptor>();
    const std::u16string& name = c.name();
    // Ten bytes of name: a zero byte is skipped, except in the first place, which always counts.
    std::u16string readName(1, name.empty() ? u'\0' : throughByte(name[0]));
    for (std::size_t k = 1; k < name.size() && k < 10; ++k) {
      if (ansiCodeOf(name[k]) != 0) readName += throughByte(name[k]);
    }
    auto letter = static_cast<std::uint8_t>(c.get_fieldType());
    bool known = letter == 'C' || letter == 'D' || letter == 'L' || letter == 'N';
    columns.push_back({name, readName,
                       known ? std::int32_t{letter} : std::int32_t{kelFieldTypeCharacter},
                       c.get_width(), c.get_precision()});
  }
  return columns;
}

// A value as its column's bytes hold it: right-aligned, blank-filled, its last characters kept.
std::u16string fieldBytes(const std::u16string& value, std::size_t width) {
  std::size_t placed = std::min(width, value.size());
  std::u16string bytes(width - placed, u' ');
  for (std::size_t k = value.size() - placed; k < value.size(); ++k) {
    bytes += throughByte(value[k]);
  }
  return bytes;
}

std::string compareReadBack(const Shapefile& written, bool hadColumns) {
  const std::int32_t type = written.get_ShapeType();
  const Collection& shapes = deref(written.get_ShapeObjects());
  const std::vector<WrittenColumn> columns = writtenColumns(written);
  for (const WrittenColumn& c : columns) {
    // A name that begins with the header terminator ends the column list early; the records are
    // then read out of step, which no contract describes.
    if (!c.modelName.empty() && c.modelName[0] == u'\r') return "";
  }
  bool expectRead = hasRecords(type) || shapes.count() == 0;

  auto back = makeRef<Shapefile>();
  long fds = openDescriptors();
  bool read = back->readShapefile(Scratch::instance().basePath(), u"out");
  if (openDescriptors() != fds) return "the read-back left a descriptor open";
  if (read != expectRead) {
    return read ? "the written files read back though they cannot"
                : "the written files do not read back";
  }
  if (!read) return "";
  if (hasRecords(type)) {
    if (std::string index = checkIndex(static_cast<std::size_t>(shapes.count())); !index.empty()) {
      return index;
    }
  }

  if (back->get_ShapeType() != type) return "the shape type did not read back";
  if (boxOf(back->get_BoundingBox()) != boxOf(written.get_BoundingBox())) {
    return "the whole-file extents did not read back";
  }
  const Collection& got = deref(back->get_ShapeObjects());
  if (got.count() != (hasRecords(type) ? shapes.count() : 0)) return "the shape count differs";
  for (std::int32_t i = 1; i <= got.count(); ++i) {
    const std::string where = "shape " + std::to_string(i) + ": ";
    ShapeState expected = stateOf(shapes.item(i));
    ShapeState actual = stateOf(got.item(i));
    if (actual.type != type) return where + "its type did not read back";
    if (type == kelPoint) expected.coords.resize(1);
    if (actual.coords != expected.coords) return where + "its vertices did not read back";
    std::vector<std::int32_t> parts{0};
    if (type == kelPolyLine || type == kelPolygon) {
      std::copy_if(expected.parts.begin(), expected.parts.end(), std::back_inserter(parts),
                   [](std::int32_t p) { return p != 0; });
    }
    if (actual.parts != parts) return where + "its part starts did not read back";
    BoxBits zero{};
    if (actual.box != (type == kelPoint ? zero : expected.box)) {
      return where + "its extents did not read back";
    }
    Fields fields;
    for (const WrittenColumn& c : columns) {
      bool repeated = std::any_of(fields.begin(), fields.end(),
                                  [&](const auto& f) { return f.first == c.readName; });
      if (repeated) continue;  // a record keeps the first field of a name
      const std::u16string* v = hadColumns ? exactValue(expected.fields, c.modelName) : nullptr;
      fields.emplace_back(c.readName,
                          fieldBytes(v != nullptr ? *v : (hadColumns ? u"" : u" "), c.width));
    }
    if (actual.fields != fields) return where + "its record did not read back";
  }

  std::vector<ColumnState> description;
  for (const WrittenColumn& c : columns) {
    if (std::none_of(description.begin(), description.end(),
                     [&](const ColumnState& d) { return d.name == c.readName; })) {
      description.push_back({nullptr, c.readName, c.type, c.width, c.precision});
    }
  }
  ModelState readState = stateOf(*back);
  if (readState.columns.size() != description.size()) return "the column count differs";
  for (std::size_t j = 0; j < description.size(); ++j) {
    const ColumnState& a = readState.columns[j];
    const ColumnState& e = description[j];
    if (a.name != e.name || a.type != e.type || a.width != e.width || a.precision != e.precision) {
      return "column " + std::to_string(j + 1) + " did not read back";
    }
  }
  return "";
}

}  // namespace

std::string writeAndCheck(Shapefile& file) {
  const ModelState before = stateOf(file);
  const std::string mustFail = documentedFailure(before);
  long fds = openDescriptors();
  bool written = file.writeShapefile(Scratch::instance().basePath(), u"out");
  if (openDescriptors() != fds) return "the write left a descriptor open";
  if (written && !mustFail.empty()) return "the write succeeded though " + mustFail;
  if (!written && mustFail.empty()) return "the write failed for no documented reason";
  if (std::string changes = checkChanges(before, stateOf(file)); !changes.empty()) return changes;
  return written ? compareReadBack(file, !before.columns.empty()) : "";
}

}  // namespace kel::fuzz

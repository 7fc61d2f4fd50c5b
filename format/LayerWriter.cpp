#include "kel/format/LayerWriter.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "kel/format/DbaseFile.h"
#include "kel/format/Encoding.h"
#include "kel/format/FieldWriting.h"
#include "kel/format/LayerFiles.h"
#include "kel/format/MainFile.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/LocalDate.h"
#include "kel/runtime/Text.h"
#include "kel/runtime/TextEncoder.h"

namespace kel::format {

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;
constexpr std::int64_t kMaxRecords = std::numeric_limits<std::int32_t>::max();

enum FileIndex { kShp, kShx, kDbf };

// Bytes gathered for a file. Unlike a vector's, the room it hands out is left uninitialised: the
// codecs fill it at once, and a zeroing pass would cost as much as the encoding.
class ByteBuffer {
 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const unsigned char* data() const noexcept { return data_.get(); }
  void clear() noexcept { size_ = 0; }
  void reserve(std::size_t n) {
    if (n > capacity_) grow(n);
  }
  // Room for n more bytes at the end, which the caller writes.
  unsigned char* extend(std::size_t n) {
    if (n > capacity_ - size_) grow(std::max(size_ + n, 2 * capacity_));
    unsigned char* at = data_.get() + size_;
    size_ += n;
    return at;
  }
  void append(const void* bytes, std::size_t n) {
    if (n > 0) std::memcpy(extend(n), bytes, n);
  }

 private:
  void grow(std::size_t capacity) {
    std::unique_ptr<unsigned char[]> bigger(new unsigned char[capacity]);
    if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
  }
  std::unique_ptr<unsigned char[]> data_;
  std::size_t size_ = 0, capacity_ = 0;
};

// A file written front to back through a buffer; its header is written last, in place.
struct Sink {
  std::size_t member = 0;
  std::uint64_t flushed = 0;  // bytes before the buffer's, the header's room included
  ByteBuffer buffer;
  std::uint64_t size() const noexcept { return flushed + buffer.size(); }
};

struct Span {
  bool any = false;
  double min = 0, max = 0;
  void add(double v) noexcept {
    min = any ? std::min(min, v) : v;
    max = any ? std::max(max, v) : v;
    any = true;
  }
};

std::string str(std::uint64_t n) {
  return std::to_string(n);
}

// The shortest text that reads back as the same double.
std::string number(double v) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

bool isPoly(Geometry g) {
  return g == Geometry::PolyLine || g == Geometry::Polygon || g == Geometry::MultiPatch;
}

// Why the shape cannot go into a layer of the type; none when it can.
std::optional<std::string> unwritableShape(const ShapeView& v, ShapeType layerType) {
  if (v.type == ShapeType::Null) {
    if (!v.points.empty() || !v.parts.empty() || !v.partTypes.empty() || !v.z.empty() ||
        !v.m.empty()) {
      return "a Null shape has no points, parts or values";
    }
    return std::nullopt;
  }
  ShapeTypeTraits layer = *traitsOf(static_cast<std::int32_t>(layerType));
  if (v.type != layerType) {
    std::optional<ShapeTypeTraits> t = traitsOf(static_cast<std::int32_t>(v.type));
    std::string name = t ? std::string(t->name) : "type " + std::to_string(int(v.type));
    return "a " + name + " shape cannot go into a " + std::string(layer.name) + " layer";
  }
  std::string name(layer.name);
  std::size_t n = v.points.size(), p = v.parts.size();
  if (layer.geometry == Geometry::Point && n != 1) {
    return "a " + name + " shape has one point; this one has " + str(n);
  }
  if (layer.z && v.z.size() != n) {
    return "a " + name + " shape has a Z value a point; this one has " + str(v.z.size()) + " for " +
           str(n) + " points";
  }
  if (!layer.z && !v.z.empty()) return "a " + name + " shape has no Z values";
  if (!v.m.empty() && (!layer.m || v.m.size() != n)) {
    return layer.m ? "the shape has " + str(v.m.size()) + " M values for " + str(n) + " points"
                   : "a " + name + " shape has no M values";
  }
  if (isPoly(layer.geometry)) {
    if (n > 0 && p == 0) return "the shape has points but no parts";
    if (n == 0 && p > 0) return "the shape has parts but no points";
    for (std::size_t i = 0; i < p; ++i) {
      std::int32_t start = v.parts[i];
      if (i == 0 && start != 0) {
        return "the first part starts at point " + std::to_string(start) + ", not 0";
      }
      if (i > 0 && (start <= v.parts[i - 1] || static_cast<std::uint64_t>(start) >= n)) {
        return "part " + str(i + 1) + " starts at point " + std::to_string(start) +
               ", not after the part before it and within the " + str(n) + " points";
      }
    }
  } else if (p > 0) {
    return "a " + name + " shape has no parts";
  }
  if (layer.geometry == Geometry::MultiPatch) {
    if (v.partTypes.size() != p) {
      return "the shape has " + str(v.partTypes.size()) + " part types for " + str(p) + " parts";
    }
    for (std::size_t i = 0; i < p; ++i) {
      if (v.partTypes[i] < 0 || v.partTypes[i] > 5) {
        return "part " + str(i + 1) + " has part type " + std::to_string(v.partTypes[i]) +
               ", none of 0 to 5";
      }
    }
  } else if (!v.partTypes.empty()) {
    return "only a MultiPatch shape has part types";
  }
  return std::nullopt;
}

// The least and greatest of values, and whether all of them are finite, in one pass without a
// branch a value, which the compiler keeps in vector registers: it is the writer's one walk of
// the coordinates before the copy into the file's buffer. Nothing when there are no values.
struct Extent {
  bool any = false, finite = true;
  double min = 0, max = 0;
};

constexpr std::uint64_t kExponent = 0x7FF0000000000000;  // all ones: NaN or infinite

// The greatest exponent field seen: kExponent when a value is NaN or infinite.
inline std::uint64_t exponentOf(double v) {
  return std::bit_cast<std::uint64_t>(v) & kExponent;
}

Extent extentOf(std::span<const double> values) {
  if (values.empty()) return {};
  double lo = values[0], hi = lo;
  std::uint64_t exponent = 0;
  for (double v : values) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    exponent = std::max(exponent, exponentOf(v));
  }
  return {true, exponent != kExponent, lo, hi};
}

// The same for X and Y together, both in one vector register where the compiler has them.
std::pair<Extent, Extent> extentOf(std::span<const XY> points) {
  if (points.empty()) return {};
#if defined(__GNUC__)
  using Pair = double __attribute__((vector_size(16)));
  using Mask = std::int64_t __attribute__((vector_size(16)));
  static_assert(sizeof(XY) == sizeof(Pair));
  Pair lo, hi;
  std::memcpy(&lo, points.data(), sizeof lo);
  hi = lo;
  Mask unordered = {0, 0};
  for (const XY& p : points) {
    Pair c;
    std::memcpy(&c, &p, sizeof c);
    lo = c < lo ? c : lo;
    hi = c > hi ? c : hi;
    unordered |= c != c;  // NaN: the comparisons above leave it out
  }
  const double xLo = lo[0], yLo = lo[1], xHi = hi[0], yHi = hi[1];
  bool finite = (unordered[0] | unordered[1]) == 0;
#else
  double xLo = points[0].x, xHi = xLo, yLo = points[0].y, yHi = yLo;
  bool finite = true;
  for (const XY& p : points) {
    xLo = std::min(xLo, p.x), xHi = std::max(xHi, p.x);
    yLo = std::min(yLo, p.y), yHi = std::max(yHi, p.y);
    finite = finite && p.x == p.x && p.y == p.y;
  }
#endif
  finite = finite && std::isfinite(xLo) && std::isfinite(xHi) && std::isfinite(yLo) &&
           std::isfinite(yHi);
  return {{true, finite, xLo, xHi}, {true, finite, yLo, yHi}};
}

// Why a shape whose extents found a value that is not finite cannot be written: which point and
// which value.
std::string nonFinite(const ShapeView& v) {
  std::size_t n = v.points.size();
  auto at = [&](std::size_t i, const char* what) {
    return "point " + str(i + 1) + " of " + str(n) + " has a NaN or infinite " + what;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v.points[i].x) || !std::isfinite(v.points[i].y)) return at(i, "X or Y");
  }
  for (std::size_t i = 0; i < v.z.size(); ++i) {
    if (!std::isfinite(v.z[i])) return at(i, "Z");
  }
  for (std::size_t i = 0; i < v.m.size(); ++i) {
    if (!std::isfinite(v.m[i])) return at(i, "M (no measure is a value below -1e38)");
  }
  return "a value is NaN or infinite";
}

}  // namespace

WriteError::WriteError(Finding finding, std::int64_t column)
    : std::runtime_error(describe(finding)), finding_(std::move(finding)), column_(column) {}

struct LayerWriter::State {
  LayerFiles layerFiles;  // the base path and the extensions' letter case
  ShapeType type = ShapeType::Null;
  ShapeTypeTraits traits{};
  WriteOptions options;
  std::string encoding;
  std::unique_ptr<TextEncoder> encoder;  // null for a table of rows as bytes
  std::vector<FieldDescriptor> columns;
  std::vector<std::string> names;
  std::uint16_t headerLength = 0, recordLength = 1;
  std::uint8_t languageDriver = 0;
  std::optional<std::string> codePage;  // the .cpg file's text; none: no .cpg file

  AtomicFileSet files;
  // For an append: the old layer's ends, where its files are added to, and its table's header.
  std::optional<std::array<std::uint64_t, 3>> appendAt;
  std::array<unsigned char, kDbfHeaderBytes> oldTableHeader{};
  Sink sinks[3];
  std::string paths[3];
  std::int64_t count = 0;
  Placed placed;
  Span x, y, z, m;
  Span allM;  // "no measure" counted, for the ranges kept
  enum class Status { Open, Failed, Closed } status = Status::Open;
  std::string failure;

  // Reused from record to record.
  std::vector<XY> points;
  std::vector<double> noMeasures;
  std::string row, field;

  std::string path(std::string_view ext) const { return layerFiles.path(ext); }

  [[noreturn]] void refuse(FileIndex file, std::int64_t record, std::string sentence,
                           std::int64_t column = -1) const {
    Finding f;
    f.file = paths[file];
    f.offset = static_cast<std::int64_t>(sinks[file].size());
    f.record = record;
    f.sentence = std::move(sentence);
    throw WriteError(std::move(f), column);
  }

  void usable() const {
    if (status == Status::Open) return;
    Finding f;
    f.file = paths[kShp];
    f.sentence = status == Status::Closed ? "the layer is closed"
                                          : "the writer stopped at an earlier failure: " + failure;
    throw WriteError(std::move(f));
  }

  // Runs a step that writes; a failure of the system ends the writer.
  template <class F>
  void writing(std::size_t file, F&& step) {
    try {
      step();
    } catch (const Error& e) {
      status = Status::Failed;
      Finding f;
      f.file = file < 3 ? paths[file] : layerFiles.base;
      f.sentence = toUtf8(e.description());
      failure = describe(f);
      files.abandon();
      throw WriteError(std::move(f));
    } catch (...) {
      status = Status::Failed;
      failure = "an exception left the writer";
      files.abandon();
      throw;
    }
  }

  void flush(Sink& sink) {
    if (sink.buffer.empty()) return;
    files.write(sink.member, static_cast<std::int64_t>(sink.flushed), sink.buffer.data(),
                sink.buffer.size());
    sink.flushed += sink.buffer.size();
    sink.buffer.clear();
  }
  // Writes the buffer out first when `more` bytes would not fit in it: a buffer grows past its
  // size only for a record larger than it.
  void makeRoom(Sink& sink, std::uint64_t more) {
    if (sink.buffer.size() + more > kBufferBytes) flush(sink);
  }

  void start(std::string_view path, ShapeType type, const WriteOptions& options, bool values);
  [[noreturn]] void refuseColumn(std::size_t i, const std::string& name,
                                 const std::string& sentence) const;
  [[noreturn]] void refuseColumnCount(std::size_t n, const std::string& nameOfFirstBeyond) const;
  void takeColumn(std::size_t i, const FieldDescriptor& d, const std::string& name);
  void checkColumns(std::span<const ColumnDefinition> definitions);
  void openForAppend(std::span<const ColumnDefinition> definitions);
  void createFiles();
  // Adds the shape and the row that makeRow(index) puts in `row`, or refuses.
  template <class MakeRow>
  void add(const ShapeView& shape, MakeRow&& makeRow);
  void valueRow(std::int64_t index, std::span<const Value> values);
  void bytesRow(std::int64_t index, const RowView& given);
  Range kept(Range given, Range computed, std::optional<Range> counted, const std::string& what,
             std::int64_t record) const;
  MainHeader mainHeader() const;
};

// The range given when it is the computed one or, where "no measure" may count, the one counting
// it; the computed one otherwise, which the reporter hears of.
Range LayerWriter::State::kept(Range given, Range computed, std::optional<Range> counted,
                               const std::string& what, std::int64_t record) const {
  auto same = [&](Range r) { return given.min == r.min && given.max == r.max; };
  if (same(computed) || (counted && same(*counted))) return given;
  if (options.reporter != nullptr) {
    options.reporter->report({Severity::Irregularity, paths[kShp], record < 0 ? kRangesAt : -1,
                              record,
                              what + " " + number(given.min) + " to " + number(given.max) +
                                  " is not what the values make; " + number(computed.min) + " to " +
                                  number(computed.max) + " is written"});
  }
  return computed;
}

void LayerWriter::State::refuseColumn(std::size_t i, const std::string& name,
                                      const std::string& sentence) const {
  Finding f;
  f.file = paths[kDbf];
  f.offset = kDbfHeaderBytes + kDescriptorBytes * static_cast<std::int64_t>(i);
  f.sentence = "column " + str(i + 1) + " (" + shown(name) + "): " + sentence;
  throw WriteError(std::move(f), static_cast<std::int64_t>(i));
}

void LayerWriter::State::refuseColumnCount(std::size_t n,
                                           const std::string& nameOfFirstBeyond) const {
  refuseColumn(kMaxColumns, nameOfFirstBeyond,
               "a table's header describes at most 2,046 columns; " + str(n) + " were given");
}

// Takes column i as the table's next, unless the row would be too long with it.
void LayerWriter::State::takeColumn(std::size_t i, const FieldDescriptor& d,
                                    const std::string& name) {
  std::size_t length = recordLength + std::size_t{d.width};
  if (length > kMaxRowBytes) {
    refuseColumn(i, name, "the row would take " + str(length) + " bytes; a row holds 65,535");
  }
  recordLength = static_cast<std::uint16_t>(length);
  columns.push_back(d);
  names.push_back(name);
}

void LayerWriter::State::checkColumns(std::span<const ColumnDefinition> definitions) {
  if (definitions.size() > kMaxColumns) {
    refuseColumnCount(definitions.size(), definitions[kMaxColumns].name);
  }
  std::set<std::u16string> seen;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const ColumnDefinition& definition = definitions[i];
    auto refuse = [&](const std::string& sentence) { refuseColumn(i, definition.name, sentence); };
    FieldDescriptor d;
    d.type = static_cast<std::uint8_t>(definition.type);
    d.width = definition.width;
    d.decimals = definition.decimals;
    if (definition.name.empty()) refuse("a column needs a name");
    if (definition.name.find('\0') != std::string::npos) refuse("the name holds a NUL");
    std::string bytes;
    TextEncoder::Result r = encoder->encode(definition.name, bytes, kMaxNameBytes);
    if (r.stop == TextEncoder::Stop::Full) {
      bytes.clear();
      r = encoder->encode(definition.name, bytes);
      if (r.stop == TextEncoder::Stop::End) {
        refuse("the name takes " + str(bytes.size()) + " bytes in " + encoding +
               "; a name holds 10");
      }
    }
    if (r.stop == TextEncoder::Stop::IllFormed) refuse("the name is no UTF-8");
    if (r.stop == TextEncoder::Stop::NoSuchCharacter) {
      refuse("the name has a character that " + encoding + " cannot hold");
    }
    std::copy(bytes.begin(), bytes.end(), d.name.begin());
    if (auto why = unwritableColumn(d)) refuse(*why);
    if (!seen.insert(upperCase(toUtf16(definition.name))).second) {
      refuse("another column has the same name, letter case ignored");
    }
    takeColumn(i, d, definition.name);
  }
}

// The header of the main and the index file, but for their lengths.
MainHeader LayerWriter::State::mainHeader() const {
  MainHeader h;
  h.fileCode = kFileCode;
  h.version = kVersion;
  h.shapeType = static_cast<std::int32_t>(type);
  if (x.any) {
    h.xMin = x.min;
    h.yMin = y.min;
    h.xMax = x.max;
    h.yMax = y.max;
  }
  if (z.any) {
    h.zMin = z.min;
    h.zMax = z.max;
  }
  if (m.any) {
    h.mMin = m.min;
    h.mMax = m.max;
  }
  if (options.keepRanges) {
    Range zr =
        kept(options.keepRanges->z, {h.zMin, h.zMax}, std::nullopt, "the header's Z range", -1);
    Range mr = kept(options.keepRanges->m, {h.mMin, h.mMax}, Range{allM.min, allM.max},
                    "the header's M range", -1);
    h.zMin = zr.min, h.zMax = zr.max, h.mMin = mr.min, h.mMax = mr.max;
  }
  return h;
}

namespace {

[[noreturn]] void refuseFile(std::string file, std::string sentence) {
  Finding f;
  f.file = std::move(file);
  f.sentence = std::move(sentence);
  throw WriteError(std::move(f));
}

}  // namespace

// The paths, the type and the options; the encoder of the values when the rows are values.
void LayerWriter::State::start(std::string_view where, ShapeType layerType,
                               const WriteOptions& given, bool values) {
  std::string p(where);
  if (std::size_t nul = p.find('\0'); nul != std::string::npos) {
    refuseFile(p.substr(0, nul), "the path holds a NUL character");
  }
  layerFiles = LayerFiles::of(p);
  const std::string& base = layerFiles.base;
  char last = base.empty() ? '/' : base.back();
#ifdef _WIN32
  if (last == '\\' || last == ':') last = '/';
#endif
  if (last == '/') refuseFile(p, "the path names no file");
  paths[kShp] = path(".shp");
  paths[kShx] = path(".shx");
  paths[kDbf] = path(".dbf");
  std::optional<ShapeTypeTraits> t = traitsOf(static_cast<std::int32_t>(layerType));
  if (!t) refuseFile(paths[kShp], "shape type " + std::to_string(int(layerType)) + " is no type");
  type = layerType;
  traits = *t;
  options = given;
  if (values) {
    encoding = encodingOfCodePageFile(options.encoding);
    encoder = TextEncoder::open(encoding);
    if (!encoder) refuseFile(paths[kDbf], "no encoding is named " + shown(options.encoding));
    if (!extendsAscii(encoding)) {
      refuseFile(paths[kDbf], "the encoding " + shown(options.encoding) +
                                  " does not write ASCII as ASCII, as a table's headers are");
    }
    languageDriver = languageDriverOf(encoding);
    codePage = codePageFileWord(encoding);
  }
  if (options.maxFileBytes > kFourGigabytes) {
    refuseFile(paths[kShp], "a file holds at most 4 GB (" + str(kFourGigabytes) + " bytes)");
  }
}

// Takes the columns, the encoding, the count and the extents of the layer to add to, once its
// type and columns are the ones given and its files end where its headers say.
void LayerWriter::State::openForAppend(std::span<const ColumnDefinition> definitions) {
  FirstErrorReporter heard;
  std::unique_ptr<Layer> layer = Layer::open(paths[kShp], heard);
  if (!layer || heard.error) {
    refuseFile(heard.error ? heard.error->file : paths[kShp],
               std::string(layer ? "records are added only to a sound layer: "
                                 : "there is no layer to add to: ") +
                   (heard.error ? heard.error->sentence : "it cannot be read"));
  }
  ShapeReader& shapes = layer->shapes();
  if (layer->shapeType() != type) {
    std::optional<ShapeTypeTraits> t = traitsOf(shapes.header().shapeType);
    refuseFile(shapes.path(), "the layer holds " + (t ? std::string(t->name) : "unknown") +
                                  " shapes; these are " + std::string(traits.name));
  }
  TableReader* table = layer->table();
  if (table == nullptr) refuseFile(paths[kDbf], "the layer has no table to add rows to");
  paths[kShp] = shapes.path();
  paths[kShx] = shapes.indexPath();
  paths[kDbf] = table->path();
  const std::vector<Column>& old = table->columns();
  if (definitions.size() != old.size()) {
    refuseFile(paths[kDbf], "the layer has " + str(old.size()) + " columns; " +
                                str(definitions.size()) + " were given");
  }
  for (std::size_t i = 0; i < old.size(); ++i) {
    if (upperCase(toUtf16(definitions[i].name)) != upperCase(toUtf16(old[i].name)) ||
        definitions[i].type != static_cast<char>(old[i].descriptor.type)) {
      refuseColumn(i, definitions[i].name,
                   "the layer's column " + str(i + 1) + " is " + shown(old[i].name) + " of type " +
                       std::string(1, static_cast<char>(old[i].descriptor.type)));
    }
    columns.push_back(old[i].descriptor);
    names.push_back(old[i].name);
  }
  encoding = encodingOfCodePageFile(layer->encoding());
  encoder = TextEncoder::open(encoding);
  if (!encoder) refuseFile(paths[kDbf], "the layer's encoding " + encoding + " cannot be written");
  const DbfHeader& t = table->header();
  const std::int64_t n = shapes.count();
  const std::uint64_t rowsEnd = t.headerLength + std::uint64_t{t.recordLength} * t.recordCount;
  const MainHeader& h = shapes.header();
  const std::uint64_t shpEnd = 2 * static_cast<std::uint64_t>(std::uint32_t(h.fileLength));
  // The new records go where the old ones end, as the headers and the last index entry say.
  bool sound = shapes.indexed() && shapes.indexSize() == kHeaderBytes + kIndexEntryBytes * n &&
               t.recordCount == static_cast<std::uint64_t>(n) && table->count() == n;
  if (sound && n > 0) {
    IndexEntry last = shapes.indexEntry(n - 1);
    sound = 2 * (std::uint64_t(std::uint32_t(last.offset)) +
                 std::uint64_t(std::uint32_t(last.contentLength))) +
                kRecordHeaderBytes ==
            shpEnd;
  } else if (sound) {
    sound = shpEnd == kHeaderBytes;
  }
  if (!sound) {
    refuseFile(paths[kShp],
               "the layer's files do not end where their headers say, or count other numbers of "
               "records ('kelshp check' tells more); records are added only to a sound layer");
  }
  appendAt = {shpEnd, static_cast<std::uint64_t>(shapes.indexSize()), rowsEnd};
  headerLength = t.headerLength;
  recordLength = t.recordLength;
  unsigned char bytes[kDbfHeaderBytes];
  t.encode(bytes);
  std::copy(std::begin(bytes), std::end(bytes), oldTableHeader.begin());
  count = n;
  if (n > 0) {
    x.add(h.xMin), x.add(h.xMax), y.add(h.yMin), y.add(h.yMax);
    if (traits.z) z.add(h.zMin), z.add(h.zMax);
    if (traits.m) m.add(h.mMin), m.add(h.mMax);
  }
}

// Lays out the table's header for the columns taken, and creates the files.
void LayerWriter::State::createFiles() {
  if (appendAt) {
    writing(3, [&] {
      files.keepRecord(AtomicFileSet::recordFor(layerFiles.base));
      const std::size_t headers[3] = {kHeaderBytes, kHeaderBytes, kDbfHeaderBytes};
      for (FileIndex i : {kShp, kShx, kDbf}) {
        sinks[i].member =
            files.extend(paths[i], static_cast<std::int64_t>((*appendAt)[i]), headers[i]);
        sinks[i].flushed = (*appendAt)[i];
        sinks[i].buffer.reserve(kBufferBytes);
      }
    });
    return;
  }
  headerLength =
      static_cast<std::uint16_t>(kDbfHeaderBytes + kDescriptorBytes * columns.size() + 1);
  if (columns.size() > kOldReadersColumns && options.reporter != nullptr) {
    options.reporter->report({Severity::Irregularity, paths[kDbf], -1, -1,
                              "the table has " + str(columns.size()) +
                                  " columns; older dBASE readers read no more than 255"});
  }
  if (std::max<std::uint64_t>(kHeaderBytes, headerLength + 1u) > options.maxFileBytes) {
    refuseFile(paths[kDbf], "the headers alone take more than " + str(options.maxFileBytes) +
                                " bytes, the most a file may hold");
  }
  writing(3, [&] {
    files.keepRecord(AtomicFileSet::recordFor(layerFiles.base));
    for (FileIndex i : {kShp, kShx, kDbf}) {
      sinks[i].member = files.add(paths[i]);
      sinks[i].buffer.reserve(kBufferBytes);
    }
    sinks[kShp].flushed = sinks[kShx].flushed = kHeaderBytes;
    sinks[kDbf].flushed = headerLength;
    if (codePage) {
      std::size_t member = files.add(path(".cpg"));
      files.write(member, 0, codePage->data(), codePage->size());
    }
    if (options.projection) {
      std::size_t member = files.add(path(".prj"));
      files.write(member, 0, options.projection->data(), options.projection->size());
    }
  });
}

LayerDefinition definitionOf(const Layer& layer) {
  LayerDefinition d;
  d.type = layer.shapeType();
  if (const TableReader* table = layer.table()) {
    for (const Column& c : table->columns()) {
      d.columns.push_back({c.name, static_cast<char>(c.descriptor.type), c.descriptor.width,
                           c.descriptor.decimals});
    }
  }
  d.options.encoding = layer.encoding();
  d.options.projection = layer.projection();
  return d;
}

LayerWriter::LayerWriter(std::string_view path, ShapeType type,
                         std::span<const ColumnDefinition> columns, const WriteOptions& options)
    : state_(std::make_unique<State>()) {
  state_->start(path, type, options, true);
  if (options.append) {
    state_->openForAppend(columns);
  } else {
    state_->checkColumns(columns);
  }
  state_->createFiles();
}

LayerWriter::LayerWriter(std::string_view path, ShapeType type, const TableLayout& table,
                         const WriteOptions& options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  if (options.append) {
    refuseFile(std::string(path), "records are added with rows of values, not of bytes");
  }
  s.start(path, type, options, false);
  auto nameOf = [](const FieldDescriptor& d) { return std::string(d.nameBytes()); };
  if (table.columns.size() > kMaxColumns) {
    s.refuseColumnCount(table.columns.size(), nameOf(table.columns[kMaxColumns]));
  }
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    s.takeColumn(i, table.columns[i], nameOf(table.columns[i]));
  }
  s.languageDriver = table.languageDriver;
  s.codePage = table.codePage;
  s.createFiles();
}

LayerWriter::~LayerWriter() = default;

const LayerWriter::Placed& LayerWriter::lastPlaced() const noexcept {
  return state_->placed;
}

std::int64_t LayerWriter::count() const noexcept {
  return state_->count;
}

const std::string& LayerWriter::basePath() const noexcept {
  return state_->layerFiles.base;
}

template <class MakeRow>
void LayerWriter::State::add(const ShapeView& shape, MakeRow&& makeRow) {
  usable();
  const std::int64_t index = count;
  if (index == kMaxRecords) refuse(kShp, index, "a layer holds at most 2^31 - 1 records");
  if (auto why = unwritableShape(shape, type)) refuse(kShp, index, *why);

  // The shape as it is written: "no measure" where an M type is given no M values, its box and
  // ranges from its arrays, or as given where they are kept.
  ShapeView v = shape;
  if (v.type != ShapeType::Null && traits.m && !traits.z && v.m.empty()) {
    noMeasures.assign(v.points.size(), kNoMeasure);
    v.m = noMeasures;
  }
  const auto [bx, by] = extentOf(v.points);
  const Extent bz = extentOf(v.z);
  const Extent bmAll = extentOf(v.m);
  if (!(bx.finite && by.finite && bz.finite && bmAll.finite)) refuse(kShp, index, nonFinite(v));
  Span bm;  // the measures, leaving out "no measure"
  if (bmAll.any && bmAll.min >= kNoMeasureBelow) {
    bm = {true, bmAll.min, bmAll.max};
  } else {
    for (double value : v.m) {
      if (value >= kNoMeasureBelow) bm.add(value);
    }
  }
  v.box = {bx.min, by.min, bx.max, by.max};
  v.zRange = {bz.min, bz.max};
  v.mRange = {bm.min, bm.max};
  const std::uint64_t content = encodedSize(v);
  const std::uint64_t limit = options.maxFileBytes;
  auto past = [&](FileIndex file, std::uint64_t more) {
    if (sinks[file].size() + more <= limit) return;
    refuse(file, index,
           "the record would take the file past " + str(limit) + " bytes, the most it may hold");
  };
  past(kShp, kRecordHeaderBytes + content);
  past(kShx, kIndexEntryBytes);

  makeRow(index);
  past(kDbf, recordLength + 1u);  // the row and the end mark

  if (options.keepRanges && v.type != ShapeType::Null && traits.geometry != Geometry::Point) {
    v.zRange = kept(shape.zRange, v.zRange, std::nullopt, "the record's Z range", index);
    v.mRange =
        kept(shape.mRange, v.mRange, Range{bmAll.min, bmAll.max}, "the record's M range", index);
  }

  writing(kShp, [&] {
    Sink& shp = sinks[kShp];
    makeRoom(shp, kRecordHeaderBytes + content);
    makeRoom(sinks[kShx], kIndexEntryBytes);
    makeRoom(sinks[kDbf], row.size());
    const std::uint64_t offset = shp.size();
    placed = {static_cast<std::int64_t>(offset), static_cast<std::int64_t>(content)};
    const auto words = static_cast<std::int32_t>(content / 2);
    unsigned char* record = shp.buffer.extend(kRecordHeaderBytes + content);
    RecordHeader{static_cast<std::int32_t>(index + 1), words}.encode(record);
    encodeShape(v, record + kRecordHeaderBytes);
    IndexEntry{static_cast<std::int32_t>(offset / 2), words}.encode(
        sinks[kShx].buffer.extend(kIndexEntryBytes));
    sinks[kDbf].buffer.append(row.data(), row.size());
  });
  if (bx.any) x.add(bx.min), x.add(bx.max), y.add(by.min), y.add(by.max);
  if (bz.any) z.add(bz.min), z.add(bz.max);
  if (bm.any) m.add(bm.min), m.add(bm.max);
  if (bmAll.any) allM.add(bmAll.min), allM.add(bmAll.max);
  ++count;
}

void LayerWriter::State::valueRow(std::int64_t index, std::span<const Value> values) {
  if (!encoder) refuse(kDbf, index, "this table takes rows as bytes, not as values");
  if (values.size() != columns.size()) {
    refuse(kDbf, index,
           "the row has " + str(values.size()) + " values for " + str(columns.size()) + " columns");
  }
  row.assign(1, static_cast<char>(kNotDeleted));
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (auto why = encodeField(columns[c], values[c], *encoder, options.cut, field)) {
      refuse(kDbf, index,
             "column " + shown(names[c]) + " (" + str(c + 1) + " of " + str(columns.size()) +
                 "): " + *why,
             static_cast<std::int64_t>(c));
    }
    row += field;
  }
}

void LayerWriter::State::bytesRow(std::int64_t index, const RowView& given) {
  if (encoder) refuse(kDbf, index, "this table takes rows as values, not as bytes");
  const std::size_t fields = recordLength - 1u;
  if (!given.bytes.empty() && given.bytes.size() < fields) {
    refuse(kDbf, index,
           "the row holds " + str(given.bytes.size()) + " bytes; its fields take " + str(fields));
  }
  row.assign(1, static_cast<char>(given.deleted ? kDeleted : kNotDeleted));
  if (given.bytes.empty()) {
    row.append(fields, ' ');
  } else {
    row.append(given.bytes.substr(0, fields));
  }
}

void LayerWriter::add(const ShapeView& shape, std::span<const Value> row) {
  State& s = *state_;
  s.add(shape, [&](std::int64_t index) { s.valueRow(index, row); });
}

void LayerWriter::add(const ShapeView& shape, const RowView& row) {
  State& s = *state_;
  s.add(shape, [&](std::int64_t index) { s.bytesRow(index, row); });
}

void LayerWriter::add(const ShapeArrays& shape, std::span<const Value> row) {
  State& s = *state_;
  s.usable();
  if (shape.x.size() != shape.y.size()) {
    s.refuse(
        kShp, s.count,
        "the shape has " + str(shape.x.size()) + " X and " + str(shape.y.size()) + " Y values");
  }
  s.points.resize(shape.x.size());
  for (std::size_t i = 0; i < shape.x.size(); ++i) s.points[i] = {shape.x[i], shape.y[i]};
  ShapeView v;
  v.type = shape.x.empty() ? ShapeType::Null : s.type;
  v.points = s.points;
  v.z = shape.z;
  v.m = shape.m;
  v.parts = shape.parts;
  v.partTypes = shape.partTypes;
  s.add(v, [&](std::int64_t index) { s.valueRow(index, row); });
}

void LayerWriter::close() {
  State& s = *state_;
  s.usable();
  s.writing(3, [&] {
    s.sinks[kDbf].buffer.append(&kEndOfFileMark, 1);
    for (Sink& sink : s.sinks) s.flush(sink);
    MainHeader main = s.mainHeader();
    for (FileIndex i : {kShp, kShx}) {
      main.fileLength = static_cast<std::int32_t>(s.sinks[i].size() / 2);
      MainHeader::Bytes header = main.encode();
      s.files.write(s.sinks[i].member, 0, header.data(), header.size());
    }
    LocalDate today = LocalDate::today();
    if (s.appendAt) {
      // The date and the count alone: the rest of the table's header stays as it lies.
      DbfHeader h = DbfHeader::decode(s.oldTableHeader.data());
      h.year = static_cast<std::uint8_t>(std::clamp(today.year - 1900, 0, 255));
      h.month = static_cast<std::uint8_t>(today.month);
      h.day = static_cast<std::uint8_t>(today.day);
      h.recordCount = static_cast<std::uint32_t>(s.count);
      h.encode(s.oldTableHeader.data());
      s.files.write(s.sinks[kDbf].member, 0, s.oldTableHeader.data(), s.oldTableHeader.size());
      std::vector<std::string> stale;
      for (std::string_view ext : {".qix", ".sbn", ".sbx"}) {
        stale.push_back(s.layerFiles.path(ext));
        stale.push_back(s.layerFiles.path(ext, true));
      }
      s.files.commit(stale);
      return;
    }
    std::vector<unsigned char> header(s.headerLength);
    DbfHeader h;
    h.year = static_cast<std::uint8_t>(std::clamp(today.year - 1900, 0, 255));
    h.month = static_cast<std::uint8_t>(today.month);
    h.day = static_cast<std::uint8_t>(today.day);
    h.recordCount = static_cast<std::uint32_t>(s.count);
    h.headerLength = s.headerLength;
    h.recordLength = s.recordLength;
    h.languageDriver = s.languageDriver;
    h.encode(header.data());
    for (std::size_t c = 0; c < s.columns.size(); ++c) {
      s.columns[c].encode(header.data() + kDbfHeaderBytes + kDescriptorBytes * c);
    }
    header.back() = kHeaderTerminator;
    s.files.write(s.sinks[kDbf].member, 0, header.data(), header.size());

    // What the old layer had beside it that the new one has not.
    std::vector<std::string> stale;
    // A .cpg or .prj file that is written replaces the old one; a file of the same name in the
    // other letter case may be the very same file, so that it is left alone.
    for (std::string_view ext : {".cpg", ".prj", ".qix", ".sbn", ".sbx"}) {
      if (ext == ".cpg" && s.codePage) continue;
      if (ext == ".prj" && s.options.projection) continue;
      stale.push_back(s.layerFiles.path(ext));
      stale.push_back(s.layerFiles.path(ext, true));
    }
    s.files.commit(stale);
  });
  s.status = State::Status::Closed;
}

}  // namespace kel::format

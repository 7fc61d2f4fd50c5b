#include "format/LayerWriter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <set>

#include "format/DbaseFile.h"
#include "format/Encoding.h"
#include "format/FieldWriting.h"
#include "format/MainFile.h"
#include "runtime/AtomicFileSet.h"
#include "runtime/Error.h"
#include "runtime/LocalDate.h"
#include "runtime/Text.h"
#include "runtime/TextEncoder.h"

namespace kel::format {

namespace {

constexpr std::size_t kMaxColumns = 2046;  // 32 + 32 * 2046 + 1 header bytes fit 16 bits
constexpr std::size_t kOldReadersColumns = 255;
constexpr std::size_t kMaxRecordLength = 65535;
constexpr std::size_t kNameBytes = 10;
constexpr std::size_t kBufferBytes = 64 * 1024;
constexpr std::int64_t kMaxRecords = std::numeric_limits<std::int32_t>::max();
constexpr double kNoMeasure = -1e39;

enum FileIndex { kShp, kShx, kDbf };

// A file written front to back through a buffer; its header is written last, in place.
struct Sink {
  std::size_t member = 0;
  std::uint64_t flushed = 0;  // bytes before the buffer's, the header's room included
  std::vector<unsigned char> buffer;
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
  auto finite = [&](std::span<const double> values,
                    const char* what) -> std::optional<std::string> {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!std::isfinite(values[i])) {
        return "point " + str(i + 1) + " of " + str(n) + " has a NaN or infinite " + what;
      }
    }
    return std::nullopt;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v.points[i].x) || !std::isfinite(v.points[i].y)) {
      return "point " + str(i + 1) + " of " + str(n) + " has a NaN or infinite X or Y";
    }
  }
  if (auto why = finite(v.z, "Z")) return why;
  return finite(v.m, "M (no measure is a value below -1e38)");
}

bool endsWithShp(std::string_view p, bool& upper) {
  if (p.size() < 4 || p[p.size() - 4] != '.') return false;
  std::string ext(p.substr(p.size() - 3));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  upper = p.substr(p.size() - 3) == "SHP";
  return ext == "shp";
}

}  // namespace

WriteError::WriteError(Finding finding, std::int64_t column)
    : std::runtime_error(describe(finding)), finding_(std::move(finding)), column_(column) {}

struct LayerWriter::State {
  std::string base;
  bool upper = false;
  ShapeType type = ShapeType::Null;
  ShapeTypeTraits traits{};
  WriteOptions options;
  std::string encoding;
  std::unique_ptr<TextEncoder> encoder;
  std::vector<FieldDescriptor> columns;
  std::vector<std::string> names;
  std::uint16_t headerLength = 0, recordLength = 1;

  AtomicFileSet files;
  Sink sinks[3];
  std::string paths[3];
  std::int64_t count = 0;
  Span x, y, z, m;
  enum class Status { Open, Failed, Closed } status = Status::Open;
  std::string failure;

  // Reused from record to record.
  std::vector<XY> points;
  std::vector<double> noMeasures;
  std::string row, field;

  std::string path(std::string_view ext) const {
    std::string e(ext);
    if (upper) {
      for (char& c : e) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return base + e;
  }

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
      f.file = file < 3 ? paths[file] : base;
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

  void checkColumns(std::span<const ColumnDefinition> definitions);
  void add(const ShapeView& shape, std::span<const Value> row);
  MainHeader mainHeader(std::uint64_t bytes) const;
};

void LayerWriter::State::checkColumns(std::span<const ColumnDefinition> definitions) {
  auto refuseColumn = [&](std::size_t i, const std::string& sentence) {
    Finding f;
    f.file = paths[kDbf];
    f.offset = kDbfHeaderBytes + kDescriptorBytes * static_cast<std::int64_t>(i);
    f.sentence = "column " + str(i + 1) + " (" + shown(definitions[i].name) + "): " + sentence;
    throw WriteError(std::move(f), static_cast<std::int64_t>(i));
  };
  if (definitions.size() > kMaxColumns) {
    refuseColumn(kMaxColumns, "a table's header describes at most 2,046 columns; " +
                                  str(definitions.size()) + " were given");
  }
  std::set<std::u16string> seen;
  std::size_t length = 1;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const ColumnDefinition& definition = definitions[i];
    FieldDescriptor d;
    d.type = static_cast<std::uint8_t>(definition.type);
    d.width = definition.width;
    d.decimals = definition.decimals;
    if (definition.name.empty()) refuseColumn(i, "a column needs a name");
    if (definition.name.find('\0') != std::string::npos) refuseColumn(i, "the name holds a NUL");
    std::string bytes;
    TextEncoder::Result r = encoder->encode(definition.name, bytes, kNameBytes);
    if (r.stop == TextEncoder::Stop::Full) {
      bytes.clear();
      r = encoder->encode(definition.name, bytes);
      if (r.stop == TextEncoder::Stop::End) {
        refuseColumn(i, "the name takes " + str(bytes.size()) + " bytes in " + encoding +
                            "; a name holds 10");
      }
    }
    if (r.stop == TextEncoder::Stop::IllFormed) refuseColumn(i, "the name is no UTF-8");
    if (r.stop == TextEncoder::Stop::NoSuchCharacter) {
      refuseColumn(i, "the name has a character that " + encoding + " cannot hold");
    }
    std::copy(bytes.begin(), bytes.end(), d.name.begin());
    if (auto why = unwritableColumn(d)) refuseColumn(i, *why);
    if (!seen.insert(upperCase(toUtf16(definition.name))).second) {
      refuseColumn(i, "another column has the same name, letter case ignored");
    }
    length += d.width;
    if (length > kMaxRecordLength) {
      refuseColumn(i, "the row would take " + str(length) + " bytes; a row holds 65,535");
    }
    columns.push_back(d);
    names.push_back(definition.name);
  }
  recordLength = static_cast<std::uint16_t>(length);
  headerLength =
      static_cast<std::uint16_t>(kDbfHeaderBytes + kDescriptorBytes * definitions.size() + 1);
  if (definitions.size() > kOldReadersColumns && options.reporter != nullptr) {
    options.reporter->report({Severity::Irregularity, paths[kDbf], -1, -1,
                              "the table has " + str(definitions.size()) +
                                  " columns; older dBASE readers read no more than 255"});
  }
}

MainHeader LayerWriter::State::mainHeader(std::uint64_t bytes) const {
  MainHeader h;
  h.fileCode = kFileCode;
  h.fileLength = static_cast<std::int32_t>(bytes / 2);
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
  return h;
}

LayerWriter::LayerWriter(std::string_view path, ShapeType type,
                         std::span<const ColumnDefinition> columns, const WriteOptions& options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  auto refuse = [&](std::string file, std::string sentence) {
    Finding f;
    f.file = std::move(file);
    f.sentence = std::move(sentence);
    throw WriteError(std::move(f));
  };
  std::string p(path);
  if (std::size_t nul = p.find('\0'); nul != std::string::npos) {
    refuse(p.substr(0, nul), "the path holds a NUL character");
  }
  s.base = endsWithShp(p, s.upper) ? p.substr(0, p.size() - 4) : p;
  char last = s.base.empty() ? '/' : s.base.back();
#ifdef _WIN32
  if (last == '\\' || last == ':') last = '/';
#endif
  if (last == '/') refuse(p, "the path names no file");
  s.paths[kShp] = s.path(".shp");
  s.paths[kShx] = s.path(".shx");
  s.paths[kDbf] = s.path(".dbf");
  std::optional<ShapeTypeTraits> traits = traitsOf(static_cast<std::int32_t>(type));
  if (!traits) refuse(s.paths[kShp], "shape type " + std::to_string(int(type)) + " is no type");
  s.type = type;
  s.traits = *traits;
  s.options = options;
  s.encoding = encodingOfCodePageFile(options.encoding);
  s.encoder = TextEncoder::open(s.encoding);
  if (!s.encoder) refuse(s.paths[kDbf], "no encoding is named " + shown(options.encoding));
  if (options.maxFileBytes > kFourGigabytes) {
    refuse(s.paths[kShp], "a file holds at most 4 GB (" + str(kFourGigabytes) + " bytes)");
  }
  s.checkColumns(columns);
  if (std::max<std::uint64_t>(kHeaderBytes, s.headerLength + 1u) > options.maxFileBytes) {
    refuse(s.paths[kDbf], "the headers alone take more than " + str(options.maxFileBytes) +
                              " bytes, the most a file may hold");
  }

  s.writing(3, [&] {
    for (FileIndex i : {kShp, kShx, kDbf}) {
      s.sinks[i].member = s.files.add(s.paths[i]);
      s.sinks[i].buffer.reserve(kBufferBytes);
    }
    s.sinks[kShp].flushed = s.sinks[kShx].flushed = kHeaderBytes;
    s.sinks[kDbf].flushed = s.headerLength;
    std::string cpg = codePageFileWord(s.encoding);
    std::size_t member = s.files.add(s.path(".cpg"));
    s.files.write(member, 0, cpg.data(), cpg.size());
    if (options.projection) {
      member = s.files.add(s.path(".prj"));
      s.files.write(member, 0, options.projection->data(), options.projection->size());
    }
  });
}

LayerWriter::~LayerWriter() = default;

std::int64_t LayerWriter::count() const noexcept {
  return state_->count;
}

const std::string& LayerWriter::basePath() const noexcept {
  return state_->base;
}

void LayerWriter::add(const ShapeView& shape, std::span<const Value> row) {
  state_->add(shape, row);
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
  s.add(v, row);
}

void LayerWriter::State::add(const ShapeView& shape, std::span<const Value> values) {
  usable();
  const std::int64_t index = count;
  if (index == kMaxRecords) refuse(kShp, index, "a layer holds at most 2^31 - 1 records");
  if (auto why = unwritableShape(shape, type)) refuse(kShp, index, *why);

  // The shape as it is written: its box and ranges from its arrays, "no measure" where an M type
  // is given no M values.
  ShapeView v = shape;
  Span bx, by, bz, bm;
  for (const XY& p : v.points) bx.add(p.x), by.add(p.y);
  for (double value : v.z) bz.add(value);
  for (double value : v.m) {
    if (value >= kNoMeasureBelow) bm.add(value);
  }
  v.box = {bx.min, by.min, bx.max, by.max};
  v.zRange = {bz.min, bz.max};
  v.mRange = {bm.min, bm.max};
  if (v.type != ShapeType::Null && traits.m && !traits.z && v.m.empty()) {
    noMeasures.assign(v.points.size(), kNoMeasure);
    v.m = noMeasures;
  }
  const std::uint64_t content = encodedSize(v);
  const std::uint64_t limit = options.maxFileBytes;
  auto past = [&](FileIndex file, std::uint64_t more) {
    if (sinks[file].size() + more <= limit) return;
    refuse(file, index,
           "the record would take the file past " + str(limit) + " bytes, the most it may hold");
  };
  past(kShp, kRecordHeaderBytes + content);
  past(kShx, kIndexEntryBytes);

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
  past(kDbf, recordLength + 1u);  // the row and the end mark

  writing(kShp, [&] {
    Sink& shp = sinks[kShp];
    makeRoom(shp, kRecordHeaderBytes + content);
    makeRoom(sinks[kShx], kIndexEntryBytes);
    makeRoom(sinks[kDbf], row.size());
    const std::uint64_t offset = shp.size();
    const auto words = static_cast<std::int32_t>(content / 2);
    std::size_t at = shp.buffer.size();
    shp.buffer.resize(at + kRecordHeaderBytes);
    RecordHeader{static_cast<std::int32_t>(index + 1), words}.encode(shp.buffer.data() + at);
    encodeShape(v, shp.buffer);
    Sink& shx = sinks[kShx];
    at = shx.buffer.size();
    shx.buffer.resize(at + kIndexEntryBytes);
    IndexEntry{static_cast<std::int32_t>(offset / 2), words}.encode(shx.buffer.data() + at);
    sinks[kDbf].buffer.insert(sinks[kDbf].buffer.end(), row.begin(), row.end());
  });
  if (bx.any) x.add(bx.min), x.add(bx.max), y.add(by.min), y.add(by.max);
  if (bz.any) z.add(bz.min), z.add(bz.max);
  if (bm.any) m.add(bm.min), m.add(bm.max);
  ++count;
}

void LayerWriter::close() {
  State& s = *state_;
  s.usable();
  s.writing(3, [&] {
    s.sinks[kDbf].buffer.push_back(kEndOfFileMark);
    for (Sink& sink : s.sinks) s.flush(sink);
    for (FileIndex i : {kShp, kShx}) {
      MainHeader::Bytes header = s.mainHeader(s.sinks[i].size()).encode();
      s.files.write(s.sinks[i].member, 0, header.data(), header.size());
    }
    std::vector<unsigned char> header(s.headerLength);
    DbfHeader h;
    LocalDate today = LocalDate::today();
    h.year = static_cast<std::uint8_t>(std::clamp(today.year - 1900, 0, 255));
    h.month = static_cast<std::uint8_t>(today.month);
    h.day = static_cast<std::uint8_t>(today.day);
    h.recordCount = static_cast<std::uint32_t>(s.count);
    h.headerLength = s.headerLength;
    h.recordLength = s.recordLength;
    h.languageDriver = languageDriverOf(s.encoding);
    h.encode(header.data());
    for (std::size_t c = 0; c < s.columns.size(); ++c) {
      s.columns[c].encode(header.data() + kDbfHeaderBytes + kDescriptorBytes * c);
    }
    header.back() = kHeaderTerminator;
    s.files.write(s.sinks[kDbf].member, 0, header.data(), header.size());

    // What the old layer had beside it that the new one has not.
    std::vector<std::string> stale;
    // The .cpg file is always written; a file of the same name in the other letter case may be
    // the very same file, so that it is left alone.
    for (std::string_view ext : {".prj", ".qix", ".sbn", ".sbx"}) {
      if (ext == ".prj" && s.options.projection) continue;
      std::string lower = s.base + std::string(ext), upper = lower;
      for (std::size_t i = s.base.size(); i < upper.size(); ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
      }
      stale.push_back(lower);
      stale.push_back(upper);
    }
    s.files.commit(stale);
  });
  s.status = State::Status::Closed;
}

}  // namespace kel::format

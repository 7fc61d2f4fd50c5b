#include "kel/shapefile/ReadContract.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kel/format/DbaseFile.h"
#include "kel/format/Endian.h"
#include "kel/format/MainFile.h"
#include "kel/format/ShapeRecord.h"
#include "kel/geometry/ShapeTypeConstants.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/DbaseFormat.h"
#include "kel/shapefile/ShapefilePaths.h"

namespace kel {

namespace {

using format::Severity;

// Points and parts of a shape, and shapes, are counted in 16 bits by a counter that must step
// past the last; columns are counted before each is read.
constexpr std::int64_t kMostInShape = 32766;
constexpr std::int64_t kMostShapes = 32766;
constexpr std::int64_t kMostColumns = 32767;

std::string str(std::int64_t n) {
  return std::to_string(n);
}

std::string typeName(std::int32_t code) {
  std::optional<format::ShapeTypeTraits> t = format::traitsOf(code);
  return t ? std::string(t->name) : "type " + str(code);
}

// The file types that have a record reader; any other reads no records at all.
bool hasReader(std::int32_t type) {
  return type == kelPoint || type == kelPolyLine || type == kelPolygon || type == kelMultiPoint;
}

// Whether the reader of the last record's type takes a record: lines and polygons take each
// other's, the others only their own.
bool takes(std::int32_t current, std::int32_t record) {
  bool poly = current == kelPolyLine || current == kelPolygon;
  return poly ? record == kelPolyLine || record == kelPolygon : record == current;
}

// A count as the record readers take it: in 16 bits, where a negative count reads nothing.
std::optional<std::string> countRefused(std::int64_t n, const char* what) {
  if (n > kMostInShape) {
    return "the record counts " + str(n) + " " + what + ", more than the 32,766 the object model " +
           "takes: it refuses the file";
  }
  if (n < INT16_MIN) {
    return "the record counts " + str(n) + " " + what +
           ", which the object model cannot count in 16 bits: it refuses the file";
  }
  return std::nullopt;
}

struct MemberFile {
  std::string path;
  std::unique_ptr<ReadOnlyFile> bytes;
};

class Contract {
 public:
  explicit Contract(format::Reporter& reporter) : reporter_(reporter) {}

  void run(std::u16string_view basepath, std::u16string_view filename, std::int32_t held);

 private:
  void openFiles(std::u16string_view basepath, std::u16string_view filename);
  std::optional<std::int64_t> records();
  std::optional<std::int64_t> walkRecords(std::int64_t count);
  void partStarts(std::int64_t content, std::int64_t record, const format::ContentLayout& l,
                  std::int64_t parts);
  void table(std::optional<std::int64_t> shapes);

  void tell(Severity severity, const std::string& file, std::int64_t offset, std::int64_t record,
            std::string sentence, bool missing = false) {
    reporter_.report({severity, file, offset, record, std::move(sentence), missing});
  }
  void refuse(const std::string& file, std::int64_t offset, std::int64_t record,
              std::string sentence) {
    tell(Severity::Error, file, offset, record, std::move(sentence));
  }
  void differ(const std::string& file, std::int64_t offset, std::int64_t record,
              std::string sentence) {
    tell(Severity::Irregularity, file, offset, record, std::move(sentence));
  }

  format::Reporter& reporter_;
  MemberFile shp_, shx_, dbf_;
  bool usable_ = true;          // the names could be looked up
  std::int32_t fileType_ = 0;   // the main header's shape type
  std::int64_t announced_ = 0;  // the records that the index header's length counts
};

void Contract::openFiles(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath), name(filename);
  normaliseShapefilePath(base, name);
  const std::pair<MemberFile*, std::u16string_view> members[] = {
      {&shp_, u".shp"}, {&shx_, u".shx"}, {&dbf_, u".dbf"}};
  bool missing = false;
  for (auto [member, extension] : members) {
    std::u16string path = base + name + std::u16string(extension);
    try {
      member->path = nativePath(path);
      // Like the read, the look-up stops at the first file that is not there.
      if (missing) continue;
      if (!shapefileMemberExists(base, name, extension)) {
        // Something that is no regular file is there rather than missing.
        ReadOnlyFile::OpenError why;
        if (!ReadOnlyFile::open(member->path, why) && why.notRegular) {
          refuse(member->path, -1, -1, why.sentence + ": the object model refuses the file");
          missing = true;
          continue;
        }
        tell(Severity::Error, member->path, -1, -1,
             "no such file: the object model reads the main file, the index and the table "
             "together, and refuses a shapefile without one of them",
             true);
        missing = true;
        continue;
      }
    } catch (const Error& e) {
      refuse(toUtf8(path), -1, -1,
             std::string("the path names no file (") + e.what() + "): the object model refuses it");
      usable_ = false;
      return;
    }
    ReadOnlyFile::OpenError why;
    member->bytes = ReadOnlyFile::open(member->path, why);
    if (!member->bytes) {
      refuse(member->path, -1, -1,
             "cannot be opened (" + why.sentence + "): the object model refuses the file");
    }
  }
}

// The headers as the object model reads them: the index header first, for the number of records
// its file length counts, then the main header. None when the read is refused there.
std::optional<std::int64_t> Contract::records() {
  using namespace format;
  std::span<const unsigned char> head = shx_.bytes->view(0, kHeaderBytes);
  if (head.size() < static_cast<std::size_t>(kHeaderBytes)) {
    refuse(shx_.path, -1, -1,
           "the file holds " + str(shx_.bytes->size()) +
               " bytes, fewer than its 100-byte header, from whose file length the object model "
               "counts the records: it refuses the file");
    return std::nullopt;
  }
  MainHeader::Bytes raw;
  std::copy(head.begin(), head.end(), raw.begin());
  MainHeader index = MainHeader::decode(raw);
  constexpr std::int32_t kHeaderWords = kHeaderBytes / 2;
  if (index.fileLength < INT32_MIN + kHeaderWords) {
    refuse(shx_.path, kFileLengthAt, -1,
           "the file length of " + str(index.fileLength) +
               " words is too small to count records from: the object model refuses the file");
    return std::nullopt;
  }
  // The words behind the header, an entry's four words at a time, rounded half to even.
  announced_ = static_cast<std::int64_t>(
      roundHalfEven(static_cast<double>(index.fileLength - kHeaderWords) / (kIndexEntryBytes / 2)));
  if (index.fileCode != kFileCode) {
    refuse(shx_.path, 0, -1,
           "the file code is " + str(index.fileCode) + ", not 9994: the object model refuses the " +
               "file");
    return std::nullopt;
  }
  head = shp_.bytes->view(0, kHeaderBytes);
  if (head.size() < static_cast<std::size_t>(kHeaderBytes)) {
    refuse(shp_.path, -1, -1,
           "the file holds " + str(shp_.bytes->size()) +
               " bytes, fewer than its 100-byte header: the object model refuses it");
    return std::nullopt;
  }
  std::copy(head.begin(), head.end(), raw.begin());
  MainHeader main = MainHeader::decode(raw);
  if (main.fileCode != kFileCode) {
    refuse(shp_.path, 0, -1,
           "the file code is " + str(main.fileCode) + ", not 9994: the object model refuses the " +
               "file");
    return std::nullopt;
  }
  fileType_ = main.shapeType;
  // No reader takes the type: the read takes no record and goes on to the table.
  if (!hasReader(fileType_)) return 0;
  return walkRecords(announced_);
}

// The records as the object model reads them: `count` of them, back to back behind the main
// header, each as far as its fields go, whatever its content length says.
std::optional<std::int64_t> Contract::walkRecords(std::int64_t count) {
  using namespace format;
  ReadOnlyFile& shp = *shp_.bytes;
  const std::int64_t size = shp.size();
  // The first record whose content length is not the length of its fields, when another follows.
  struct Divergence {
    std::int64_t record, at, claimed, fields;
  };
  std::optional<Divergence> diverged;
  auto backToBack = [&](const Divergence& d) {
    return "the record's content length is " + str(d.claimed) + " bytes, its fields " +
           str(d.fields) + ": the object model reads the records back to back, so it takes byte " +
           str(d.at + kRecordHeaderBytes + d.fields) + " for the start of the next record";
  };
  // A refusal that follows a divergence is the divergence's doing.
  auto fail = [&](std::int64_t offset, std::int64_t record, std::string sentence) {
    if (diverged) {
      refuse(shp_.path, diverged->at + kContentLengthAt, diverged->record,
             backToBack(*diverged) + ", and it refuses what it finds there");
    } else {
      refuse(shp_.path, offset, record, std::move(sentence));
    }
    return std::nullopt;
  };
  const std::string pastTheEnd =
      "the record's fields run past the end of the file: the object model refuses it";
  std::int32_t type = fileType_;
  std::int64_t at = kHeaderBytes;
  for (std::int64_t k = 0; k < count; ++k) {
    // The record header and the shape type.
    constexpr std::size_t kStart = kRecordHeaderBytes + sizeof(std::int32_t);
    std::span<const unsigned char> head = shp.view(at, kStart);
    if (head.size() < kStart) {
      if (!head.empty() || diverged) return fail(at, k, pastTheEnd);
      refuse(shx_.path, kFileLengthAt, -1,
             "the file length counts " + str(count) + " records; the main file holds " + str(k) +
                 ": the object model reads as many as the index counts and refuses the file");
      return std::nullopt;
    }
    RecordHeader rh = RecordHeader::decode(head.data());
    auto recordType = loadLE<std::int32_t>(head.data() + kRecordHeaderBytes);
    std::int64_t content = at + kRecordHeaderBytes;
    if (recordType == kelUndefined) {
      return fail(content, k,
                  "a null shape: the object model stops reading there and refuses the file");
    }
    if (!takes(type, recordType)) {
      return fail(content, k,
                  "a " + typeName(recordType) + " record where the object model reads a " +
                      typeName(type) + ": it refuses the file");
    }
    type = recordType;
    ShapeTypeTraits traits = *traitsOf(type);
    ContentLayout l = contentLayout(traits, 0, 1);
    std::int64_t parts = 0;
    if (traits.geometry != Geometry::Point) {
      std::span<const unsigned char> counts = shp.view(content, l.points);
      if (counts.size() < l.points) return fail(at, k, pastTheEnd);
      bool poly = traits.geometry != Geometry::MultiPoint;
      parts = poly ? loadLE<std::int32_t>(counts.data() + l.partCount) : 0;
      std::int64_t points = loadLE<std::int32_t>(counts.data() + l.pointCount);
      if (auto why = countRefused(parts, "parts")) {
        return fail(content + static_cast<std::int64_t>(l.partCount), k, *why);
      }
      if (auto why = countRefused(points, "points")) {
        return fail(content + static_cast<std::int64_t>(l.pointCount), k, *why);
      }
      l = contentLayout(traits, static_cast<std::uint64_t>(std::max<std::int64_t>(parts, 0)),
                        static_cast<std::uint64_t>(std::max<std::int64_t>(points, 0)));
    }
    auto fields = static_cast<std::int64_t>(l.end);
    if (content + fields > size) return fail(at, k, pastTheEnd);
    if (type == kelPolyLine || type == kelPolygon) partStarts(content, k, l, parts);
    std::int64_t claimed = std::int64_t{rh.contentLength} * 2;
    if (claimed != fields && k + 1 < count && !diverged) diverged = {k, at, claimed, fields};
    at = content + fields;
  }
  if (diverged) {
    differ(shp_.path, diverged->at + kContentLengthAt, diverged->record,
           backToBack(*diverged) + ", not byte " +
               str(diverged->at + kRecordHeaderBytes + diverged->claimed));
  }
  return std::max<std::int64_t>(count, 0);
}

// A new shape has a part at point 0 of its own, and the reader adds every start but 0 to it.
void Contract::partStarts(std::int64_t content, std::int64_t record, const format::ContentLayout& l,
                          std::int64_t parts) {
  if (parts <= 0) {
    differ(shp_.path, content + static_cast<std::int64_t>(l.partCount), record,
           "the record has no parts; the object model gives it one, starting at point 0");
    return;
  }
  std::span<const unsigned char> starts = shp_.bytes->view(
      content + static_cast<std::int64_t>(l.partStarts), static_cast<std::size_t>(4 * parts));
  for (std::int64_t j = 0; j < parts; ++j) {
    auto start = format::loadLE<std::int32_t>(starts.data() + 4 * j);
    std::int64_t offset = content + static_cast<std::int64_t>(l.partStarts) + 4 * j;
    if (j == 0 && start != 0) {
      differ(shp_.path, offset, record,
             "part 1 starts at point " + str(start) +
                 "; the object model adds a part at point 0 before it");
      return;
    }
    if (j > 0 && start == 0) {
      differ(shp_.path, offset, record,
             "part " + str(j + 1) + " starts at point 0; the object model drops it");
      return;
    }
  }
}

// The table as the object model reads it: its row count, its descriptors up to the 0x0D mark,
// whatever the header length says, then rows of the columns' widths right behind the mark.
void Contract::table(std::optional<std::int64_t> shapes) {
  using namespace format;
  ReadOnlyFile& dbf = *dbf_.bytes;
  std::span<const unsigned char> head = dbf.view(0, kDbfHeaderBytes);
  if (head.size() < static_cast<std::size_t>(kDbfHeaderBytes)) {
    refuse(dbf_.path, -1, -1,
           "the file holds " + str(dbf.size()) +
               " bytes, fewer than its 32-byte header: the object model refuses it");
    return;
  }
  DbfHeader h = DbfHeader::decode(head.data());
  auto rows = static_cast<std::int32_t>(h.recordCount);  // read as a signed count
  if (shapes && rows != *shapes) {
    if (!hasReader(fileType_)) {
      refuse(shp_.path, kShapeTypeAt, -1,
             "the object model reads only Point, PolyLine, Polygon and MultiPoint files, not " +
                 typeName(fileType_) + " ones: it reads none of the shapes, and refuses a table " +
                 "of " + str(rows) + " rows");
    } else {
      refuse(dbf_.path, kRecordCountAt, -1,
             "the table counts " + str(rows) + " rows for " + str(*shapes) +
                 " shapes: the object model refuses it");
    }
  } else if (shapes && !hasReader(fileType_) && announced_ > 0) {
    differ(shp_.path, kShapeTypeAt, -1,
           "the object model reads only Point, PolyLine, Polygon and MultiPoint files, not " +
               typeName(fileType_) + " ones: it reads none of the " + str(announced_) + " shapes");
  }
  const std::string unended =
      "the column descriptors end without their 0x0D mark: the object model refuses the table";
  std::int64_t at = kDbfHeaderBytes, columns = 0, rowBytes = 1;
  for (;; at += kDescriptorBytes) {
    std::span<const unsigned char> d = dbf.view(at, kDescriptorBytes);
    if (d.empty()) return refuse(dbf_.path, at, -1, unended);
    if (d[0] == kHeaderTerminator) break;
    if (++columns > kMostColumns) {
      return refuse(dbf_.path, at, -1,
                    "the table has more than 32,767 columns: the object model refuses it");
    }
    if (d.size() < static_cast<std::size_t>(kDescriptorBytes)) {
      return refuse(dbf_.path, at, -1, unended);
    }
    FieldDescriptor column = FieldDescriptor::decode(d.data());
    if (column.type != 'C' && dbf::fieldTypeOfLetter(column.type) == kelFieldTypeCharacter) {
      differ(dbf_.path, at + kTypeLetterAt, -1,
             "column " + str(columns) + " has the type letter '" +
                 std::string(1, static_cast<char>(column.type)) +
                 "', which the object model reads as Character");
    }
    rowBytes += column.width;
  }
  std::int64_t rowsAt = at + 1;
  if (h.headerLength != rowsAt) {
    differ(dbf_.path, kHeaderLengthAt, -1,
           "the header length says the rows start at byte " + str(h.headerLength) +
               "; the object model reads them from byte " + str(rowsAt) + ", behind the 0x0D mark");
  }
  if (h.recordLength != rowBytes) {
    differ(dbf_.path, kRecordLengthAt, -1,
           "the header gives rows of " + str(h.recordLength) + " bytes; the object model reads " +
               "rows of " + str(rowBytes) + ", the deletion flag and the columns' widths");
  }
  std::int64_t need = rowBytes * std::max<std::int64_t>(rows, 0), room = dbf.size() - rowsAt;
  if (room < need) {
    refuse(dbf_.path, rowsAt, -1,
           "the table's " + str(rows) + " rows of " + str(rowBytes) + " bytes need " + str(need) +
               " bytes behind its header; the file holds " + str(std::max<std::int64_t>(room, 0)) +
               ": the object model refuses it");
  }
}

void Contract::run(std::u16string_view basepath, std::u16string_view filename, std::int32_t held) {
  openFiles(basepath, filename);
  if (!usable_) return;
  // The system may fail to read what it opened.
  auto unreadable = [&](const std::string& file, const Error& e) {
    refuse(file, -1, -1,
           std::string("cannot be read (") + e.what() + "): the object model refuses the file");
  };
  std::optional<std::int64_t> shapes;
  try {
    if (shp_.bytes && shx_.bytes) shapes = records();
  } catch (const Error& e) {
    return unreadable(shp_.path, e);
  }
  if (shapes) {
    std::int64_t total = std::int64_t{held} + *shapes;
    if (total > kMostShapes) {
      refuse(shx_.path, format::kFileLengthAt, -1,
             "the object model holds at most 32,766 shapes; this read would make " + str(total) +
                 ": it refuses the file");
      shapes.reset();
    } else {
      shapes = total;
    }
  }
  try {
    if (dbf_.bytes) table(shapes);
  } catch (const Error& e) {
    unreadable(dbf_.path, e);
  }
}

}  // namespace

void checkReadContract(std::u16string_view basepath, std::u16string_view filename,
                       format::Reporter& reporter, std::int32_t held) {
  Contract(reporter).run(basepath, filename, held);
}

}  // namespace kel

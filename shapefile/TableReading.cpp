#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "kel/attributes/TableRows.h"
#include "kel/format/MainFile.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/CodePage.h"
#include "kel/runtime/ObjectArena.h"
#include "kel/shapefile/DbaseFormat.h"
#include "kel/shapefile/ReadDriver.h"
#include "kel/shapefile/Shapefile.h"

namespace kel {

namespace {

// Reads the descriptor that begins with the byte `first`, already read.
format::FieldDescriptor getDescriptor(FileChannel& dbf, std::uint8_t first) {
  unsigned char bytes[dbf::kDescriptorBytes] = {first};
  dbf.get(bytes + 1, sizeof bytes - 1);
  return format::FieldDescriptor::decode(bytes);
}

// The column that the object model makes of a descriptor.
Ref<TableDescriptor> describe(const format::FieldDescriptor& d) {
  // The first byte is the name's first character even when it is zero; behind it a zero byte is
  // skipped rather than ending the name.
  std::u16string name(1, ansiToChar(d.name[0]));
  for (int i = 1; i < dbf::kNameBytes; ++i) {
    if (d.name[i] != 0) name += ansiToChar(d.name[i]);
  }
  auto descriptor = makeRef<TableDescriptor>();
  descriptor->put_name(name);
  descriptor->put_fieldType(dbf::fieldTypeOfLetter(d.type));
  descriptor->put_width(d.width);
  descriptor->put_precision(d.decimals);
  return descriptor;
}

}  // namespace

// The table as the object model reads it: its row count, its descriptors up to the 0x0D mark,
// whatever the header length says, then rows of the columns' widths right behind the mark.
bool ReadDriver::readTable() {
  constexpr std::u16string_view kTable = u".dbf";
  try {
    FileChannel& dbf = set_[2];
    Collection& shapes = deref(file_.get_ShapeObjects());
    if (dbf.length() < dbf::kFileHeaderBytes) {
      return refuse(kTable, -1, -1,
                    "the file holds " + std::to_string(dbf.length()) +
                        " bytes, fewer than its 32-byte header: the object model refuses it");
    }
    unsigned char headerBytes[dbf::kFileHeaderBytes];
    dbf.get(headerBytes, sizeof headerBytes);
    format::DbfHeader header = format::DbfHeader::decode(headerBytes);
    // The count is read as the signed number it is to the interface.
    auto recordCount = static_cast<std::int32_t>(header.recordCount);
    auto noReader = [&] {
      return "the object model reads only Point, PolyLine, Polygon and MultiPoint files, not " +
             typeName(headerType_) + " ones: it reads none of the ";
    };
    if (recordCount != shapes.count()) {
      if (!hasReader(headerType_)) {
        return refuse(u".shp", format::kShapeTypeAt, -1,
                      noReader() + "shapes, and refuses a table of " + std::to_string(recordCount) + " rows");
      }
      return refuse(kTable, format::kRecordCountAt, -1,
                    "the table counts " + std::to_string(recordCount) + " rows for " + std::to_string(shapes.count()) +
                        " shapes: the object model refuses it");
    }
    if (!hasReader(headerType_) && announced_ > 0) {
      tell(format::Severity::Irregularity, u".shp", format::kShapeTypeAt, -1,
           noReader() + std::to_string(announced_) + " shapes");
    }

    // The description refuses a name it holds, as addTableDescriptor does; the names are looked
    // up in sets, since a scan for every column would make a long header cost its square.
    Collection& descriptors = deref(deref(file_.get_TableDescription()).get_TableDescriptors());
    std::unordered_set<std::u16string> described, inFile;
    bool describedKnown = false;
    // The records are laid out by the file's own columns. When the table description held
    // columns before, or the file repeats a name, the description differs from that layout; the
    // bytes are still read where they lie. A record keeps only the first field of a name.
    auto rows = std::make_shared<TableRows>();
    std::int32_t columns = 0;
    std::int64_t recordBytes = 1;  // the deletion flag
    const char* const unended =
        "the column descriptors end without their 0x0D mark: the object model refuses the table";
    for (;;) {
      std::int64_t at = dbf.position();
      if (at >= dbf.length()) return refuse(kTable, at, -1, unended);
      auto first = dbf.get<std::uint8_t>();
      if (first == dbf::kHeaderTerminator) break;
      // Columns are addressed in 16 bits; the header need not be read further to know that.
      if (columns++ == 32767) {
        return refuse(kTable, at, -1,
                      "the table has more than 32,767 columns: the object model refuses it");
      }
      if (dbf.length() - at < dbf::kDescriptorBytes) return refuse(kTable, at, -1, unended);
      format::FieldDescriptor column = getDescriptor(dbf, first);
      if (column.type != 'C' && dbf::fieldTypeOfLetter(column.type) == kelFieldTypeCharacter) {
        tell(format::Severity::Irregularity, kTable, at + format::kTypeLetterAt, -1,
             "column " + std::to_string(columns) + " has the type letter '" +
                 std::string(1, static_cast<char>(column.type)) +
                 "', which the object model reads as Character");
      }
      Ref<TableDescriptor> descriptor = describe(column);
      if (!describedKnown) {
        for (const Variant& item : descriptors) {
          described.insert(item.deref<TableDescriptor>().name());
        }
        describedKnown = true;
      }
      if (described.insert(descriptor->name()).second) descriptors.addObject(descriptor.get());
      // A column of width 0 takes no bytes of a row, and its values are empty.
      std::uint8_t width = descriptor->get_width();
      if (inFile.insert(descriptor->name()).second) {
        rows->addField(descriptor->name(), static_cast<std::size_t>(recordBytes), width);
      }
      recordBytes += width;
    }
    const std::int64_t rowsAt = dbf.position();
    if (header.headerLength != rowsAt) {
      tell(format::Severity::Irregularity, kTable, format::kHeaderLengthAt, -1,
           "the header length says the rows start at byte " + std::to_string(header.headerLength) +
               "; the object model reads them from byte " + std::to_string(rowsAt) +
               ", behind the 0x0D mark");
    }
    if (header.recordLength != recordBytes) {
      tell(format::Severity::Irregularity, kTable, format::kRecordLengthAt, -1,
           "the header gives rows of " + std::to_string(header.recordLength) +
               " bytes; the object model reads rows of " + std::to_string(recordBytes) +
               ", the deletion flag and the columns' widths");
    }
    // Shapes are counted in 16 bits, by a counter that must step past the last.
    if (shapes.count() > 32766) {
      return refuse(u".shx", format::kFileLengthAt, -1,
                    "the object model holds at most 32,766 shapes; this read would make " +
                        std::to_string(shapes.count()) + ": it refuses the file");
    }

    // The records keep the table's bytes, and each makes its fields from its own row when it is
    // first reached: a read holds about the file, not an object for every field of it.
    std::int64_t need = recordBytes * recordCount, room = dbf.length() - rowsAt;
    if (room < need) {
      return refuse(kTable, rowsAt, -1,
                    "the table's " + std::to_string(recordCount) + " rows of " + std::to_string(recordBytes) +
                        " bytes need " + std::to_string(need) + " bytes behind its header; the file holds " +
                        std::to_string(std::max<std::int64_t>(room, 0)) + ": the object model refuses it");
    }
    std::int16_t recordsIn16 = toInt16(std::int64_t{recordCount});
    auto bytes = static_cast<std::size_t>(recordBytes);
    dbf.get(rows->makeRoom(bytes, static_cast<std::size_t>(recordCount)),
            bytes * static_cast<std::size_t>(recordCount));
    std::vector<Ref<Record>> records;
    records.reserve(static_cast<std::size_t>(recordCount));
    ObjectArena arena;
    loop16(1, recordsIn16, [&](std::int16_t i) {
      // A deleted row still belongs to its shape.
      records.push_back(arena.make<Record>(rows, static_cast<std::size_t>(i - 1)));
    });

    std::int16_t shapeCount = toInt16(std::int64_t{shapes.count()});
    loop16(1, shapeCount, [&](std::int16_t i) {
      Object* object = shapes.peek(i);
      if (auto* shape = objectCast<ShapeObject>(object)) {
        shape->put_Record(std::move(records[i - 1]));  // what the read made, mostly
      } else {
        shapes.item(i).requireObject().putProperty(u"Record", Variant(records[i - 1]));
      }
    });
    return true;
  } catch (const std::exception& e) {
    return caught(u".dbf", "the table cannot be read", e);
  }
}

}  // namespace kel

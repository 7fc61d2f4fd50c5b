#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "kel/attributes/TableRows.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/CodePage.h"
#include "kel/shapefile/DbaseFormat.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/Shapefile.h"

namespace kel {

namespace {

// Reads the descriptor that begins with the byte `first`, already read.
Ref<TableDescriptor> getDescriptor(FileChannel& dbf, std::uint8_t first) {
  unsigned char bytes[dbf::kDescriptorBytes] = {first};
  dbf.get(bytes + 1, sizeof bytes - 1);
  format::FieldDescriptor d = format::FieldDescriptor::decode(bytes);
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

bool Shapefile::readTable(ChannelTable& channels) {
  try {
    FileChannel& dbf = channels.channel(toInt16(std::int64_t{driver_->dbfChannel_}));
    unsigned char header[dbf::kFileHeaderBytes];
    dbf.get(header, sizeof header);
    // The count is read as the signed number it is to the interface.
    auto recordCount = static_cast<std::int32_t>(format::DbfHeader::decode(header).recordCount);
    if (recordCount != shapeObjects_->count()) return false;

    // The description refuses a name it holds, as addTableDescriptor does; the names are looked
    // up in sets, since a scan for every column would make a long header cost its square.
    Collection& descriptors = deref(deref(tableDescription_).get_TableDescriptors());
    std::unordered_set<std::u16string> described, inFile;
    bool describedKnown = false;
    // The records are laid out by the file's own columns. When the table description held
    // columns before, or the file repeats a name, the description differs from that layout; the
    // bytes are still read where they lie. A record keeps only the first field of a name.
    auto rows = std::make_shared<TableRows>();
    std::int32_t columns = 0;
    std::int64_t recordBytes = 1;  // the deletion flag
    for (std::uint8_t b = dbf.get<std::uint8_t>(); b != dbf::kHeaderTerminator;) {
      // Columns are addressed in 16 bits; the header need not be read further to know that.
      if (columns++ == 32767) raise(ErrorNumber::Overflow);
      Ref<TableDescriptor> descriptor = getDescriptor(dbf, b);
      b = dbf.get<std::uint8_t>();
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

    // The records keep the table's bytes, and each makes its fields from its own row when it is
    // first reached: a read holds about the file, not an object for every field of it.
    if (dbf.length() - dbf.position() < recordBytes * recordCount) {
      raise(ErrorNumber::InputPastEndOfFile);
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

    std::int16_t shapes = toInt16(std::int64_t{shapeObjects_->count()});
    loop16(1, shapes, [&](std::int16_t i) {
      Object* object = shapeObjects_->peek(i);
      if (auto* shape = objectCast<ShapeObject>(object)) {
        shape->put_Record(std::move(records[i - 1]));  // what the read made, mostly
      } else {
        shapeObjects_->item(i).requireObject().putProperty(u"Record", Variant(records[i - 1]));
      }
    });
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".dbf", "the table cannot be read", e);
    return false;
  }
}

}  // namespace kel

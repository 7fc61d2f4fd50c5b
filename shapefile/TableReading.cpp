#include <algorithm>
#include <exception>
#include <string>
#include <unordered_set>
#include <vector>

#include "runtime/Checked.h"
#include "runtime/CodePage.h"
#include "shapefile/DbaseFormat.h"
#include "shapefile/Shapefile.h"

namespace kel {

namespace {

// A column as the file lays it out.
struct Column {
  std::u16string name;
  std::uint8_t width = 0;
  bool firstOfName = true;  // a record keeps only the first field of a name
};

void skip(FileChannel& dbf, std::int64_t n) {
  if (dbf.length() - dbf.position() < n) raise(ErrorNumber::InputPastEndOfFile);
  dbf.seek(dbf.position() + n);
}

// Reads the descriptor that begins with the byte `first`, already read.
Ref<TableDescriptor> getDescriptor(FileChannel& dbf, std::uint8_t first) {
  unsigned char rest[dbf::kDescriptorBytes - 1];
  dbf.get(rest, sizeof rest);
  // The first byte is the name's first character even when it is zero; behind it a zero byte is
  // skipped rather than ending the name.
  std::u16string name(1, ansiToChar(first));
  for (int i = 0; i < dbf::kNameBytes - 1; ++i) {
    if (rest[i] != 0) name += ansiToChar(rest[i]);
  }
  auto descriptor = makeRef<TableDescriptor>();
  descriptor->put_name(name);
  descriptor->put_fieldType(dbf::fieldTypeOfLetter(rest[10]));
  descriptor->put_width(rest[15]);
  descriptor->put_precision(rest[16]);
  return descriptor;
}

}  // namespace

bool Shapefile::readTable(ChannelTable& channels) {
  try {
    FileChannel& dbf = channels.channel(toInt16(std::int64_t{dbfChannel_}));
    skip(dbf, 4);  // version and date
    std::int32_t recordCount = dbf.get<std::int32_t>();
    if (recordCount != shapeObjects_->count()) return false;
    skip(dbf, dbf::kFileHeaderBytes - 8);  // header and record lengths, reserved

    // The description refuses a name it holds, as addTableDescriptor does; the names are looked
    // up in sets, since a scan for every column would make a long header cost its square.
    Collection& descriptors = deref(deref(tableDescription_).get_TableDescriptors());
    std::unordered_set<std::u16string> described, inFile;
    bool describedKnown = false;
    std::vector<Column> columns;
    std::int64_t recordBytes = 1;  // the deletion flag
    for (std::uint8_t b = dbf.get<std::uint8_t>(); b != dbf::kHeaderTerminator;) {
      // Columns are addressed in 16 bits; the header need not be read further to know that.
      if (columns.size() == 32767) raise(ErrorNumber::Overflow);
      Ref<TableDescriptor> descriptor = getDescriptor(dbf, b);
      b = dbf.get<std::uint8_t>();
      if (!describedKnown) {
        for (const Variant& item : descriptors) {
          described.insert(item.deref<TableDescriptor>().name());
        }
        describedKnown = true;
      }
      if (described.insert(descriptor->name()).second) descriptors.addObject(descriptor.get());
      bool first = inFile.insert(descriptor->name()).second;
      columns.push_back({descriptor->name(), descriptor->get_width(), first});
      recordBytes += descriptor->get_width();
      // A field of no bytes is malformed, and a table of them could make a few bytes of file
      // stand for billions of empty fields.
      if (descriptor->get_width() == 0) return false;
    }

    // The records are laid out by the file's own columns. When the table description held
    // columns before, or the file repeats a name, the description differs from that layout; the
    // bytes are still read where they lie.
    if (dbf.length() - dbf.position() < recordBytes * recordCount) {
      raise(ErrorNumber::InputPastEndOfFile);
    }
    std::vector<Ref<Record>> records;
    records.reserve(static_cast<std::size_t>(recordCount));
    std::size_t kept = 0;       // the fields of a record
    std::size_t keptChars = 0;  // and their names' and values' characters
    for (const Column& column : columns) {
      if (!column.firstOfName) continue;
      ++kept;
      keptChars += column.name.size() + column.width;
    }
    ObjectArena arena;
    std::string bytes;
    loop16(1, toInt16(std::int64_t{recordCount}), [&](std::int16_t) {
      auto record = arena.make<Record>(arena);
      dbf.get<std::uint8_t>();  // deletion flag: a deleted row still belongs to its shape
      // The fields go in as a row, which the record's list holds before anything can fail, and
      // their names and values lie right after it: they live as long as the fields, at no
      // allocation each.
      auto [row, room] = arena.makeRowWithRoom<RecordField>(kept, keptChars * sizeof(char16_t));
      deref(record->get_Fields())
          .adoptRow(row, static_cast<std::int32_t>(kept), sizeof(RecordField));
      auto* text = static_cast<char16_t*>(room);
      for (const Column& column : columns) {
        bytes.resize(column.width);
        dbf.get(bytes.data(), bytes.size());
        if (!column.firstOfName) continue;  // addField would refuse it
        std::copy(column.name.begin(), column.name.end(), text);
        ansiToText(bytes, text + column.name.size());
        row->borrowText(text, static_cast<std::uint16_t>(column.name.size()), column.width);
        text += column.name.size() + column.width;
        ++row;
      }
      records.push_back(std::move(record));
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
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kel

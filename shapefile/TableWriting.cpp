#include <algorithm>
#include <exception>
#include <vector>

#include "kel/format/DbaseFile.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/FileChannel.h"
#include "kel/runtime/CodePage.h"
#include "kel/runtime/LocalDate.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/WriteDriver.h"

namespace kel {

namespace {

std::uint8_t byteOf(char16_t c) {
  if (c < 0x80) return static_cast<std::uint8_t>(c);  // most text, without a call
  return toUInt8(std::int64_t{ansiCodeOf(c)});
}

// Whether the record holds a non-empty value for the column, its name compared case-blind.
bool hasValueFor(const Record& record, const TableDescriptor& column, std::int32_t position) {
  const Collection& fields = deref(record.get_Fields());
  // Records read from a table hold their fields in column order; look there first.
  if (position <= fields.count()) {
    const RecordField& field = fields.objectAt<RecordField>(position);
    if (!field.value().empty() && equalsIgnoringCase(field.name(), column.name())) return true;
  }
  for (const Variant& item : fields) {
    const RecordField& field = item.deref<RecordField>();
    if (!field.value().empty() && equalsIgnoringCase(field.name(), column.name())) return true;
  }
  return false;
}

// The value that the record gives a column: its first field of exactly that name. While the
// record's fields follow the (distinct) columns one for one, the field at the column's position
// is that first field; after the first difference, the record is searched.
class ValueLookup {
 public:
  ValueLookup(const Record& record, bool columnsDistinct)
      : record_(record), fields_(deref(record.get_Fields())), inStep_(columnsDistinct) {}

  std::u16string_view valueFor(const TableDescriptor& column, std::int32_t position) {
    if (inStep_ && position <= fields_.count()) {
      const RecordField& field = fields_.objectAt<RecordField>(position);
      if (field.name() == column.name()) return field.value();
    }
    inStep_ = false;
    held_ = record_.getFieldByName(column.name());
    return held_->value();
  }

 private:
  const Record& record_;
  const Collection& fields_;
  bool inStep_;
  Ref<RecordField> held_;
};

// Builds a piece of the table in `bytes` and puts it. `build` appends to the bytes and keeps in
// `kept` how many of them it has completed; when it fails, those are put and the failure goes on.
template <class Build>
void putPiece(FileChannel& dbf, std::vector<unsigned char>& bytes, Build&& build) {
  bytes.clear();
  std::size_t kept = 0;
  try {
    build(kept);
  } catch (...) {
    dbf.put(bytes.data(), kept);
    throw;
  }
  dbf.put(bytes.data(), bytes.size());
}

}  // namespace

bool WriteDriver::writeTable(FileChannel& dbf) {
  try {
    std::int16_t shapes = file_.get_ShapeObjectCount();
    const Collection& shapeObjects = deref(file_.get_ShapeObjects());
    std::vector<Ref<Record>> records;
    loop16(1, shapes, [&](std::int16_t i) {
      records.push_back(shapeObjects.objectAt<ShapeObject>(i).get_Record());
    });

    if (deref(file_.get_TableDescription()).get_DescriptorCount() == 0) {
      // No columns: one blank Character column, and blank records of its own; the shapes'
      // records are neither written nor changed.
      auto table = makeRef<TableDescription>();
      auto column = makeRef<TableDescriptor>();
      column->setTableDescriptor(u" ", kelFieldTypeCharacter, 1, 0);
      table->addTableDescriptor(column);
      file_.put_TableDescription(table);
      records.clear();
      loop16(1, shapes, [&](std::int16_t) {
        auto record = makeRef<Record>();
        auto field = makeRef<RecordField>();
        field->setRecordField(u" ", u" ");
        record->addField(field);
        records.push_back(record);
      });
    }

    TableDescription& table = *file_.get_TableDescription();
    std::vector<TableDescriptor*> columns;
    for (const Variant& item : deref(table.get_TableDescriptors())) {
      columns.push_back(&item.deref<TableDescriptor>());
    }

    // Complete every record: a column it has no value for gets a blank field, unless a field of
    // exactly the column's name (holding an empty value) is there already.
    for (const Ref<Record>& record : records) {
      for (std::size_t j = 0; j < columns.size(); ++j) {
        const TableDescriptor& column = *columns[j];
        if (hasValueFor(deref(record), column, static_cast<std::int32_t>(j + 1))) continue;
        auto blank = makeRef<RecordField>();
        blank->setRecordField(column.name(), u" ");
        record->addField(blank);
      }
    }

    // The header, the descriptors and the terminator go out as one piece, then each row. A piece
    // that fails leaves what it completed: the header's bytes before the field that failed, the
    // descriptors and the fields of a row before the one that failed.
    std::vector<unsigned char> bytes;
    putPiece(dbf, bytes, [&](std::size_t& kept) {
      LocalDate today = LocalDate::today();
      format::DbfHeader header;
      header.year = toUInt8(std::int64_t{today.year % 100});  // 26 for 2026
      header.month = toUInt8(std::int64_t{today.month});
      header.day = toUInt8(std::int64_t{today.day});
      header.recordCount =
          static_cast<std::uint32_t>(toInt32(static_cast<std::int64_t>(records.size())));
      bytes.resize(format::kDbfHeaderBytes);
      header.encode(bytes.data());
      kept = format::kHeaderLengthAt;
      std::int16_t columnCount = table.get_DescriptorCount();
      header.headerLength = static_cast<std::uint16_t>(
          add16(mul16(format::kDescriptorBytes, columnCount), format::kDbfHeaderBytes + 1));
      header.encode(bytes.data());
      kept = format::kRecordLengthAt;

      // Size the width-0 columns to their longest value, and sum the record length.
      std::int16_t recordLength = 0;
      loop16(1, columnCount, [&](std::int16_t i) {
        TableDescriptor& column = deref(table.getTableDescriptorByIndex(i));
        if (column.get_width() == 0) {
          std::size_t longest = 0;
          for (const Ref<Record>& record : records) {
            longest = std::max(longest, record->getFieldByName(column.name())->value().size());
          }
          column.put_width(toUInt8(static_cast<std::int64_t>(longest)));
        }
        recordLength = add16(recordLength, column.get_width());
      });
      header.recordLength = static_cast<std::uint16_t>(add16(recordLength, 1));
      header.encode(bytes.data());
      kept = bytes.size();

      for (const TableDescriptor* column : columns) {
        format::FieldDescriptor d;
        const std::u16string& name = column->name();
        for (std::size_t k = 0; k < name.size() && k + 1 < format::kFieldNameBytes; ++k) {
          d.name[k] = byteOf(name[k]);  // longer names lose the rest
        }
        d.type = toUInt8(std::int64_t{column->get_fieldType()});
        d.width = column->get_width();
        d.decimals = column->get_precision();
        bytes.resize(kept + format::kDescriptorBytes);
        d.encode(bytes.data() + kept);
        kept = bytes.size();
      }
      bytes.push_back(format::kHeaderTerminator);
    });

    bool distinct = true;
    for (std::size_t a = 0; a < columns.size() && distinct; ++a) {
      for (std::size_t b = a + 1; b < columns.size() && distinct; ++b) {
        distinct = columns[a]->name() != columns[b]->name();
      }
    }
    for (const Ref<Record>& record : records) {
      putPiece(dbf, bytes, [&](std::size_t& kept) {
        bytes.push_back(format::kNotDeleted);
        kept = bytes.size();
        ValueLookup lookup(deref(record), distinct);
        for (std::size_t j = 0; j < columns.size(); ++j) {
          std::u16string_view value =
              lookup.valueFor(*columns[j], static_cast<std::int32_t>(j + 1));
          toInt16(static_cast<std::int64_t>(value.size()));  // lengths are 16-bit
          // Right-aligned and blank-filled; a longer value keeps its last characters.
          std::size_t width = columns[j]->get_width();
          bytes.resize(kept + width, ' ');
          unsigned char* field = bytes.data() + kept;
          std::size_t placed = std::min(width, value.size());
          for (std::size_t k = 1; k <= placed; ++k)
            field[width - k] = byteOf(value[value.size() - k]);
          kept = bytes.size();
        }
      });
    }
    dbf.put(format::kEndOfFileMark);
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".dbf", "the table cannot be written", e);
    return false;
  }
}

}  // namespace kel

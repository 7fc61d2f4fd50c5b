#include "kel/attributes/Record.h"

#include <exception>

#include "kel/attributes/TableRows.h"
#include "kel/runtime/Checked.h"

namespace kel {

Record::Record() : Object(this), fields_(makeRef<Collection>()) {}

Record::Record(std::shared_ptr<const TableRows> rows, std::size_t row) noexcept
    : Object(this), rows_(std::move(rows)), row_(row) {}

void Record::makeFields() const {
  auto fields = makeRef<Collection>();
  rows_->makeFields(row_, *fields);
  fields_ = std::move(fields);
  rows_.reset();
}

bool Record::setField(std::u16string_view name, std::u16string_view value) {
  for (const Variant& item : deref(fields())) {
    RecordField& field = item.deref<RecordField>();
    if (field.name() == name) {
      field.put_value(value);
      return true;
    }
  }
  return false;
}

bool Record::addField(const Ref<RecordField>& fld) {
  Collection& list = deref(fields());
  for (const Variant& item : list) {
    // The new field's name is read again for every comparison, so a null field fails here.
    if (item.deref<RecordField>().name() == deref(fld).name()) return false;
  }
  list.addObject(fld.get());
  return true;
}

bool Record::removeFieldByName(std::u16string_view name) {
  Collection& list = deref(fields());
  std::int16_t count = toInt16(std::int64_t{list.count()});
  bool removed = false;
  loop16(1, count, [&](std::int16_t i) {
    if (list.objectAt<RecordField>(i).name() != name) return true;
    list.remove(i);
    removed = true;
    return false;
  });
  return removed;
}

bool Record::removeFieldByIndex(std::int16_t index) noexcept {
  try {
    deref(fields()).remove(index);
    return true;
  } catch (const std::exception&) {  // making a read record's fields may run out of memory
    return false;
  }
}

Ref<RecordField> Record::getFieldByName(std::u16string_view name) const {
  for (const Variant& item : deref(fields())) {
    RecordField& field = item.deref<RecordField>();
    if (field.name() == name) return Ref<RecordField>(&field);
  }
  return makeRef<RecordField>();
}

Ref<RecordField> Record::getFieldByIndex(std::int16_t index) const {
  const Collection& list = deref(fields());
  if (index > 0 && index <= list.count()) return list.item(index).as<RecordField>();
  return makeRef<RecordField>();
}

std::int16_t Record::get_FieldCount() const {
  return toInt16(std::int64_t{deref(fields()).count()});
}

}  // namespace kel

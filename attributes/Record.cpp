#include "attributes/Record.h"

#include "runtime/Checked.h"

namespace kel {

Record::Record() : Object(this), fields_(makeRef<Collection>()) {}

Record::Record(ObjectArena& arena) : Object(this), fields_(arena.make<Collection>()) {}

bool Record::setField(std::u16string_view name, std::u16string_view value) {
  for (const Variant& item : deref(fields_)) {
    RecordField& field = item.deref<RecordField>();
    if (field.name() == name) {
      field.put_value(value);
      return true;
    }
  }
  return false;
}

bool Record::addField(const Ref<RecordField>& fld) {
  Collection& fields = deref(fields_);
  for (const Variant& item : fields) {
    // The new field's name is read again for every comparison, so a null field fails here.
    if (item.deref<RecordField>().name() == deref(fld).name()) return false;
  }
  fields.addObject(fld.get());
  return true;
}

bool Record::removeFieldByName(std::u16string_view name) {
  Collection& fields = deref(fields_);
  std::int16_t count = toInt16(std::int64_t{fields.count()});
  bool removed = false;
  loop16(1, count, [&](std::int16_t i) {
    if (fields.objectAt<RecordField>(i).name() != name) return true;
    fields.remove(i);
    removed = true;
    return false;
  });
  return removed;
}

bool Record::removeFieldByIndex(std::int16_t index) noexcept {
  try {
    deref(fields_).remove(index);
    return true;
  } catch (const Error&) {
    return false;
  }
}

Ref<RecordField> Record::getFieldByName(std::u16string_view name) const {
  for (const Variant& item : deref(fields_)) {
    RecordField& field = item.deref<RecordField>();
    if (field.name() == name) return Ref<RecordField>(&field);
  }
  return makeRef<RecordField>();
}

Ref<RecordField> Record::getFieldByIndex(std::int16_t index) const {
  const Collection& fields = deref(fields_);
  if (index > 0 && index <= fields.count()) return fields.item(index).as<RecordField>();
  return makeRef<RecordField>();
}

std::int16_t Record::get_FieldCount() const {
  return toInt16(std::int64_t{deref(fields_).count()});
}

}  // namespace kel

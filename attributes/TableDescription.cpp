#include "kel/attributes/TableDescription.h"

#include "kel/runtime/Checked.h"

namespace kel {

TableDescription::TableDescription() : Object(this), descriptors_(makeRef<Collection>()) {}

Ref<TableDescriptor> TableDescription::getTableDescriptorByName(std::u16string_view name) const {
  for (const Variant& item : deref(descriptors_)) {
    TableDescriptor& descriptor = item.deref<TableDescriptor>();
    if (descriptor.name() == name) return Ref<TableDescriptor>(&descriptor);
  }
  return makeRef<TableDescriptor>();
}

Ref<TableDescriptor> TableDescription::getTableDescriptorByIndex(std::int16_t index) const {
  const Collection& descriptors = deref(descriptors_);
  if (index > 0 && index <= descriptors.count()) {
    return descriptors.item(index).as<TableDescriptor>();
  }
  return makeRef<TableDescriptor>();
}

Variant TableDescription::setTableDescriptorType(std::u16string_view name,
                                                 FieldTypeConstants type_) {
  for (const Variant& item : deref(descriptors_)) {
    TableDescriptor& descriptor = item.deref<TableDescriptor>();
    if (descriptor.name() == name) {
      descriptor.put_fieldType(type_);
      break;
    }
  }
  return {};
}

bool TableDescription::addTableDescriptor(const Ref<TableDescriptor>& td) {
  Collection& descriptors = deref(descriptors_);
  for (const Variant& item : descriptors) {
    if (item.deref<TableDescriptor>().name() == deref(td).name()) return false;
  }
  descriptors.addObject(td.get());
  return true;
}

std::int16_t TableDescription::get_DescriptorCount() const {
  return toInt16(std::int64_t{deref(descriptors_).count()});
}

bool TableDescription::removeTableDescriptorByName(std::u16string_view name) {
  Collection& descriptors = deref(descriptors_);
  std::int16_t count = toInt16(std::int64_t{descriptors.count()});
  bool removed = false;
  loop16(1, count, [&](std::int16_t i) {
    if (descriptors.item(i).requireObject().getProperty(u"name").toText() != name) return true;
    descriptors.remove(i);
    removed = true;
    return false;
  });
  return removed;
}

bool TableDescription::removeTableDescriptorByIndex(std::int16_t index) noexcept {
  try {
    deref(descriptors_).remove(index);
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace kel

#include "kel/attributes/TableDescriptor.h"

#include "kel/runtime/Text.h"

namespace kel {

Variant TableDescriptor::setTableDescriptor(std::u16string_view name, FieldTypeConstants fieldType,
                                            std::uint8_t width, std::uint8_t precision) {
  name_ = name;
  fieldType_ = fieldType;
  width_ = width;
  precision_ = precision;
  return {};
}

Variant TableDescriptor::getLateBound(std::u16string_view name) const {
  if (equalsIgnoringCase(name, u"name")) return Variant(name_);
  raiseNoSuchMember();
}

}  // namespace kel

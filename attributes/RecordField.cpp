#include "attributes/RecordField.h"

#include "runtime/Text.h"
#include "runtime/Variant.h"

namespace kel {

Variant RecordField::getProperty(std::u16string_view name) const {
  if (equalsIgnoringCase(name, u"name")) return Variant(name_);
  return Object::getProperty(name);
}

}  // namespace kel

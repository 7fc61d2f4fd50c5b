#include "attributes/RecordField.h"

#include "runtime/Text.h"
#include "runtime/Variant.h"

namespace kel {

Variant RecordField::getLateBound(std::u16string_view name) const {
  if (equalsIgnoringCase(name, u"name")) return Variant(name_);
  raiseNoSuchMember();
}

}  // namespace kel

#include "kel/attributes/RecordField.h"

#include "kel/runtime/Text.h"
#include "kel/runtime/Variant.h"

namespace kel {

// Out of line: inlined into its callers, the two assignments set off a false -Wrestrict in GCC 12.
void RecordField::setRecordField(std::u16string_view recName, std::u16string_view recValue) {
  name_ = recName;
  value_ = recValue;
  nameBorrowed_ = valueBorrowed_ = false;
}

Variant RecordField::getLateBound(std::u16string_view name) const {
  if (equalsIgnoringCase(name, u"name")) return Variant(this->name());
  raiseNoSuchMember();
}

}  // namespace kel

#include "runtime/Collection.h"

namespace kel {

const Variant& Collection::item(std::int32_t index) const {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  return items_[static_cast<std::size_t>(index) - 1];
}

void Collection::remove(std::int32_t index) {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  items_.erase(items_.begin() + (index - 1));
}

}  // namespace kel

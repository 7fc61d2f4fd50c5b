#include "runtime/Collection.h"

#include "runtime/ObjectArena.h"

namespace kel {

Collection::~Collection() {
  if (row_ != nullptr)
    ObjectArena::releaseRow(row_, static_cast<std::size_t>(rowCount_), rowStride_);
}

void Collection::add(Variant item) {
  unrow();
  items_.push_back(std::move(item));
}

Variant Collection::item(std::int32_t index) const {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  return at(index - 1);
}

void Collection::remove(std::int32_t index) {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  unrow();
  items_.erase(items_.begin() + (index - 1));
}

void Collection::reserve(std::int32_t n) {
  unrow();
  items_.reserve(n > 0 ? static_cast<std::size_t>(n) : 0);
}

void Collection::adoptRow(Object* first, std::int32_t n, std::size_t stride) {
  if (count() != 0 || n < 0) raise(ErrorNumber::InvalidProcedureCall);
  if (n == 0) return;
  row_ = first;
  rowCount_ = n;
  rowStride_ = static_cast<std::uint32_t>(stride);
}

void Collection::unrow() {
  if (row_ == nullptr) return;
  std::vector<Variant> items;
  items.reserve(static_cast<std::size_t>(rowCount_));
  for (std::int32_t i = 0; i < rowCount_; ++i) {
    items.emplace_back(Ref<Object>(rowObject(i)));
  }
  // Only now that nothing can fail does the list's reference move from the row to the items.
  for (std::int32_t i = 0; i < rowCount_; ++i) rowObject(i)->release();
  items_ = std::move(items);
  row_ = nullptr;
  rowCount_ = 0;
}

}  // namespace kel

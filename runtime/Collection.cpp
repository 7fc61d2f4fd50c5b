#include "kel/runtime/Collection.h"

#include "kel/runtime/ObjectArena.h"

namespace kel {

Collection::~Collection() {
  if (row_ != nullptr)
    ObjectArena::releaseRow(row_, static_cast<std::size_t>(rowCount_), rowStride_);
  if (auto* objects = std::get_if<Objects>(&items_)) {
    ObjectArena::releaseAll(objects->data(), objects->size());
  }
}

void Collection::add(Variant item) {
  if (item.isObject()) return addObject(item.object());
  unrow();
  toVariants().push_back(std::move(item));
}

void Collection::addObjectSlowly(Object* object) {
  unrow();
  if (auto* objects = std::get_if<Objects>(&items_)) {
    // Three pointers take the allocator's smallest block, as one would: a record's few fields
    // and a short line's vertices then grow in place for a while.
    if (objects->capacity() == 0) objects->reserve(3);
    objects->push_back(object);
    if (object != nullptr) object->addRef();  // only once the list holds it
    return;
  }
  toVariants().emplace_back(Ref<Object>(object));
}

Variant Collection::item(std::int32_t index) const {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  return at(index - 1);
}

void Collection::remove(std::int32_t index) {
  if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
  unrow();
  auto i = static_cast<std::ptrdiff_t>(index) - 1;
  if (auto* objects = std::get_if<Objects>(&items_)) {
    Object* object = (*objects)[static_cast<std::size_t>(i)];
    objects->erase(objects->begin() + i);
    if (object != nullptr) object->release();
    return;
  }
  auto& variants = std::get<Variants>(items_);
  variants.erase(variants.begin() + i);
}

void Collection::reserve(std::int32_t n) {
  unrow();
  std::visit([n](auto& v) { v.reserve(n > 0 ? static_cast<std::size_t>(n) : 0); }, items_);
}

void Collection::reserveValues(std::int32_t n) {
  if (count() == 0 && std::holds_alternative<Objects>(items_)) items_ = Variants();
  reserve(n);
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
  // The row's references move to the pointers as they are; only an empty list took the row.
  Objects objects;
  objects.reserve(static_cast<std::size_t>(rowCount_));
  for (std::int32_t i = 0; i < rowCount_; ++i) objects.push_back(rowObject(i));
  items_ = std::move(objects);
  row_ = nullptr;
  rowCount_ = 0;
}

Collection::Variants& Collection::toVariants() {
  auto* objects = std::get_if<Objects>(&items_);
  if (objects == nullptr) return std::get<Variants>(items_);
  Variants variants;
  variants.reserve(objects->size() + 1);
  for (Object* object : *objects) variants.emplace_back(Ref<Object>(object));
  // Only now that nothing can fail do the references move from the pointers to the variants.
  for (Object* object : *objects) {
    if (object != nullptr) object->release();
  }
  items_ = std::move(variants);
  return std::get<Variants>(items_);
}

}  // namespace kel

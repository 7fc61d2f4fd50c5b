#pragma once

#include <cstdint>
#include <vector>

#include "runtime/Object.h"
#include "runtime/Variant.h"

namespace kel {

// The ordered list behind every list of the object model: positions run from 1 to count(), items
// are appended at the end, and a position outside that range is "subscript out of range".
class Collection final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Collection;

  Collection() noexcept : Object(kClassId) {}

  void add(Variant item) { items_.push_back(std::move(item)); }
  const Variant& item(std::int32_t index) const;
  void remove(std::int32_t index);
  std::int32_t count() const noexcept { return static_cast<std::int32_t>(items_.size()); }

  // Room for n items without reallocation; a reader that knows its counts asks for it.
  void reserve(std::int32_t n) { items_.reserve(n > 0 ? static_cast<std::size_t>(n) : 0); }

  // In-order enumeration ("For Each").
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  std::vector<Variant> items_;
};

}  // namespace kel

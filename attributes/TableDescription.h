#pragma once

#include <cstdint>
#include <string_view>

#include "kel/attributes/FieldTypeConstants.h"
#include "kel/attributes/TableDescriptor.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Ref.h"
#include "kel/runtime/Variant.h"

namespace kel {

// The schema of the dBASE table: an ordered list of TableDescriptors, one per column. Names are
// compared exactly (letter case counts). Lookups that miss answer with a new default descriptor
// that belongs to no description.
class TableDescription final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::TableDescription;

  TableDescription();

  Ref<Collection> get_TableDescriptors() const noexcept { return descriptors_; }
  void putref_TableDescriptors(Ref<Collection> descriptors) noexcept {
    descriptors_ = std::move(descriptors);
  }

  Ref<TableDescriptor> getTableDescriptorByName(std::u16string_view name) const;
  Ref<TableDescriptor> getTableDescriptorByIndex(std::int16_t index) const;
  // Sets the type of the first column of that name; no such column is no error. Returns empty.
  Variant setTableDescriptorType(std::u16string_view name, FieldTypeConstants type_);
  // Appends the caller's descriptor itself, unless one of the same name is there (then false).
  bool addTableDescriptor(const Ref<TableDescriptor>& td);
  std::int16_t get_DescriptorCount() const;
  // Removes the first item whose "name" equals `name`. Items are asked for their name late-bound,
  // so anything with a name property passes; a 16-bit counter walks the positions.
  bool removeTableDescriptorByName(std::u16string_view name);
  // Removes the column at a 1-based position; false for any failure, with nothing removed.
  bool removeTableDescriptorByIndex(std::int16_t index) noexcept;

 private:
  Ref<Collection> descriptors_;
};

}  // namespace kel

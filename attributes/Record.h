#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "kel/attributes/RecordField.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Ref.h"

namespace kel {

class TableRows;

// The attributes of one shape: an ordered list of RecordFields. Names are compared exactly
// (letter case counts) and the first match wins. Lookups that miss answer with a new field that
// belongs to no record; refusals answer false, never an error.
//
// A record of a table read makes its fields from its row of the file when it is first reached,
// by any member: until then it holds only its place in the read's rows.
class Record final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Record;

  Record();
  // The record of row `row` (0-based) of a table read.
  Record(std::shared_ptr<const TableRows> rows, std::size_t row) noexcept;

  // Sets the value of the first field of that name; false, and no new field, when there is none.
  bool setField(std::u16string_view name, std::u16string_view value);
  // Appends the caller's field itself, unless a field of the same name is there (then false).
  bool addField(const Ref<RecordField>& fld);
  // Removes the first field of that name. Counts positions in 16 bits: more than 32767 fields, or
  // exactly 32767 without a match, end in an overflow error.
  bool removeFieldByName(std::u16string_view name);
  // Removes the field at a 1-based position; false for any failure, with nothing removed.
  bool removeFieldByIndex(std::int16_t index) noexcept;
  Ref<RecordField> getFieldByName(std::u16string_view name) const;
  Ref<RecordField> getFieldByIndex(std::int16_t index) const;
  std::int16_t get_FieldCount() const;

  Ref<Collection> get_Fields() const { return fields(); }
  void putref_Fields(Ref<Collection> fields) noexcept {
    rows_.reset();  // the read's row is no longer wanted
    fields_ = std::move(fields);
  }

 private:
  const Ref<Collection>& fields() const {
    if (rows_ != nullptr) makeFields();
    return fields_;
  }
  void makeFields() const;

  mutable Ref<Collection> fields_;
  mutable std::shared_ptr<const TableRows> rows_;  // until the fields are made
  std::size_t row_ = 0;
};

}  // namespace kel

#include "kel/attributes/TableRows.h"

#include <algorithm>

#include "kel/attributes/RecordField.h"
#include "kel/runtime/CodePage.h"
#include "kel/runtime/ObjectArena.h"

namespace kel {

void TableRows::addField(std::u16string_view name, std::size_t offset, std::uint8_t width) {
  // A dBASE name has at most 10 characters and a row at most 32767 columns of 255 bytes, so the
  // narrow members hold whatever a file can say.
  fields_.push_back({static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(names_.size()),
                     static_cast<std::uint16_t>(name.size()), width});
  names_ += name;
  chars_ += name.size() + width;
}

unsigned char* TableRows::makeRoom(std::size_t rowBytes, std::size_t rows) {
  rowBytes_ = rowBytes;
  bytes_ = std::make_unique_for_overwrite<unsigned char[]>(rowBytes * rows);
  return bytes_.get();
}

void TableRows::makeFields(std::size_t row, Collection& fields) const {
  // The names and values lie right after the fields, in the same chunk: they live as long as the
  // fields, at no allocation each.
  auto [first, room] = ObjectArena::ofThisThread().makeRowWithRoom<RecordField>(
      fields_.size(), chars_ * sizeof(char16_t));
  fields.adoptRow(first, static_cast<std::int32_t>(fields_.size()), sizeof(RecordField));
  const unsigned char* bytes = bytes_.get() + row * rowBytes_;
  auto* text = static_cast<char16_t*>(room);
  RecordField* field = first;
  for (const Field& f : fields_) {
    std::copy_n(names_.data() + f.nameStart, f.nameChars, text);
    ansiToText({reinterpret_cast<const char*>(bytes + f.offset), f.width}, text + f.nameChars);
    field->borrowText(text, f.nameChars, f.width);
    text += f.nameChars + f.width;
    ++field;
  }
}

}  // namespace kel

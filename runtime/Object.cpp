#include "kel/runtime/Object.h"

#include "kel/runtime/Error.h"
#include "kel/runtime/Variant.h"

namespace kel {

std::u16string_view className(ClassId id) noexcept {
  switch (id) {
    case ClassId::Collection:
      return u"Collection";
    case ClassId::BoundingBox:
      return u"BoundingBox";
    case ClassId::Coordinate:
      return u"Coordinate";
    case ClassId::ShapeObject:
      return u"ShapeObject";
    case ClassId::Record:
      return u"Record";
    case ClassId::RecordField:
      return u"RecordField";
    case ClassId::TableDescriptor:
      return u"TableDescriptor";
    case ClassId::TableDescription:
      return u"TableDescription";
    case ClassId::Shapefile:
      return u"Shapefile";
  }
  return u"";
}

void Object::raiseNoSuchMember() {
  raise(ErrorNumber::ObjectDoesntSupportMember);
}

Variant Object::getProperty(std::u16string_view name) const {
  auto get = objectClass().getProperty;
  if (get == nullptr) raiseNoSuchMember();
  return get(*this, name);
}

void Object::putProperty(std::u16string_view name, const Variant& value) {
  auto put = objectClass().putProperty;
  if (put == nullptr) raiseNoSuchMember();
  put(*this, name, value);
}

}  // namespace kel

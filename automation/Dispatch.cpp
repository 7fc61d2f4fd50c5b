#include "kel/automation/Dispatch.h"

#include <vector>

#include "kel/runtime/Text.h"

namespace kel::automation {

namespace {

ErrorNumber errorOf(Refused why) {
  return why == Refused::BadParamCount ? ErrorNumber::WrongNumberOfArguments
                                       : ErrorNumber::ObjectDoesntSupportMember;
}

unsigned flagOf(MemberKind kind) {
  switch (kind) {
    case MemberKind::Method:
      return kMethod;
    case MemberKind::PropertyGet:
      return kPropertyGet;
    case MemberKind::PropertyPut:
      return kPropertyPut;
    case MemberKind::PropertyPutRef:
      return kPropertyPutRef;
  }
  return 0;
}

// The member that answers the call: the first of the id whose kind the flags ask for; a put and a
// putref stand in for each other when the property has only one of them.
const Member& memberFor(const ClassInfo& info, std::int32_t id, unsigned flags) {
  if (flags & (kPropertyPut | kPropertyPutRef)) flags |= kPropertyPut | kPropertyPutRef;
  for (const Member& m : info.members) {
    if (m.dispatchId == id && (flags & flagOf(m.kind))) return m;
  }
  throw Refusal(Refused::MemberNotFound);
}

}  // namespace

Refusal::Refusal(Refused why) : Error(errorOf(why)), why_(why) {}

std::int32_t dispatchIdOf(const Object& object, std::u16string_view name) {
  for (const Member& m : classInfo(object.classId()).members) {
    if (equalsIgnoringCase(m.name, name)) return m.dispatchId;
  }
  throw Refusal(Refused::UnknownName);
}

Variant invoke(Object& object, std::int32_t dispatchId, unsigned flags,
               std::span<Variant> arguments) {
  const Member& m = memberFor(classInfo(object.classId()), dispatchId, flags);
  std::size_t required = 0;
  for (const Parameter& p : m.parameters) required += p.optional ? 0 : 1;
  if (arguments.size() > m.parameters.size() || arguments.size() < required) {
    throw Refusal(Refused::BadParamCount);
  }
  if (arguments.size() == m.parameters.size()) return m.invoke(object, arguments);
  std::vector<Variant> full(arguments.begin(), arguments.end());
  for (std::size_t i = arguments.size(); i < m.parameters.size(); ++i) {
    full.push_back(m.parameters[i].defaultValue);
  }
  Variant result = m.invoke(object, full);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (m.parameters[i].written) arguments[i] = full[i];
  }
  return result;
}

Variant invoke(Object& object, std::u16string_view name, unsigned flags,
               std::span<Variant> arguments) {
  return invoke(object, dispatchIdOf(object, name), flags, arguments);
}

Ref<Object> createObject(std::u16string_view programmaticId) {
  const TypeLibrary& library = typeLibrary();
  for (const ClassInfo* c : library.classes) {
    std::u16string id = std::u16string(library.name) + u"." + c->name;
    if (c->create != nullptr && equalsIgnoringCase(id, programmaticId)) return c->create();
  }
  raise(ErrorNumber::CantCreateObject);
}

}  // namespace kel::automation

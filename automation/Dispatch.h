#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "kel/automation/TypeLibrary.h"
#include "kel/runtime/Error.h"

namespace kel::automation {

// How a caller asks for a member, as automation's invoke flags do; a script's plain call
// `obj.Name` asks for a method or a property get at once.
enum InvokeFlags : unsigned {
  kMethod = 1,
  kPropertyGet = 2,
  kPropertyPut = 4,
  kPropertyPutRef = 8,
};

// The answers with which automation refuses a call before any member runs.
enum class Refused : std::uint32_t {
  MemberNotFound = 0x80020003,  // no member of that dispatch id and kind
  UnknownName = 0x80020006,     // no member of that name
  BadParamCount = 0x8002000E,   // more arguments than parameters, or fewer than required
};

// A refused call. It is also an automation error (438 for an unknown member, 450 for a wrong
// number of arguments), for callers that only know errors.
class Refusal : public Error {
 public:
  explicit Refusal(Refused why);
  Refused why() const noexcept { return why_; }

 private:
  Refused why_;
};

// The dispatch id of the member named `name` (letter case ignored) of the object's class.
std::int32_t dispatchIdOf(const Object& object, std::u16string_view name);

// Invokes the member of that dispatch id and kind on the object, with the arguments in the
// member's order; optional parameters left off the end take their defaults. Each argument is
// converted to its parameter's type as automation converts it (a failure is the error of the
// conversion: overflow, type mismatch); a written argument (the paths of readShapefile and
// writeShapefile) comes back changed. For a put or putref the value is the last argument. A put
// asked of an object property that has only a putref, or the other way round, takes the one it
// has. Errors of the member come out as kel::Error, with number, source and description.
Variant invoke(Object& object, std::int32_t dispatchId, unsigned flags,
               std::span<Variant> arguments);

// The same, by name.
Variant invoke(Object& object, std::u16string_view name, unsigned flags,
               std::span<Variant> arguments);

// A new object of the class with that programmatic identifier, "kelShapeLib.Shapefile" and so
// on (letter case ignored); error 429 for any other.
Ref<Object> createObject(std::u16string_view programmaticId);

}  // namespace kel::automation

#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "kel/attributes/FieldTypeConstants.h"
#include "kel/automation/TypeLibrary.h"
#include "kel/geometry/ShapeTypeConstants.h"

// How a row of the type library is bound to the typed C++ member it describes: the parameter and
// result types come from the member's own signature, so a row names only what the signature
// cannot say (names, dispatch id, help string, defaults).

namespace kel::automation::binding {

template <class F>
struct Signature;
template <class C, class R, class... P>
struct Signature<R (C::*)(P...)> {
  using Class = C;
  using Result = R;
  using Parameters = std::tuple<P...>;
};
template <class C, class R, class... P>
struct Signature<R (C::*)(P...) const> : Signature<R (C::*)(P...)> {};
template <class C, class R, class... P>
struct Signature<R (C::*)(P...) noexcept> : Signature<R (C::*)(P...)> {};
template <class C, class R, class... P>
struct Signature<R (C::*)(P...) const noexcept> : Signature<R (C::*)(P...)> {};

template <class T>
struct IsRef : std::false_type {};
template <class T>
struct IsRef<Ref<T>> : std::true_type {
  using Target = T;
};

// One C++ parameter type: its automation type, and the argument converted for the call.
template <class P>
struct Argument {
  using Plain = std::remove_cvref_t<P>;
  static constexpr bool kWritten =
      std::is_same_v<P, std::u16string&>;  // by reference, and written back

  static TypeRef type() {
    if constexpr (std::is_void_v<P>) {
      return {ValueType::Void};
    } else if constexpr (std::is_same_v<Plain, bool>) {
      return {ValueType::Boolean};
    } else if constexpr (std::is_same_v<Plain, std::uint8_t>) {
      return {ValueType::Byte};
    } else if constexpr (std::is_same_v<Plain, std::int16_t>) {
      return {ValueType::Integer};
    } else if constexpr (std::is_same_v<Plain, std::int32_t>) {
      return {ValueType::Long};
    } else if constexpr (std::is_same_v<Plain, double>) {
      return {ValueType::Double};
    } else if constexpr (std::is_same_v<Plain, std::u16string> ||
                         std::is_same_v<Plain, std::u16string_view>) {
      return {ValueType::String};
    } else if constexpr (std::is_same_v<Plain, Variant>) {
      return {ValueType::Variant};
    } else if constexpr (std::is_same_v<Plain, ShapeTypeConstants>) {
      return {ValueType::Enumeration, ClassId::Collection, &shapeTypeConstants()};
    } else if constexpr (std::is_same_v<Plain, FieldTypeConstants>) {
      return {ValueType::Enumeration, ClassId::Collection, &fieldTypeConstants()};
    } else {
      static_assert(IsRef<Plain>::value, "a type automation does not carry");
      return {ValueType::Object, IsRef<Plain>::Target::kClassId};
    }
  }

  // The value handed to the member, held for the length of the call.
  static auto convert(const Variant& v) {
    if constexpr (std::is_same_v<Plain, bool>) {
      return v.toBoolean();
    } else if constexpr (std::is_same_v<Plain, std::uint8_t>) {
      return v.toByte();
    } else if constexpr (std::is_same_v<Plain, std::int16_t>) {
      return v.toInt16();
    } else if constexpr (std::is_same_v<Plain, std::int32_t>) {
      return v.toInt32();
    } else if constexpr (std::is_same_v<Plain, double>) {
      return v.toDouble();
    } else if constexpr (std::is_same_v<Plain, std::u16string> ||
                         std::is_same_v<Plain, std::u16string_view>) {
      return v.toText();
    } else if constexpr (std::is_same_v<Plain, Variant>) {
      return v;
    } else if constexpr (std::is_enum_v<Plain>) {
      return static_cast<Plain>(v.toInt32());
    } else {
      return v.as<typename IsRef<Plain>::Target>();
    }
  }
};

template <class R>
Variant resultOf(R&& r) {
  using Plain = std::remove_cvref_t<R>;
  if constexpr (std::is_same_v<Plain, bool>) {
    return Variant::boolean(r);
  } else if constexpr (std::is_same_v<Plain, std::uint8_t>) {
    return Variant::byte(r);
  } else if constexpr (std::is_enum_v<Plain>) {
    return Variant(static_cast<std::int32_t>(r));
  } else if constexpr (std::is_same_v<Plain, std::u16string>) {
    return Variant(std::u16string_view(r));
  } else {
    return Variant(std::forward<R>(r));
  }
}

template <class P, class Held>
void writeBack(Variant& argument, const Held& held) {
  if constexpr (Argument<P>::kWritten) argument = Variant(std::u16string_view(held));
}

template <auto F>
Variant invoke(Object& self, std::span<Variant> arguments) {
  using S = Signature<decltype(F)>;
  using Params = typename S::Parameters;
  auto& object = static_cast<typename S::Class&>(self);
  return [&]<std::size_t... I>(std::index_sequence<I...>) {
    auto held =
        std::make_tuple(Argument<std::tuple_element_t<I, Params>>::convert(arguments[I])...);
    Variant result;
    if constexpr (std::is_void_v<typename S::Result>) {
      (object.*F)(std::get<I>(held)...);
    } else {
      result = resultOf((object.*F)(std::get<I>(held)...));
    }
    // The normalised paths of the drivers go back into the caller's arguments.
    (writeBack<std::tuple_element_t<I, Params>>(arguments[I], std::get<I>(held)), ...);
    return result;
  }
  (std::make_index_sequence<std::tuple_size_v<Params>>{});
}

// A parameter's name, and its default when it may be left out.
struct ParameterName {
  ParameterName(const char16_t* name) : name(name) {}  // NOLINT: rows list plain names
  ParameterName(const char16_t* name, Variant defaultValue)
      : name(name), optional(true), defaultValue(std::move(defaultValue)) {}
  std::u16string name;
  bool optional = false;
  Variant defaultValue;
};

template <auto F>
Member member(MemberKind kind, std::u16string_view name, std::int32_t id,
              std::initializer_list<ParameterName> names, std::u16string_view help) {
  using S = Signature<decltype(F)>;
  using Params = typename S::Parameters;
  Member m{std::u16string(name), kind,      id, {}, Argument<typename S::Result>::type(),
           std::u16string(help), &invoke<F>};
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (m.parameters.push_back(Parameter{{},
                                      Argument<std::tuple_element_t<I, Params>>::type(),
                                      false,
                                      {},
                                      Argument<std::tuple_element_t<I, Params>>::kWritten}),
     ...);
  }
  (std::make_index_sequence<std::tuple_size_v<Params>>{});
  std::size_t i = 0;
  for (const ParameterName& p : names) {
    if (i >= m.parameters.size()) break;
    m.parameters[i].name = p.name;
    m.parameters[i].optional = p.optional;
    m.parameters[i].defaultValue = p.defaultValue;
    ++i;
  }
  return m;
}

// Builds one class's row set in slot order.
template <class C>
class ClassRows {
 public:
  ClassRows(std::u16string_view name, std::u16string_view documentation) {
    info_.id = C::kClassId;
    info_.name = name;
    info_.interfaceName = u"_" + std::u16string(name);
    info_.documentation = documentation;
    info_.create = [] { return Ref<Object>(makeRef<C>()); };
  }

  template <auto F>
  ClassRows& method(std::u16string_view name, std::int32_t id,
                    std::initializer_list<ParameterName> parameters, std::u16string_view help) {
    info_.members.push_back(member<F>(MemberKind::Method, name, id, parameters, help));
    return *this;
  }
  template <auto Get>
  ClassRows& get(std::u16string_view name, std::int32_t id, std::u16string_view help) {
    info_.members.push_back(member<Get>(MemberKind::PropertyGet, name, id, {}, help));
    return *this;
  }
  // A property's get and put halves; Put may be a putref.
  template <auto Get, auto Put>
  ClassRows& property(std::u16string_view name, std::int32_t id, std::u16string_view help,
                      MemberKind put = MemberKind::PropertyPut, const char16_t* value = u"") {
    get<Get>(name, id, help);
    info_.members.push_back(member<Put>(put, name, id, {value}, help));
    return *this;
  }
  ClassRows& notCreatable() {
    info_.create = nullptr;
    return *this;
  }
  ClassInfo done() { return std::move(info_); }

 private:
  ClassInfo info_;
};

}  // namespace kel::automation::binding

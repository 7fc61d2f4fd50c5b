#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "kel/runtime/Object.h"
#include "kel/runtime/Ref.h"

namespace kel {

// The value held by a Collection item or carried by a late-bound call: empty, a Boolean, a byte,
// a 16- or 32-bit integer, a double, text, or a reference to a library object (a null reference
// is "Nothing").
// Sixteen bytes, so that a collection of a million vertices stays small.
class Variant {
 public:
  enum class Kind : std::uint8_t { Empty, Boolean, Byte, Integer, Long, Double, Text, Object };

  Variant() noexcept : bits_(0) {}
  Variant(std::int16_t value) noexcept : kind_(Kind::Integer), bits_(0) { i16_ = value; }
  Variant(std::int32_t value) noexcept : kind_(Kind::Long), bits_(0) { i32_ = value; }
  Variant(double value) noexcept : kind_(Kind::Double), d_(value) {}
  // Named, as a bool or a byte would otherwise quietly become an integer.
  static Variant boolean(bool value) noexcept {
    Variant v(std::int16_t{value ? std::int16_t{-1} : std::int16_t{0}});
    v.kind_ = Kind::Boolean;
    return v;
  }
  static Variant byte(std::uint8_t value) noexcept {
    Variant v(std::int16_t{value});
    v.kind_ = Kind::Byte;
    return v;
  }
  Variant(std::u16string_view text);
  Variant(const char16_t* text) : Variant(std::u16string_view(text)) {}
  Variant(const std::u16string& text) : Variant(std::u16string_view(text)) {}
  Variant(std::nullptr_t) noexcept : kind_(Kind::Object), obj_(nullptr) {}
  template <class T>
  Variant(const Ref<T>& object) noexcept : kind_(Kind::Object), obj_(object.get()) {
    if (obj_) obj_->addRef();
  }
  template <class T>
  Variant(Ref<T>&& object) noexcept : kind_(Kind::Object), obj_(object.detach()) {}

  // Copies share the object and copy the text; moves hand over whatever the source owned.
  Variant(const Variant& other) : kind_(other.kind_), bits_(other.bits_) {
    if (kind_ == Kind::Text) {
      copyText(*other.text_);
    } else if (kind_ == Kind::Object && obj_ != nullptr) {
      obj_->addRef();
    }
  }
  Variant(Variant&& other) noexcept : kind_(other.kind_), bits_(other.bits_) {
    other.kind_ = Kind::Empty;
  }
  Variant& operator=(Variant other) noexcept {
    std::swap(kind_, other.kind_);
    std::swap(bits_, other.bits_);
    return *this;
  }
  ~Variant() {
    // Only text and objects own something; objects come first, as collections are mostly them.
    if (kind_ == Kind::Object) {
      if (obj_ != nullptr) obj_->release();
    } else if (kind_ == Kind::Text) {
      deleteText();
    }
  }

  Kind kind() const noexcept { return kind_; }
  bool isEmpty() const noexcept { return kind_ == Kind::Empty; }
  bool isObject() const noexcept { return kind_ == Kind::Object; }
  bool isNothing() const noexcept { return kind_ == Kind::Object && obj_ == nullptr; }

  // Conversions as automation makes them: numbers convert to each other (doubles round half to
  // even; a Boolean is -1 or 0), text that spells a number converts to it, empty converts to 0 or
  // "". A value out of the target's range is an overflow; anything else that does not convert is
  // a type mismatch. To a Boolean, any number but 0 is true, and so are the texts "True" and "-1".
  bool toBoolean() const;
  std::uint8_t toByte() const;
  std::int16_t toInt16() const;
  std::int32_t toInt32() const;
  double toDouble() const;
  std::u16string toText() const;

  // The object of an Object variant (null for Nothing); any other kind is a type mismatch.
  Object* object() const {
    if (kind_ != Kind::Object) raise(ErrorNumber::TypeMismatch);
    return obj_;
  }

  // The object that a late-bound member access goes to: "object required" when the variant holds
  // no object at all, "object variable not set" for Nothing.
  Object& requireObject() const;

  // The object as a T. Nothing gives a null Ref; an object of another class, or a variant that
  // holds no object, is a type mismatch.
  template <class T>
  Ref<T> as() const {
    Object* o = object();
    if (o == nullptr) return Ref<T>();
    T* t = objectCast<T>(o);
    if (t == nullptr) raise(ErrorNumber::TypeMismatch);
    return Ref<T>(t);
  }

  // The object as a T that must be there: Nothing is "object variable not set", anything but a T
  // is a type mismatch. The collection that holds the variant keeps the object alive.
  template <class T>
  T& deref() const {
    Object* o = object();
    if (o == nullptr) raise(ErrorNumber::ObjectVariableNotSet);
    T* t = objectCast<T>(o);
    if (t == nullptr) raise(ErrorNumber::TypeMismatch);
    return *t;
  }

 private:
  void deleteText() noexcept;
  void copyText(const std::u16string& text);

  Kind kind_ = Kind::Empty;
  union {
    std::uint64_t bits_;  // the whole payload, for copies and moves
    std::int16_t i16_;
    std::int32_t i32_;
    double d_;
    Object* obj_;
    std::u16string* text_;
  };
};

static_assert(sizeof(Variant) == 16);

}  // namespace kel

#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <variant>
#include <vector>

#include "kel/runtime/Object.h"
#include "kel/runtime/Variant.h"

namespace kel {

// The ordered list behind every list of the object model: positions run from 1 to count(), items
// are appended at the end, and a position outside that range is "subscript out of range".
//
// The items are held in the most compact of three forms, which no caller can tell apart:
// - a row: a reader hands over its objects side by side in an ObjectArena, the list holding one
//   reference to each, at no memory beyond the objects themselves;
// - objects: while every item is an object or Nothing, a pointer each, half a variant;
// - variants: any items.
// A row turns into objects at its first change, and objects into variants at the first item that
// is no object. For the vertices of a large file, these are most of the memory.
class Collection final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Collection;

  Collection() noexcept : Object(this) {}
  ~Collection();

  void add(Variant item);
  // Appends an object, or Nothing for null, adding a reference: add for an item known to be an
  // object, without the variant. A file's worth of vertices comes in this way.
  void addObject(Object* object) {
    auto* objects = row_ == nullptr ? std::get_if<Objects>(&items_) : nullptr;
    if (objects == nullptr || objects->size() == objects->capacity())
      return addObjectSlowly(object);
    objects->push_back(object);
    if (object != nullptr) object->addRef();
  }
  // The item at a 1-based position, as a new variant sharing its object or copying its value.
  Variant item(std::int32_t index) const;
  void remove(std::int32_t index);

  // The object of the item at a 1-based position, borrowed: the list keeps it alive while it
  // holds it. For the library's own scans, which would otherwise touch a reference count for
  // every vertex. Null for Nothing; an item that holds no object is a type mismatch.
  Object* peek(std::int32_t index) const {
    if (index < 1 || index > count()) raise(ErrorNumber::SubscriptOutOfRange);
    auto i = static_cast<std::size_t>(index) - 1;
    if (row_ != nullptr) return rowObject(index - 1);
    if (const auto* objects = std::get_if<Objects>(&items_)) return (*objects)[i];
    return std::get<Variants>(items_)[i].object();
  }
  // The same object as a T that must be there, as Variant::deref gives it.
  template <class T>
  T& objectAt(std::int32_t index) const {
    return checkedAs<T>(peek(index));
  }
  // Calls fn with each item in order, as objectAt gives it, and raises as objectAt does at the
  // first item that is no T; fn must not change the list. For walks over every vertex of a file:
  // the form of the list is looked at once, not once per item, no reference count is touched,
  // and the raise comes after the loop, so that a walk's running values can stay in registers.
  template <class T, class Fn>
  void forEachObject(Fn&& fn) const {
    Object* stop = nullptr;
    bool stopped = false;
    auto visit = [&](Object* object) {
      T* t = objectCast<T>(object);
      if (t == nullptr) {
        stop = object;
        stopped = true;
        return false;
      }
      fn(*t);
      return true;
    };
    if (row_ != nullptr) {
      for (std::int32_t i = 0; i < rowCount_ && visit(rowObject(i)); ++i) {
      }
    } else if (const auto* objects = std::get_if<Objects>(&items_)) {
      for (auto it = objects->begin(); it != objects->end() && visit(*it); ++it) {
      }
    } else {
      for (const Variant& item : std::get<Variants>(items_)) fn(checkedAs<T>(item.object()));
    }
    if (stopped) checkedAs<T>(stop);
  }
  std::int32_t count() const noexcept {
    if (row_ != nullptr) return rowCount_;
    return static_cast<std::int32_t>(std::visit([](const auto& v) { return v.size(); }, items_));
  }
  // Room for n items without reallocation; a reader that knows its counts asks for it.
  void reserve(std::int32_t n);
  // The same for items that are no objects, such as part starts: an empty list takes the form
  // of variants at once, not at its first such item, which would allocate a second time.
  void reserveValues(std::int32_t n);

  // Takes over the n objects of one ObjectArena::makeRow, `stride` bytes apart, each with one
  // reference that the list now holds. Only an empty list takes a row.
  void adoptRow(Object* first, std::int32_t n, std::size_t stride);

  // In-order enumeration ("For Each"); each step yields the item as item() does.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Variant;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Variant;

    Iterator(const Collection* list, std::int32_t at) noexcept : list_(list), at_(at) {}
    Variant operator*() const { return list_->at(at_); }
    Iterator& operator++() noexcept {
      ++at_;
      return *this;
    }
    bool operator==(const Iterator& other) const noexcept { return at_ == other.at_; }

   private:
    const Collection* list_;
    std::int32_t at_;
  };
  Iterator begin() const noexcept { return {this, 0}; }
  Iterator end() const noexcept { return {this, count()}; }

 private:
  template <class T>
  static T& checkedAs(Object* object) {
    if (object == nullptr) raise(ErrorNumber::ObjectVariableNotSet);
    T* t = objectCast<T>(object);
    if (t == nullptr) raise(ErrorNumber::TypeMismatch);
    return *t;
  }

  using Objects = std::vector<Object*>;  // each holding a reference; null for Nothing
  using Variants = std::vector<Variant>;

  // The item at a 0-based position known to be in range.
  Variant at(std::int32_t i) const {
    if (row_ != nullptr) return Variant(Ref<Object>(rowObject(i)));
    if (const auto* objects = std::get_if<Objects>(&items_)) {
      return Variant(Ref<Object>((*objects)[static_cast<std::size_t>(i)]));
    }
    return std::get<Variants>(items_)[static_cast<std::size_t>(i)];
  }
  Object* rowObject(std::int32_t i) const noexcept {
    return reinterpret_cast<Object*>(reinterpret_cast<unsigned char*>(row_) +
                                     static_cast<std::size_t>(i) * rowStride_);
  }
  void addObjectSlowly(Object* object);
  // Turns a row into objects, before a change.
  void unrow();
  // Turns objects into variants, before an item that is no object.
  Variants& toVariants();

  std::variant<Objects, Variants> items_;
  Object* row_ = nullptr;
  std::int32_t rowCount_ = 0;
  std::uint32_t rowStride_ = 0;
};

}  // namespace kel

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kel {

class Variant;

// Every class of the library, so that a reference to "some object" can be checked and cast
// without RTTI, and so that a dispatch layer can find the class behind any reference.
enum class ClassId : std::uint8_t {
  Collection,
  BoundingBox,
  Coordinate,
  ShapeObject,
  Record,
  RecordField,
  TableDescriptor,
  TableDescription,
  Shapefile,
};

std::u16string_view className(ClassId id) noexcept;

// The base of every shared object: an intrusive, single-threaded reference count and the class
// identity. Objects are never copied; they are shared through Ref<T>.
class Object {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ClassId classId() const noexcept { return static_cast<ClassId>(tag_ & 0xFFu); }

  // Reads a property by its automation name (letter case ignored). The library itself reaches a
  // few members this way, on whatever object a caller put into a collection; a class without such
  // a property raises "object doesn't support this property or method".
  virtual Variant getProperty(std::u16string_view name) const;
  virtual void putProperty(std::u16string_view name, const Variant& value);

  void addRef() noexcept { ++refs_; }
  void release() noexcept {
    if (--refs_ == 0) destroy();
  }
  std::uint32_t refCount() const noexcept { return refs_; }

  // Where an ObjectArena placed the object, in units of kArenaUnit bytes from the start of its
  // chunk; 0 for an object of its own.
  static constexpr std::size_t kArenaUnit = 8;
  static constexpr std::uint32_t kMostArenaOffset = (1u << 24) - 1;
  std::uint32_t arenaOffset() const noexcept { return tag_ >> 8; }

 protected:
  explicit Object(ClassId id) noexcept : tag_(static_cast<std::uint8_t>(id)) {}
  virtual ~Object() = default;

 private:
  friend class ObjectArena;
  void setArenaOffset(std::uint32_t offset) noexcept { tag_ = (tag_ & 0xFFu) | (offset << 8); }
  // Deletes the object, or gives it back to its arena.
  void destroy() noexcept;

  std::uint32_t refs_ = 0;
  std::uint32_t tag_;  // the class in the low byte, the arena offset above it
};

// Casts to T when the object is of T's class; null otherwise.
template <class T>
T* objectCast(Object* object) noexcept {
  return object != nullptr && object->classId() == T::kClassId ? static_cast<T*>(object) : nullptr;
}

}  // namespace kel

#pragma once

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

  ClassId classId() const noexcept { return classId_; }

  // Reads a property by its automation name (letter case ignored). The library itself reaches a
  // few members this way, on whatever object a caller put into a collection; a class without such
  // a property raises "object doesn't support this property or method".
  virtual Variant getProperty(std::u16string_view name) const;
  virtual void putProperty(std::u16string_view name, const Variant& value);

  void addRef() noexcept { ++refs_; }
  void release() noexcept {
    if (--refs_ == 0) dispose();
  }
  std::uint32_t refCount() const noexcept { return refs_; }

 protected:
  explicit Object(ClassId id) noexcept : classId_(id) {}
  virtual ~Object() = default;

  // How an object goes when its last reference does. A class whose objects may be made in an
  // ObjectBlock lets the block take them back.
  virtual void dispose() noexcept { delete this; }

 private:
  template <class T>
  friend class ObjectBlock;

  std::uint32_t refs_ = 0;
  ClassId classId_;
  std::uint16_t blockSlot_ = 0;  // 1-based place in an ObjectBlock; 0 for an object of its own
};

// Casts to T when the object is of T's class; null otherwise.
template <class T>
T* objectCast(Object* object) noexcept {
  return object != nullptr && object->classId() == T::kClassId ? static_cast<T*>(object) : nullptr;
}

}  // namespace kel

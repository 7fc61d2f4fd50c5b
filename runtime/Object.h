#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

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

inline constexpr std::size_t kClassCount = static_cast<std::size_t>(ClassId::Shapefile) + 1;

std::u16string_view className(ClassId id) noexcept;

class Object;

// What the runtime needs of a class beyond its data: how its objects end, and the few properties
// that the library reaches by name. One table by ClassId holds these rather than a virtual-table
// pointer in every object, which for a vertex would be a quarter of its memory.
struct ObjectClass {
  void (*destruct)(Object& object) noexcept;  // runs the destructor, leaving the memory; null
                                              // when there is nothing to run
  void (*deleteObject)(Object* object) noexcept;
  Variant (*getProperty)(const Object& object, std::u16string_view name);  // null: none
  void (*putProperty)(Object& object, std::u16string_view name, const Variant& value);
  std::size_t size;  // of an object
  // Whether the destructor may release references to other objects, and so end them in turn:
  // such ends are nested on the stack only so deep (ObjectArena::endHolder). A class whose
  // destructor releases no reference says so with `static constexpr bool kHoldsObjects = false`.
  bool holdsObjects;
};

template <class T>
constexpr ObjectClass makeObjectClass() noexcept;

// The base of every shared object: an intrusive, single-threaded reference count and the class
// identity. Objects are never copied; they are shared through Ref<T>. Every object starts on an
// arena unit, and its size is a multiple of one, so that the objects of an arena row do too on
// every platform.
class alignas(8) Object {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  ClassId classId() const noexcept { return static_cast<ClassId>(tag_ & 0xFFu); }

  // Reads a property by its automation name (letter case ignored). The library itself reaches a
  // few members this way, on whatever object a caller put into a collection; a class without such
  // a property raises "object doesn't support this property or method". A class offers them as
  // getLateBound and putLateBound.
  Variant getProperty(std::u16string_view name) const;
  void putProperty(std::u16string_view name, const Variant& value);

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
  // Each class passes `this`, which names its class and makes it known to the runtime.
  template <class T>
  explicit Object(T* /*self*/) noexcept : tag_(static_cast<std::uint8_t>(T::kClassId)) {
    static constexpr ObjectClass kClass = makeObjectClass<T>();
    std::atomic<const ObjectClass*>& slot = classes_[static_cast<std::size_t>(T::kClassId)];
    // Relaxed is enough: every thread stores the same value, and an object reaches another
    // thread only through the synchronisation that hands it over.
    if (slot.load(std::memory_order_relaxed) != &kClass) {
      slot.store(&kClass, std::memory_order_relaxed);
    }
  }
  ~Object() = default;

  [[noreturn]] static void raiseNoSuchMember();

 private:
  friend class ObjectArena;
  const ObjectClass& objectClass() const noexcept {
    return *classes_[tag_ & 0xFFu].load(std::memory_order_relaxed);
  }
  void setArenaOffset(std::uint32_t offset) noexcept { tag_ = (tag_ & 0xFFu) | (offset << 8); }
  // Ends the object whose last reference went: at once, or, for one that holds others while
  // many ends are nested already, once those are done (ObjectArena::endHolder).
  void destroy() noexcept;
  // Deletes the object, or gives it back to its arena, now.
  void end() noexcept;

  std::uint32_t refs_ = 0;
  std::uint32_t tag_;  // the class in the low byte, the arena offset above it

  static inline std::atomic<const ObjectClass*> classes_[kClassCount] = {};
};

static_assert(alignof(Object) == Object::kArenaUnit);

template <class T>
constexpr ObjectClass makeObjectClass() noexcept {
  ObjectClass c{};
  c.deleteObject = [](Object* object) noexcept { delete static_cast<T*>(object); };
  c.size = sizeof(T);
  if constexpr (!std::is_trivially_destructible_v<T>) {
    c.destruct = [](Object& object) noexcept { static_cast<T&>(object).~T(); };
    if constexpr (requires { T::kHoldsObjects; }) {
      c.holdsObjects = T::kHoldsObjects;
    } else {
      c.holdsObjects = true;
    }
  }
  if constexpr (requires(const T& t) { t.getLateBound(std::u16string_view()); }) {
    c.getProperty = [](const Object& object, std::u16string_view name) {
      return static_cast<const T&>(object).getLateBound(name);
    };
  }
  if constexpr (requires(T & t, const Variant& v) { t.putLateBound(std::u16string_view(), v); }) {
    c.putProperty = [](Object& object, std::u16string_view name, const Variant& value) {
      static_cast<T&>(object).putLateBound(name, value);
    };
  }
  return c;
}

// Casts to T when the object is of T's class; null otherwise.
template <class T>
T* objectCast(Object* object) noexcept {
  return object != nullptr && object->classId() == T::kClassId ? static_cast<T*>(object) : nullptr;
}

}  // namespace kel

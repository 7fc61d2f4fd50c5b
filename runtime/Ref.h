#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

#include "kel/runtime/Error.h"
#include "kel/runtime/Object.h"

namespace kel {

// A shared reference to a library object, possibly null ("Nothing"). Copying a Ref shares the
// object; the object goes when the last Ref to it goes.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  explicit Ref(T* object) noexcept : ptr_(object) {
    if (ptr_) ptr_->addRef();
  }
  Ref(const Ref& other) noexcept : Ref(other.ptr_) {}
  Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) noexcept : Ref(other.get()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(Ref<U>&& other) noexcept : ptr_(other.detach()) {}
  ~Ref() {
    if (ptr_) ptr_->release();
  }

  Ref& operator=(Ref other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  T& operator*() const noexcept { return *ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Gives up ownership without releasing; for moves between Ref types.
  T* detach() noexcept { return std::exchange(ptr_, nullptr); }

  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.ptr_ == b.ptr_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

 private:
  T* ptr_ = nullptr;
};

// Room for an object in the calling thread's arena (ObjectArena.cpp): taken before the object is
// made there, then given the object, or given back when its constructor throws.
struct ArenaPlace {
  void* memory;
  void* chunk;
};
ArenaPlace takeThreadArenaPlace(std::size_t bytes);
void settleArenaPlace(Object& object, ArenaPlace place) noexcept;
void returnArenaPlace(ArenaPlace place, std::size_t bytes) noexcept;

// Makes an object in the calling thread's arena.
template <class T, class... Args>
Ref<T> makeRef(Args&&... args) {
  // The constructor may make objects of its own in the arena and so move it on to a new chunk;
  // the object belongs to the chunk that its place was taken from.
  ArenaPlace place = takeThreadArenaPlace(sizeof(T));
  T* object;
  try {
    object = new (place.memory) T(std::forward<Args>(args)...);
  } catch (...) {
    returnArenaPlace(place, sizeof(T));
    throw;
  }
  settleArenaPlace(*object, place);
  return Ref<T>(object);
}

// The object behind a reference that must be set: a null reference is the automation error
// "object variable not set", which every member working on a held object raises.
template <class T>
T& deref(const Ref<T>& ref) {
  if (!ref) raise(ErrorNumber::ObjectVariableNotSet);
  return *ref;
}

}  // namespace kel

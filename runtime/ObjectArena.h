#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/Object.h"
#include "runtime/Ref.h"

namespace kel {

// Makes many objects, of any class, in a few large chunks of memory. A reader that creates a
// shape, its lists, its record and a Coordinate for every vertex of a file would otherwise spend
// most of its time in the allocator and most of its memory on the allocator's bookkeeping. Each
// object is still shared and lives as long as its references; a chunk goes with its last object.
// (A caller that keeps one vertex of a large file therefore keeps that vertex's chunk.)
//
// Chunks start small and double, so that a small file costs little; large chunks are placed on
// huge pages where the system offers them, which spares the page faults of a large read.
class ObjectArena {
 public:
  ObjectArena() noexcept = default;
  ~ObjectArena();
  ObjectArena(const ObjectArena&) = delete;
  ObjectArena& operator=(const ObjectArena&) = delete;

  template <class T, class... Args>
  Ref<T> make(Args&&... args) {
    // The object's constructor may make objects of its own in the arena, and so move it on to a
    // new chunk; the object belongs to the chunk that its place was taken from.
    Place place = allocate(sizeof(T), 1);
    T* object;
    try {
      object = new (place.memory) T(std::forward<Args>(args)...);
    } catch (...) {
      releaseChunk(place.chunk);
      throw;
    }
    adopt(*object, place.chunk);
    return Ref<T>(object);
  }

  // n default-made objects side by side, each with one reference that the caller now holds:
  // a row for a Collection to take over.
  template <class T>
  T* makeRow(std::size_t n) {
    static_assert(std::is_nothrow_default_constructible_v<T>);
    if (n == 0) return nullptr;
    Place place = allocate(n * sizeof(T), n);
    auto* first = static_cast<T*>(place.memory);
    for (std::size_t i = 0; i < n; ++i) {
      T* object = new (first + i) T();
      adopt(*object, place.chunk);
      object->addRef();
    }
    return first;
  }

  // Ends an object of an arena whose last reference went.
  static void dispose(Object* object) noexcept;
  // Drops one reference to each object of a row from makeRow, ending those it held last: the
  // whole row at once, as a list of a file's vertices goes.
  static void releaseRow(Object* first, std::size_t n, std::size_t stride) noexcept;

 private:
  struct alignas(16) Chunk {
    std::size_t live;  // objects alive in the chunk, plus one while it is the arena's current
    std::size_t bytes;
  };

  struct Place {
    void* memory;
    Chunk* chunk;
  };
  // Room for `bytes`, counted in its chunk as `objects` live objects from now on.
  Place allocate(std::size_t bytes, std::size_t objects);
  static void adopt(Object& object, Chunk* chunk) noexcept;
  static Chunk* newChunk(std::size_t bytes);
  static Chunk* chunkOf(Object* object) noexcept;
  static void releaseChunk(Chunk* chunk, std::size_t objects = 1) noexcept;

  Chunk* chunk_ = nullptr;
  std::size_t used_ = 0;  // bytes of the current chunk given out, its header included
  std::size_t nextBytes_ = 0;
};

}  // namespace kel

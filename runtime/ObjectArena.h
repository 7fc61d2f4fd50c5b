#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "kel/runtime/Object.h"
#include "kel/runtime/Ref.h"

#if defined(__SANITIZE_ADDRESS__)
#define KEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEL_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(KEL_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

namespace kel {

// Makes many objects, of any class, in a few large chunks of memory. A reader that creates a
// shape, its lists, its record and a Coordinate for every vertex of a file, or a caller who builds
// as many, would otherwise spend most of the time in the allocator and much of the memory on its
// bookkeeping. Each object is still shared and lives as long as its references; a chunk goes
// with its last object. (Whoever keeps one object keeps its chunk.)
//
// Objects of one chunk may end on different threads: a chunk counts its objects atomically, but
// only when they end; making them costs no atomic operation, because the chunk the arena is filling
// holds a large reserve that the arena gives back, less what it made, when it moves on.
//
// A reader's arena starts with small chunks and doubles them, so that a small file costs little;
// large chunks are placed on huge pages where the system offers them, which spares the page
// faults of a large read. The arena of a thread, which makes what callers create, keeps to small
// chunks, so that a kept object holds little memory.
class ObjectArena {
 public:
  static constexpr std::size_t kSmallestChunk = std::size_t{64} << 10;

  // largestChunk: the size that chunks grow to, doubling from kSmallestChunk.
  explicit ObjectArena(std::size_t largestChunk = std::size_t{4} << 20) noexcept
      : largestChunk_(largestChunk) {}
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
      poison(place.memory, sizeof(T));
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
    return makeRowWithRoom<T>(n, 0).first;
  }

  // A row as makeRow makes it, followed in the same chunk by `roomBytes` of uninitialised memory,
  // 8-byte aligned, that lives as long as any object of the row: for what the objects point to,
  // such as a table row's texts, without an allocation each.
  template <class T>
  std::pair<T*, void*> makeRowWithRoom(std::size_t n, std::size_t roomBytes) {
    static_assert(std::is_nothrow_default_constructible_v<T>);
    if (n == 0) return {nullptr, nullptr};
    Place place = allocate(n * sizeof(T) + roomBytes, n);
    auto* first = static_cast<T*>(place.memory);
    for (std::size_t i = 0; i < n; ++i) {
      T* object = new (first + i) T();
      adopt(*object, place.chunk);
      object->addRef();
    }
    return {first, first + n};
  }

  // The arena in which makeRef makes the objects of the calling thread. Its chunks stay small:
  // what a caller makes may live long, a few objects at a time.
  static ObjectArena& ofThisThread() noexcept {
    thread_local ObjectArena arena(kSmallestChunk);
    return arena;
  }

  // Ends an object of an arena whose last reference went.
  static void dispose(Object* object) noexcept;
  // Ends an object, of any arena or none, whose class holds others (ObjectClass::holdsObjects)
  // and whose last reference went. Its end releases what it holds and may end that in turn; once
  // such ends are nested kMostNestedEnds deep on this thread, the object waits on the thread's
  // list and ends when the outermost end is done, so that a chain of lists of any length ends
  // in bounded stack. Objects that hold nothing, such as vertices, never wait.
  static void endHolder(Object* object) noexcept;
  static constexpr unsigned kMostNestedEnds = 32;
  // Drops one reference to each object of a row from makeRow, ending those it held last: the
  // whole row at once, as a list of a file's vertices goes.
  static void releaseRow(Object* first, std::size_t n, std::size_t stride) noexcept;
  // Drops one reference to each of n objects (null ones skipped), of any arena or none, as a list
  // goes. Neighbours in a list are mostly neighbours in a chunk, which then hears of their end
  // once for all of them rather than once each.
  static void releaseAll(Object* const* objects, std::size_t n) noexcept;

 private:
  friend ArenaPlace takeThreadArenaPlace(std::size_t bytes);
  friend void settleArenaPlace(Object& object, ArenaPlace place) noexcept;
  friend void returnArenaPlace(ArenaPlace place, std::size_t bytes) noexcept;

  struct alignas(16) Chunk {
    // Objects alive in the chunk, plus kReserve less the objects made while it is an arena's
    // current chunk.
    std::atomic<std::size_t> live;
    std::size_t bytes;
  };
  // Far more than a chunk can hold, whatever the width of size_t.
  static constexpr std::size_t kReserve = std::numeric_limits<std::size_t>::max() / 2;

  struct Place {
    void* memory;
    Chunk* chunk;
  };
  // Room for `bytes`, counted in its chunk as `objects` live objects from now on.
  Place allocate(std::size_t bytes, std::size_t objects) {
    bytes = (bytes + Object::kArenaUnit - 1) / Object::kArenaUnit * Object::kArenaUnit;
    if (chunk_ == nullptr || chunk_->bytes - used_ < bytes) startChunk(bytes);
    void* memory = reinterpret_cast<unsigned char*>(chunk_) + used_;
    used_ += bytes;
    made_ += objects;
    unpoison(memory, bytes);
    return {memory, chunk_};
  }
  // Under AddressSanitizer, the memory of a chunk that holds no live object is poisoned, so that
  // the use of an object after its end is caught as it would be in memory of its own.
  static void poison([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(KEL_ADDRESS_SANITIZER)
    ASAN_POISON_MEMORY_REGION(memory, bytes);
#endif
  }
  static void unpoison([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(KEL_ADDRESS_SANITIZER)
    ASAN_UNPOISON_MEMORY_REGION(memory, bytes);
#endif
  }
  // Moves on to a new chunk with room for `bytes`.
  void startChunk(std::size_t bytes);
  static void adopt(Object& object, Chunk* chunk) noexcept {
    auto offset = static_cast<std::size_t>(reinterpret_cast<unsigned char*>(&object) -
                                           reinterpret_cast<unsigned char*>(chunk));
    object.setArenaOffset(static_cast<std::uint32_t>(offset / Object::kArenaUnit));
  }
  static Chunk* newChunk(std::size_t bytes);
  static Chunk* chunkOf(Object* object) noexcept;
  static void releaseChunk(Chunk* chunk, std::size_t objects = 1) noexcept;
  // Gives back the current chunk's reserve, less the objects made in it.
  void retire() noexcept;
  // Brackets the destructor of an object that holds others. False when the object was put on the
  // thread's list instead, to end later by itself; otherwise the destructor runs, and then
  // finishEnd, which ends the waiting objects once the outermost end is done.
  static bool startEnd(Object* object) noexcept;
  static void finishEnd() noexcept;
  [[gnu::noinline]] static void endWaiting() noexcept;

  Chunk* chunk_ = nullptr;
  std::size_t used_ = 0;  // bytes of the current chunk given out, its header included
  std::size_t made_ = 0;  // objects made in the current chunk
  std::size_t nextBytes_ = 0;
  std::size_t largestChunk_;
};

}  // namespace kel

#include "kel/runtime/ObjectArena.h"

#include <algorithm>
#include <cstdlib>

#include "kel/runtime/Error.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kel {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
constexpr std::size_t kUnit = Object::kArenaUnit;
// An object finds its chunk by its offset in arena units, which must fit the object's tag.
constexpr std::size_t kMostChunkBytes = Object::kMostArenaOffset * kUnit;

std::size_t roundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

// The ends of objects that hold others under way on this thread, and the objects waiting for them
// to finish. Trivially destructible, so that objects may end up to the thread's very end; the
// list is allocated only while objects wait on it.
struct NestedEnds {
  unsigned depth;
  std::size_t waiting;
  std::size_t capacity;
  Object** list;
};
constinit thread_local NestedEnds nestedEnds{};

// Puts an object on the list; false when there is no memory for it.
[[gnu::noinline]] bool addWaiting(NestedEnds& ends, Object* object) noexcept {
  if (ends.waiting == ends.capacity) {
    std::size_t capacity = std::max<std::size_t>(64, 2 * ends.capacity);
    void* grown = std::realloc(ends.list, capacity * sizeof(Object*));
    if (grown == nullptr) return false;
    ends.list = static_cast<Object**>(grown);
    ends.capacity = capacity;
  }
  ends.list[ends.waiting++] = object;
  return true;
}

}  // namespace

ObjectArena::~ObjectArena() {
  retire();
}

void ObjectArena::retire() noexcept {
  if (chunk_ == nullptr) return;
  releaseChunk(chunk_, kReserve - made_);
  chunk_ = nullptr;
  made_ = 0;
}

void ObjectArena::startChunk(std::size_t bytes) {
  std::size_t header = sizeof(Chunk);
  if (bytes > kMostChunkBytes - header) raise(ErrorNumber::OutOfMemory);
  nextBytes_ = std::clamp(nextBytes_ * 2, kSmallestChunk, largestChunk_);
  Chunk* chunk = newChunk(std::max(nextBytes_, roundUp(header + bytes, kSmallestChunk)));
  retire();
  chunk_ = chunk;
  used_ = header;
}

ArenaPlace takeThreadArenaPlace(std::size_t bytes) {
  ObjectArena::Place place = ObjectArena::ofThisThread().allocate(bytes, 1);
  return {place.memory, place.chunk};
}

void settleArenaPlace(Object& object, ArenaPlace place) noexcept {
  ObjectArena::adopt(object, static_cast<ObjectArena::Chunk*>(place.chunk));
}

void returnArenaPlace(ArenaPlace place, std::size_t bytes) noexcept {
  ObjectArena::poison(place.memory, bytes);
  ObjectArena::releaseChunk(static_cast<ObjectArena::Chunk*>(place.chunk));
}

ObjectArena::Chunk* ObjectArena::chunkOf(Object* object) noexcept {
  return reinterpret_cast<Chunk*>(reinterpret_cast<unsigned char*>(object) -
                                  std::size_t{object->arenaOffset()} * kUnit);
}

void ObjectArena::dispose(Object* object) noexcept {
  Chunk* chunk = chunkOf(object);
  const ObjectClass& objectClass = object->objectClass();
  if (objectClass.destruct != nullptr) objectClass.destruct(*object);
  poison(object, objectClass.size);
  releaseChunk(chunk);
}

// Inline here: they bracket the end of every object that holds others, a shape and its lists
// among them, and the first test is almost always all they do.
inline bool ObjectArena::startEnd(Object* object) noexcept {
  NestedEnds& ends = nestedEnds;
  if (ends.depth < kMostNestedEnds) [[likely]] {
    ++ends.depth;
    return true;
  }
  if (addWaiting(ends, object)) return false;
  ++ends.depth;  // short of memory for the list, the object ends at once, one level deeper
  return true;
}

inline void ObjectArena::finishEnd() noexcept {
  NestedEnds& ends = nestedEnds;
  if (--ends.depth == 0 && ends.waiting != 0) [[unlikely]]
    endWaiting();
}

// The outermost end is done: the waiting objects end one after another, each with the whole
// depth for what it holds, and what they put on the list ends in the same loop.
void ObjectArena::endWaiting() noexcept {
  NestedEnds& ends = nestedEnds;
  ends.depth = 1;
  while (ends.waiting != 0) ends.list[--ends.waiting]->end();
  std::free(ends.list);
  ends = {};
}

// Objects end here, beside the arenas that most of them come from, so that the steps of an end
// are one function.
void Object::destroy() noexcept {
  if (objectClass().holdsObjects) {
    ObjectArena::endHolder(this);
  } else {
    end();
  }
}

void Object::end() noexcept {
  if (arenaOffset() == 0) {
    objectClass().deleteObject(this);
  } else {
    ObjectArena::dispose(this);
  }
}

void ObjectArena::endHolder(Object* object) noexcept {
  if (!startEnd(object)) return;
  object->end();
  finishEnd();
}

void ObjectArena::releaseRow(Object* first, std::size_t n, std::size_t stride) noexcept {
  if (n == 0) return;
  if (first->objectClass().holdsObjects) {
    // Rows are made of vertices and fields; a row of objects that hold others would end as its
    // objects' own releases end them.
    for (std::size_t i = 0; i < n; ++i) {
      reinterpret_cast<Object*>(reinterpret_cast<unsigned char*>(first) + i * stride)->release();
    }
    return;
  }
  Chunk* chunk = chunkOf(first);  // makeRow took the whole row from one chunk
  auto destruct = first->objectClass().destruct;
  std::size_t ended = 0;
  for (std::size_t i = 0; i < n; ++i) {
    auto* object = reinterpret_cast<Object*>(reinterpret_cast<unsigned char*>(first) + i * stride);
    // An object that ends is only read, never written: a file's vertices are most of the memory,
    // and writing each count down would send all of it back to memory just before it is freed.
    if (object->refs_ != 1) {
      --object->refs_;
      continue;
    }
    if (destruct != nullptr) destruct(*object);
    poison(object, stride);
    ++ended;
  }
  if (ended != 0) releaseChunk(chunk, ended);
}

void ObjectArena::releaseAll(Object* const* objects, std::size_t n) noexcept {
  Chunk* pending = nullptr;  // the chunk of the last objects ended, not yet told
  std::size_t ended = 0;
  for (std::size_t i = 0; i < n; ++i) {
    Object* object = objects[i];
    if (object == nullptr) continue;
    if (object->refs_ != 1) {
      --object->refs_;
      continue;
    }
    if (object->arenaOffset() == 0) {
      object->destroy();
      continue;
    }
    // What the destructor releases in turn is told at once; only these objects wait, and their
    // count keeps the pending chunk alive meanwhile.
    Chunk* chunk = chunkOf(object);
    const ObjectClass& objectClass = object->objectClass();
    if (objectClass.destruct != nullptr) {
      if (!objectClass.holdsObjects) {
        objectClass.destruct(*object);
      } else if (startEnd(object)) {
        objectClass.destruct(*object);
        finishEnd();
      } else {
        continue;  // it tells its chunk when it ends
      }
    }
    poison(object, objectClass.size);
    if (chunk != pending) {
      if (ended != 0) releaseChunk(pending, ended);
      pending = chunk;
      ended = 0;
    }
    ++ended;
  }
  if (ended != 0) releaseChunk(pending, ended);
}

ObjectArena::Chunk* ObjectArena::newChunk(std::size_t bytes) {
  void* memory = nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes % kHugePageBytes == 0) {
    // Map one huge page more than needed and trim it, so that the chunk starts on a huge page.
    void* mapped = mmap(nullptr, bytes + kHugePageBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) raise(ErrorNumber::OutOfMemory);
    auto start = reinterpret_cast<std::uintptr_t>(mapped);
    std::uintptr_t aligned = roundUp(start, kHugePageBytes);
    if (aligned > start) munmap(mapped, aligned - start);
    munmap(reinterpret_cast<void*>(aligned + bytes), start + kHugePageBytes - aligned);
    memory = reinterpret_cast<void*>(aligned);
    madvise(memory, bytes, MADV_HUGEPAGE);
  }
#endif
  if (memory == nullptr) memory = ::operator new(bytes);
  auto* chunk = new (memory) Chunk{kReserve, bytes};
  poison(chunk + 1, bytes - sizeof(Chunk));  // the arena unpoisons what it hands out
  return chunk;
}

void ObjectArena::releaseChunk(Chunk* chunk, std::size_t objects) noexcept {
  // The last release, on whatever thread, must see every object's last use of the chunk.
  if (chunk->live.fetch_sub(objects, std::memory_order_acq_rel) != objects) return;
  unpoison(chunk, chunk->bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (chunk->bytes % kHugePageBytes == 0) {
    munmap(chunk, chunk->bytes);
    return;
  }
#endif
  ::operator delete(chunk);
}

}  // namespace kel

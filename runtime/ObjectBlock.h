#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "runtime/Error.h"
#include "runtime/Object.h"
#include "runtime/Ref.h"

namespace kel {

// Makes many objects of one class in a single allocation. A reader that creates a Coordinate for
// every vertex of a file would otherwise spend most of its time in the allocator. Each object is
// still shared and lives as long as its references; the block's memory goes with its last object.
// (A caller that keeps one vertex of a large shape therefore keeps that shape's block.)
//
// T opts in by overriding Object::dispose with ObjectBlock<T>::dispose.
template <class T>
class ObjectBlock {
 public:
  static constexpr std::size_t kMaxCapacity = 0xFFFF;

  explicit ObjectBlock(std::size_t capacity) : capacity_(capacity) {
    if (capacity_ == 0) return;
    if (capacity_ > kMaxCapacity) raise(ErrorNumber::InvalidProcedureCall);
    header_ = static_cast<Header*>(::operator new(sizeof(Header) + capacity_ * sizeof(T)));
    header_->live = 1;  // the maker's own hold, until it is done making
  }
  ~ObjectBlock() {
    if (header_ != nullptr) releaseSlot(header_);
  }
  ObjectBlock(const ObjectBlock&) = delete;
  ObjectBlock& operator=(const ObjectBlock&) = delete;

  // How many more objects the block can make.
  std::size_t room() const noexcept { return capacity_ - made_; }

  // The next object of the block; a new object of its own once the block is full.
  template <class... Args>
  Ref<T> make(Args&&... args) {
    if (made_ >= capacity_) return makeRef<T>(std::forward<Args>(args)...);
    T* object = new (slotAddress(header_, made_)) T(std::forward<Args>(args)...);
    ++made_;
    object->blockSlot_ = static_cast<std::uint16_t>(made_);
    ++header_->live;
    return Ref<T>(object);
  }

  static void dispose(T* object) noexcept {
    if (object->blockSlot_ == 0) {
      delete object;
      return;
    }
    Header* header =
        reinterpret_cast<Header*>(reinterpret_cast<unsigned char*>(object) -
                                  (object->blockSlot_ - 1) * sizeof(T) - sizeof(Header));
    object->~T();
    releaseSlot(header);
  }

 private:
  struct alignas(alignof(std::max_align_t)) Header {
    std::size_t live;  // objects alive in the block, plus one while the maker is at work
  };

  static void* slotAddress(Header* header, std::size_t index) {
    return reinterpret_cast<unsigned char*>(header) + sizeof(Header) + index * sizeof(T);
  }
  static void releaseSlot(Header* header) noexcept {
    if (--header->live == 0) ::operator delete(header);
  }

  Header* header_ = nullptr;
  std::size_t capacity_;
  std::size_t made_ = 0;
};

}  // namespace kel

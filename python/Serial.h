#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "python/Binding.h"

namespace kelpy {

// One call at a time on an object that Python code may share between threads. A call may run
// Python code half way (a geometry's __geo_interface__, a value's __float__, a collection's
// callbacks), and the interpreter may then switch threads; the object's state (its buffers, its
// open files) must not change under the call meanwhile. So a call from another thread waits, the
// GIL let go, until the call in progress has ended; a call from the very thread whose call is in
// progress, which only Python code run by that call can make, would find the state half changed
// and is refused, by the `refuse` given to Call, which raises.
//
// Every member is read and written with the GIL held, except the mutex's waiting.
class Serial {
 public:
  class Call {
   public:
    template <class Refuse>
    Call(Serial& serial, Refuse&& refuse) : serial_(serial) {
      const std::thread::id self = std::this_thread::get_id();
      if (serial.owner_.load(std::memory_order_relaxed) == self) refuse();
      if (!serial.mutex_.try_lock()) {
        py::gil_scoped_release free;
        serial.mutex_.lock();
      }
      serial.owner_.store(self, std::memory_order_relaxed);
    }
    ~Call() {
      serial_.owner_.store(std::thread::id(), std::memory_order_relaxed);
      serial_.mutex_.unlock();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    Serial& serial_;
  };

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// The sentence of a refused call, the object named: "the writer is in use by another call ...".
inline std::string inUse(const char* object) {
  return std::string("the ") + object +
         " is in use by another call: a callback of one of its own calls (__geo_interface__, "
         "__float__, items, a warning's filter, the garbage collector's callbacks) used it";
}

// Loops over records call this at every record: each few thousand, a signal that came (Ctrl-C)
// raises its exception (KeyboardInterrupt) here, as Python code would between two statements.
inline void checkSignals(std::int64_t done) {
  if (done % 1024 == 1023 && PyErr_CheckSignals() < 0) throw py::error_already_set();
}

}  // namespace kelpy

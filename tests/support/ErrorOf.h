#pragma once

#include "kel/runtime/Error.h"

namespace kel::testing {

// The automation number of the error that f raises, 0 when it raises none.
template <class F>
std::int32_t errorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

}  // namespace kel::testing

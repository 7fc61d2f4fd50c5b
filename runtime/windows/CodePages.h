#pragma once

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <cstdlib>
#include <string>

namespace kel {

// The Windows code page of an encoding name: "CPnnn", "WINDOWS-nnn", "IBMnnn", "ISO-8859-n"; 0
// for a name of none.
inline UINT codePageOf(const std::string& name) {
  for (const char* prefix : {"CP", "WINDOWS-", "IBM"}) {
    std::string p(prefix);
    if (name.rfind(p, 0) == 0 && name.size() > p.size()) {
      return static_cast<UINT>(std::strtoul(name.c_str() + p.size(), nullptr, 10));
    }
  }
  if (name.rfind("ISO-8859-", 0) == 0) {
    return 28590 + static_cast<UINT>(std::strtoul(name.c_str() + 9, nullptr, 10));
  }
  return 0;
}

}  // namespace kel

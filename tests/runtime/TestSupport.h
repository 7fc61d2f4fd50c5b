#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace kel::test {

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

// A fresh directory under the temp dir, removed with its contents at scope exit.
struct TempDir {
  std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "kelrt-XXXXXX").string();
    if (::mkdtemp(p.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return p;
  }();
  ~TempDir() { std::filesystem::remove_all(path); }

  std::string native(const std::string& name) const { return path + "/" + name; }
  // A name under the directory as Windows callers join it; both separators must work.
  std::u16string windows(const std::string& name) const {
    return toUtf16(path) + u"\\" + toUtf16(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream in(native(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(native(name), std::ios::binary) << bytes;
  }
};

}  // namespace kel::test

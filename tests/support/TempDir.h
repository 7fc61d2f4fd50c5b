#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace kel::testing {

using File = std::vector<unsigned char>;

inline File readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh directory under the temp dir, removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "kelshape-XXXXXX").string()) {
    if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  const std::string& str() const { return path_; }
  std::string native(const std::string& name) const { return path_ + "/" + name; }
  std::u16string u16() const { return {path_.begin(), path_.end()}; }  // temp paths are ASCII
  // A name under the directory, joined as a Windows caller joins it.
  std::u16string win(const std::string& name) const {
    return u16() + u"\\" + std::u16string(name.begin(), name.end());
  }

  void write(const std::string& name, std::string_view bytes) const {
    std::ofstream(native(name), std::ios::binary) << bytes;
  }
  void write(const std::string& name, const File& bytes) const {
    write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  File read(const std::string& name) const { return readFile(native(name)); }

 private:
  std::string path_;
};

}  // namespace kel::testing

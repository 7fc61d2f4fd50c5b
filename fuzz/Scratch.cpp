#include "fuzz/Scratch.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kel::fuzz {

const Scratch& Scratch::instance() {
  static const Scratch scratch;
  return scratch;
}

Scratch::Scratch() {
  // A fuzzer writes three files an input: keep them off the disk when the machine allows.
  std::string parent = ::access("/dev/shm", W_OK) == 0
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
  dir_ = parent + "/kelfuzz-XXXXXX";
  if (::mkdtemp(dir_.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + dir_);
  basePath_.assign(dir_.begin(), dir_.end());  // mkdtemp names are ASCII
  basePath_ += u'/';
}

Scratch::~Scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string Scratch::native(std::string_view name) const {
  return dir_ + "/" + std::string(name);
}

void Scratch::write(std::string_view name, std::string_view bytes) const {
  std::ofstream out(native(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + native(name));
}

std::string Scratch::read(std::string_view name) const {
  std::ifstream in(native(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

long openDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  long count = 0;
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

}  // namespace kel::fuzz

#pragma once

#include <string>
#include <string_view>

// The directory that a fuzz target reads and writes its files in: one per process, on a memory
// file system when there is one, removed when the process ends.
namespace kel::fuzz {

class Scratch {
 public:
  static const Scratch& instance();

  // The directory as the library's drivers take it, and a file in it as the system names it.
  const std::u16string& basePath() const noexcept { return basePath_; }
  std::string native(std::string_view name) const;

  void write(std::string_view name, std::string_view bytes) const;
  std::string read(std::string_view name) const;

  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch();

 private:
  Scratch();
  std::string dir_;
  std::u16string basePath_;
};

// The number of file descriptors the process holds: a driver call must leave it as it found it.
long openDescriptors();

}  // namespace kel::fuzz

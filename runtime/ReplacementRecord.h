#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/runtime/SystemFileSet.h"

namespace kel {

// What a commit of an AtomicFileSet is about to change, written down and synced before its first
// rename, so that whoever comes next can put the files right if its process dies half-way: each
// file replaced (its temporary name, the second name its old content gets and the identity of the
// new file), each stale file removed (its second name), and each file added to in place (its
// identity, its old length and the old bytes that the additions overwrite: its header, which
// changes last, and the bytes from `kept` on, such as an end mark).
struct ReplacementRecord {
  struct Entry {
    std::string path;
    std::string temporary;  // empty for a stale file
    std::string backup;     // the old file's second name while the commit runs
    bool existed = false;   // there was an old file to keep
    systemfileset::Identity fresh;  // the new file, for a replaced one; the file added to
    // For a file added to: its old length (-1 for the others), the old header's bytes from the
    // start and the old bytes from `kept` to the old end.
    std::int64_t length = -1, kept = 0;
    std::string header, tail;
  };
  std::vector<Entry> entries;

  std::string encode() const;
  // None for bytes that are not a whole record (a record is written whole before it is used).
  static std::optional<ReplacementRecord> decode(std::string_view bytes);
};

}  // namespace kel

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/runtime/SystemFileSet.h"

namespace kel {

// What a commit of an AtomicFileSet is about to change, written down and synced before its first
// rename, so that whoever comes next can put the files right if its process dies half-way: each
// file replaced (its temporary name, the second name its old content gets and the identity of the
// new file) and each stale file removed (its second name).
struct ReplacementRecord {
  struct Entry {
    std::string path;
    std::string temporary;  // empty for a stale file
    std::string backup;     // the old file's second name while the commit runs
    bool existed = false;   // there was an old file to keep
    systemfileset::Identity fresh;  // the new file, for a replaced one
  };
  std::vector<Entry> entries;

  std::string encode() const;
  // None for bytes that are not a whole record (a record is written whole before it is used).
  static std::optional<ReplacementRecord> decode(std::string_view bytes);
};

}  // namespace kel

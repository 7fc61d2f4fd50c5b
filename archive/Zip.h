#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kel/archive/Archive.h"

// The archive layer's use of libzip, or, in a build without it, the refusal of every archive.
namespace kel::archive {

// What a build without libzip says of an archive.
extern const char* const kUnavailable;

// The layer at `where` in the archive.
std::unique_ptr<format::Layer> openInArchive(const ArchivePath& where, format::Reporter& reporter,
                                             const format::OpenOptions& options);

// Writes a new archive at `path` holding the files, each (name in the archive, path on disk);
// raises format::WriteError when it cannot.
void pack(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files);

}  // namespace kel::archive

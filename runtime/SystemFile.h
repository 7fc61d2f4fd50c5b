#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kel/runtime/Error.h"
#include "kel/runtime/FileChannel.h"

// The few system calls behind a FileChannel, one implementation per system (SystemFile.cpp for
// POSIX, windows/SystemFile.cpp for Win32), so that the channel's buffering is written once.
namespace kel::systemfile {

// Opens or creates a regular file for reading and writing and gives its length; raises "bad file
// name or number" for a path with a NUL character, "path not found", "too many files", "permission
// denied" or "path/file access error" (also for a link that `links` refuses, and described "not a
// regular file" for a FIFO, socket, device or directory, which is never waited on).
int open(const std::string& nativePath, LinkRule links, std::int64_t& size);

// Reads up to n bytes at offset: how many, 0 at the end of the file. Raises "device I/O error".
std::size_t readAt(int fd, void* out, std::size_t n, std::int64_t offset);

// Writes up to n bytes at offset: how many, or 0 with `error` set ("disk full", "device I/O
// error") when nothing could be written.
std::size_t writeAt(int fd, const void* data, std::size_t n, std::int64_t offset,
                    ErrorNumber& error) noexcept;

// The file's length as the system sees it; -1 when it cannot tell.
std::int64_t length(int fd) noexcept;

// Cuts the file to `length` bytes (empties it by default); raises "path/file access error".
void truncate(int fd, std::int64_t length = 0);

// Closes the descriptor; false when the system reports a failure.
bool close(int fd) noexcept;

}  // namespace kel::systemfile

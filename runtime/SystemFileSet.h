#pragma once

#include <string>

#include "kel/runtime/Error.h"

// The system calls behind an AtomicFileSet that a FileChannel does not make, one implementation
// per system (SystemFileSet.cpp for POSIX, windows/SystemFileSet.cpp for Win32). None raises: each
// says whether it worked and, when not, fills a Failure, so that a rollback can go on past one.
namespace kel::systemfileset {

struct Failure {
  ErrorNumber number = ErrorNumber::PathFileAccessError;
  std::string sentence;  // what the system said
};

// Creates a file that did not exist, for reading and writing, following no link; -1 and `taken`
// set when something by that name is there already, -1 and `failure` set for any other refusal.
int createNew(const std::string& path, bool& taken, Failure& failure) noexcept;

// Writes the file's bytes through to the disk.
bool sync(int fd, Failure& failure) noexcept;

// Gives the file `from` the name `to` in one step, replacing whatever file `to` named.
bool rename(const std::string& from, const std::string& to, Failure& failure) noexcept;

enum class LinkResult { Done, Taken, Unsupported, Failed };
// Makes `name` a second name of the file that `existing` names (itself, when it is a link).
// Unsupported where the file system has no such names.
LinkResult link(const std::string& existing, const std::string& name, Failure& failure) noexcept;

// Removes the name; a name that is not there counts as removed.
bool remove(const std::string& path, Failure& failure) noexcept;

// What the path names: nothing, a directory, or anything else (a file, a link, dangling or not).
enum class Kind { None, Directory, Other };
Kind kindOf(const std::string& path) noexcept;

// Makes the directory's entries (the renames in it) durable, where the system can; best effort.
void syncDirectoryOf(const std::string& path) noexcept;

}  // namespace kel::systemfileset

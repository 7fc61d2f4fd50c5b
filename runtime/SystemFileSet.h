#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Gives a new file the access of the file it is to replace: its mode and, where the system allows,
// its group. Best effort: a new file the system will not change keeps the usual access.
void takeAccessOf(const std::string& existing, int fd) noexcept;

// Opens an existing file for reading and writing, following no link and never waiting on a FIFO
// or a device; -1 when it cannot (or is no regular file).
int openExisting(const std::string& path) noexcept;

// Takes the lock that a live writer holds on its files for as long as it runs, without waiting:
// false while another open file holds it. The lock goes with the descriptor's close, or with the
// process.
bool tryLock(int fd) noexcept;

// Which file a name or a descriptor stands for, so that a file renamed is known again: the same
// file has the same identity under every name. Zero when there is none.
struct Identity {
  std::uint64_t device = 0, file = 0;
  bool operator==(const Identity&) const = default;
  explicit operator bool() const noexcept { return file != 0 || device != 0; }
};
Identity identityOf(int fd) noexcept;
// The file the path names: the link itself where it is one, unless `followLinks`.
Identity identityAt(const std::string& path, bool followLinks = false) noexcept;

// Removes the name, as remove() but safe in a signal handler; nothing said of failures.
void removeNow(const char* path) noexcept;

// Holds back the signals by which a user ends a process (SIGINT, SIGTERM, SIGHUP) on this thread
// for as long as it lives; they arrive when it ends. Nothing where there are no such signals.
class SignalsHeld {
 public:
  SignalsHeld() noexcept;
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  alignas(16) unsigned char saved_[256];  // the thread's signal mask as it was
  bool held_ = false;
};

// The names in the directory that holds `path` (the directory itself: "." for a bare name),
// without "." and ".."; empty when it cannot be read.
std::vector<std::string> namesBeside(const std::string& path);

}  // namespace kel::systemfileset

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kel/runtime/SystemFileSet.h"

namespace kel {

// ---- Test seam: fault injection -------------------------------------------------------------
// Lets a test make the k-th creation of a temporary file, write, flush to disk (fsync), rename of
// a new file over its target or removal of a stale file fail, as ChannelFaults does for channels,
// and take hard links away.
class FileSetFaults {
 public:
  enum Operation { kCreate, kWrite, kSync, kRename, kRemove, kOperations };

  // Counts every operation from now on and fails the failAt-th (1-based) of kind `op`; a failAt
  // of 0 only counts. The operation fails before it reaches the system.
  static void arm(Operation op, std::int64_t failAt) noexcept;
  static void disarm() noexcept { armed_ = noLinks_ = false; }
  static std::int64_t counted(Operation op) noexcept { return counts_[op]; }
  static bool failsNow(Operation op) noexcept;
  // After arm(): the file system has no second names (hard links), as FAT has none.
  static void withoutLinks() noexcept { noLinks_ = true; }
  static bool linksRefused() noexcept { return armed_ && noLinks_; }
  // The process ends at once, as if killed, at the k-th (1-based) system call that a set makes
  // from now on, whatever it is; 0 only counts them.
  static void dieAt(std::int64_t k) noexcept {
    dieAt_ = k;
    steps_ = 0;
  }
  static std::int64_t steps() noexcept { return steps_; }
  // Every system call of a set goes through here first.
  static void step() noexcept;

 private:
  static inline std::int64_t dieAt_ = 0, steps_ = 0;
  static inline bool armed_ = false;
  static inline bool noLinks_ = false;
  static inline Operation failOp_ = kCreate;
  static inline std::int64_t failAt_ = 0;
  static inline std::int64_t counts_[kOperations] = {};
};
// ---- end of test seam -----------------------------------------------------------------------

// Files that replace others all together or not at all. Each new file is written under a
// temporary name beside the file it replaces (a hidden name, made with O_EXCL, following no
// link), with the mode and group of the file it replaces, or of the set's first target that
// exists; commit() writes every one through to the disk, then renames each over its target and
// removes the stale files named, so that a reader finds at any time, file by file, either the old
// file or the complete new one. When anything fails, commit() puts back what it had replaced or
// removed, and the destructor of a set never committed removes its temporary files: the old
// files stay as they were. Paths are native (UTF-8 on Windows) and may not hold a NUL.
//
// A set given a recovery record (keepRecord) also survives the death of its process: before its
// first rename it writes down, and syncs, every name it will change and the old files' second
// names; the next set or reader of that record (recover) finds the files of a dead process's
// commit and puts either all the old files or all the new ones in place. A process's temporary
// files are locked while it lives, and the next set that replaces the same target removes those
// of a process that is gone. The signals by which a user ends a process (SIGINT, SIGTERM, SIGHUP)
// wait while a commit renames; removeTemporariesNow() is for their handlers.
//
// Failures are raised as kel::Error: "bad file name or number", "path not found", "permission
// denied", "too many files", "disk full", "device I/O error" or "path/file access error", with a
// description that names the file and what the system said.
class AtomicFileSet {
 public:
  AtomicFileSet() = default;
  ~AtomicFileSet();
  AtomicFileSet(const AtomicFileSet&) = delete;
  AtomicFileSet& operator=(const AtomicFileSet&) = delete;

  // Creates the empty file that is to replace `target` and gives its number in the set. It is
  // written through write(), or through a file channel of the caller's own opened at
  // temporary(i) (the set's handle shares writing) and closed before commit(), which writes the
  // file through to the disk all the same.
  std::size_t add(const std::string& target);
  // Opens the existing `target` to add to it in place, rather than replace it, and gives its number
  // in the set: bytes go at `keep` and past (up to the old end, `keep` is an end mark that the
  // additions overwrite), and its first `headerBytes` change at the commit. A set of such members
  // needs a recovery record, written before the first byte reaches a file: it holds each file's
  // old length, header and bytes from `keep` on, so that a failure, an abandon() or the death of
  // the process puts every file back as it was. commit() writes the additions through to the disk,
  // then the headers, then writes those through: until then a reader finds the old headers, and
  // so the old records. A set adds to files or replaces them, not both.
  std::size_t extend(const std::string& target, std::int64_t keep, std::size_t headerBytes);
  // Writes n bytes at an offset of member i. For a member added to, bytes below its `keep` (its
  // header) are held until the commit.
  void write(std::size_t i, std::int64_t offset, const void* data, std::size_t n);
  // Puts every member in place of its target and removes the `stale` files (none of them a
  // target) that are there. Raises and leaves every target and stale file as it was on failure;
  // either way no temporary file is left. A set is committed once.
  void commit(const std::vector<std::string>& stale = {});
  // Removes the temporary files; the targets stay as they are. The destructor does it too.
  void abandon() noexcept;

  // The commit writes its recovery record at `record` (see recordFor), after putting right what a
  // dead process's commit left there, if anything.
  void keepRecord(std::string record);

  // The recovery record of the layer whose files are `stem` and an extension.
  static std::string recordFor(std::string_view stem);
  enum class Recovered { Nothing, Busy, Back, Forward };
  // Puts right the files named in the recovery record of a commit whose process is gone: all of
  // the old files back (Back), or, when every new one was in place, the stale ones removed
  // (Forward); Busy while a live process commits. Raises kel::Error when the files cannot be put
  // right (the record is then kept for another try).
  static Recovered recover(const std::string& record);
  // As recover(), waiting up to `seconds` for a live commit to end.
  static Recovered recoverWaiting(const std::string& record, double seconds);

  // Removes every temporary file of every set of the process that is not committing. Safe in a
  // signal handler.
  static void removeTemporariesNow() noexcept;

  const std::string& target(std::size_t i) const { return members_.at(i).target; }
  const std::string& temporary(std::size_t i) const { return members_.at(i).temporary; }

 private:
  struct Member {
    std::string target, temporary;
    int fd = -1;
    int slot = -1;  // where a signal handler finds the temporary name
    // A file added to: where the additions go (-1 for a file replaced), its old length, header and
    // bytes from `keep` on, and the header's bytes that wait for the commit.
    std::int64_t keep = -1, length = 0;
    std::string header, tail;
    std::vector<std::pair<std::int64_t, std::string>> held;
  };
  // A file the commit replaces or removes: its old content, kept under a second name until the
  // commit has succeeded.
  struct Backup {
    std::string path, temporary;  // temporary empty for a stale file
    std::string backup;           // the old file's second name
    bool existed = false;         // there is an old file to keep
    bool kept = false;            // the backup name holds it
    bool movedAside = false;      // the file system has no second names: the file itself was moved
    bool changed = false;         // the path now names the new file, or nothing
    systemfileset::Identity fresh;
  };

  void closeAll() noexcept;
  void restore(std::vector<Backup>& backups, std::string& lost) noexcept;
  void writeRecord(const std::vector<Backup>& backups);
  void writeRecord(const std::string& bytes);
  bool extending() const noexcept { return !members_.empty() && members_.front().keep >= 0; }
  // Puts the files added to back as they were; false when one cannot be.
  bool putBack() noexcept;
  void recordAdditions();
  void commitAdditions(const std::vector<std::string>& stale);
  void dropRecord(bool remove) noexcept;

  std::vector<Member> members_;
  std::string record_;    // the recovery record's path; empty: none is kept
  int recordFd_ = -1;     // open and locked while the commit runs
  bool done_ = false;
};

}  // namespace kel

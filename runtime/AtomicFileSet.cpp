#include "kel/runtime/AtomicFileSet.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "kel/runtime/Error.h"
#include "kel/runtime/ReplacementRecord.h"
#include "kel/runtime/SystemFile.h"
#include "kel/runtime/SystemFileSet.h"
#include "kel/runtime/Text.h"

namespace kel {

void FileSetFaults::arm(Operation op, std::int64_t failAt) noexcept {
  armed_ = true;
  noLinks_ = false;
  failOp_ = op;
  failAt_ = failAt;
  for (std::int64_t& count : counts_) count = 0;
}

bool FileSetFaults::failsNow(Operation op) noexcept {
  step();
  return armed_ && ++counts_[op] == failAt_ && op == failOp_;
}

void FileSetFaults::step() noexcept {
  if (++steps_ == dieAt_) std::_Exit(137);
}

namespace {

using systemfileset::Failure;

// What failed, what the system said and, after a failed rollback, where the old files are.
[[noreturn]] void fail(const Failure& failure, const std::string& what,
                       const std::string& after = {}) {
  throw Error(failure.number, toUtf16(what + ": " + failure.sentence + after));
}

bool injected(FileSetFaults::Operation op, Failure& failure) {
  if (!FileSetFaults::failsNow(op)) return false;
  failure = {op == FileSetFaults::kCreate || op == FileSetFaults::kRename
                 ? ErrorNumber::PathFileAccessError
                 : ErrorNumber::DeviceIOError,
             "failed on purpose (test seam)"};
  return true;
}

std::uint64_t randomBits() {
  static std::atomic<std::uint64_t> state = [] {
    std::uint64_t seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      seed ^= std::uint64_t{std::random_device()()} << 32;
    } catch (...) {
      // The clock alone then; O_EXCL keeps the names apart anyway.
    }
    return seed;
  }();
  // splitmix64
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);  // atomic: writers on several threads
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

std::size_t nameAt(std::string_view path) {
#ifdef _WIN32
  std::size_t slash = path.find_last_of("\\/:");
#else
  std::size_t slash = path.find_last_of('/');
#endif
  return slash == std::string::npos ? 0 : slash + 1;
}

// A hidden name beside the path, not taken yet when made: ".NAME.XXXXXXXX" and the suffix.
std::string besides(const std::string& path, const char* suffix) {
  std::size_t at = nameAt(path);
  static const char kHex[] = "0123456789abcdef";
  std::uint64_t bits = randomBits();
  std::string tag(10, '.');
  for (std::size_t i = 1; i < 9; ++i, bits >>= 4) tag[i] = kHex[bits & 15];
  return path.substr(0, at) + "." + path.substr(at) + tag.substr(0, 9) + suffix;
}

// The name the old file behind a temporary one takes while the commit runs: the same tag.
std::string backupOf(const std::string& temporary) {
  return temporary.substr(0, temporary.size() - 4) + ".old";
}

// Removes the temporary files that a process now gone left beside `path` (as besides() names
// them, with the suffix .tmp): no process holds their lock.
void sweep(const std::string& path) {
  std::size_t at = nameAt(path);
  std::string prefix = "." + path.substr(at) + ".";
  for (const std::string& name : systemfileset::namesBeside(path)) {
    if (name.size() != prefix.size() + 12 || !name.starts_with(prefix) || !name.ends_with(".tmp") ||
        name.find_first_not_of("0123456789abcdef", prefix.size()) != prefix.size() + 8) {
      continue;
    }
    std::string temporary = path.substr(0, at) + name;
    FileSetFaults::step();
    int fd = systemfileset::openExisting(temporary);
    if (fd < 0) continue;
    Failure ignored;
    if (systemfileset::tryLock(fd)) systemfileset::remove(temporary, ignored);
    systemfile::close(fd);
  }
}

// The temporary names of the process's sets, for a signal handler to remove.
constexpr std::size_t kSlots = 256;
std::atomic<char*> liveTemporaries[kSlots];

int remember(const std::string& temporary) noexcept {
  char* copy = static_cast<char*>(std::malloc(temporary.size() + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, temporary.c_str(), temporary.size() + 1);
  for (std::size_t i = 0; i < kSlots; ++i) {
    char* empty = nullptr;
    if (liveTemporaries[i].compare_exchange_strong(empty, copy)) return static_cast<int>(i);
  }
  std::free(copy);
  return -1;
}

void forget(int& slot) noexcept {
  if (slot >= 0) std::free(liveTemporaries[slot].exchange(nullptr));
  slot = -1;
}

}  // namespace

AtomicFileSet::~AtomicFileSet() {
  abandon();
  if (recordFd_ >= 0) dropRecord(false);
}

std::size_t AtomicFileSet::add(const std::string& target) {
  if (target.find('\0') != std::string::npos) {
    throw Error(ErrorNumber::BadFileNameOrNumber, u"a path holds a NUL character");
  }
  sweep(target);
  Failure failure;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = besides(target, ".tmp");
    bool taken = false;
    if (injected(FileSetFaults::kCreate, failure)) break;
    // A signal's handler finds the file from the moment it is made.
    systemfileset::SignalsHeld held;
    int fd = systemfileset::createNew(temporary, taken, failure);
    if (fd >= 0) {
      systemfileset::tryLock(fd);
      // A new file of a layer takes the access of the file it replaces, else of the layer's.
      const std::string* like = &target;
      for (const Member& m : members_) {
        if (systemfileset::kindOf(*like) != systemfileset::Kind::None) break;
        like = &m.target;
      }
      systemfileset::takeAccessOf(*like, fd);
      Member m;
      m.target = target;
      m.temporary = temporary;
      m.fd = fd;
      m.slot = remember(temporary);
      members_.push_back(std::move(m));
      return members_.size() - 1;
    }
    if (!taken) break;
  }
  fail(failure, "cannot create a new file beside " + target);
}

void AtomicFileSet::recordAdditions() {
  ReplacementRecord record;
  for (const Member& e : members_) {
    ReplacementRecord::Entry entry;
    entry.path = e.target;
    entry.fresh = systemfileset::identityOf(e.fd);
    entry.length = e.length;
    entry.kept = e.keep;
    entry.header = e.header;
    entry.tail = e.tail;
    record.entries.push_back(std::move(entry));
  }
  writeRecord(record.encode());
}

std::size_t AtomicFileSet::extend(const std::string& target, std::int64_t keep,
                                  std::size_t headerBytes) {
  if (record_.empty() || (!members_.empty() && !extending()) || recordFd_ >= 0) {
    throw Error(ErrorNumber::InvalidProcedureCall,
                u"a file is added to only in a set of such files, with a recovery record");
  }
  Failure failure;
  Member m;
  m.target = target;
  m.keep = keep;
  if (!injected(FileSetFaults::kCreate, failure)) {
    m.fd = systemfileset::openExisting(target);
    if (m.fd < 0) failure = {ErrorNumber::PathFileAccessError, "it cannot be opened for writing"};
  }
  if (m.fd < 0) fail(failure, "cannot add to " + target);
  members_.push_back(m);  // closed by abandon() from here on
  Member& added = members_.back();
  added.length = systemfile::length(added.fd);
  constexpr std::int64_t kMostKept = 1 << 20;
  if (keep < static_cast<std::int64_t>(headerBytes) || added.length < keep ||
      added.length - keep > kMostKept) {
    fail({ErrorNumber::PathFileAccessError, "it holds " + std::to_string(added.length) +
                                                " bytes where " + std::to_string(keep) +
                                                " were expected"},
         "cannot add to " + target);
  }
  added.header.resize(headerBytes);
  added.tail.resize(static_cast<std::size_t>(added.length - keep));
  FileSetFaults::step();
  if (systemfile::readAt(added.fd, added.header.data(), headerBytes, 0) != headerBytes ||
      systemfile::readAt(added.fd, added.tail.data(), added.tail.size(), keep) !=
          added.tail.size()) {
    fail({ErrorNumber::DeviceIOError, "it could not be read"}, "cannot add to " + target);
  }
  return members_.size() - 1;
}

void AtomicFileSet::write(std::size_t i, std::int64_t offset, const void* data, std::size_t n) {
  Member& m = members_.at(i);
  Failure failure;
  if (m.keep >= 0 && offset < m.keep) {
    m.held.emplace_back(offset, std::string(static_cast<const char*>(data), n));
    return;
  }
  if (m.keep >= 0 && recordFd_ < 0 && m.fd >= 0) recordAdditions();
  if (m.fd < 0) {
    failure.sentence = "the file is closed";
  } else if (!injected(FileSetFaults::kWrite, failure)) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (n > 0) {
      ErrorNumber error = ErrorNumber::DeviceIOError;
      std::size_t w = systemfile::writeAt(m.fd, bytes, n, offset, error);
      if (w == 0) {
        failure = {error, toUtf8(standardDescription(static_cast<std::int32_t>(error)))};
        break;
      }
      bytes += w;
      n -= w;
      offset += static_cast<std::int64_t>(w);
    }
    if (n == 0) return;
  }
  fail(failure, "cannot write the new " + m.target);
}

void AtomicFileSet::closeAll() noexcept {
  for (Member& m : members_) {
    if (m.fd >= 0) systemfile::close(m.fd);
    m.fd = -1;
  }
}

bool AtomicFileSet::putBack() noexcept {
  bool ok = true;
  for (Member& m : members_) {
    if (m.fd < 0) continue;
    Failure failure;
    ErrorNumber error = ErrorNumber::DeviceIOError;
    FileSetFaults::step();
    bool back =
        systemfile::writeAt(m.fd, m.header.data(), m.header.size(), 0, error) == m.header.size() &&
        systemfile::writeAt(m.fd, m.tail.data(), m.tail.size(), m.keep, error) == m.tail.size();
    try {
      FileSetFaults::step();
      systemfile::truncate(m.fd, m.length);
    } catch (const Error&) {
      back = false;
    }
    FileSetFaults::step();
    ok = back && systemfileset::sync(m.fd, failure) && ok;
  }
  return ok;
}

void AtomicFileSet::abandon() noexcept {
  if (extending() && recordFd_ >= 0) {
    // Something may have reached the files: they go back, and the record with them.
    bool back = putBack();
    closeAll();
    dropRecord(back);
    return;
  }
  closeAll();
  for (Member& m : members_) {
    forget(m.slot);
    Failure ignored;
    if (!m.temporary.empty()) systemfileset::remove(m.temporary, ignored);
    m.temporary.clear();
  }
}

void AtomicFileSet::removeTemporariesNow() noexcept {
  for (std::atomic<char*>& slot : liveTemporaries) {
    if (const char* path = slot.load()) systemfileset::removeNow(path);
  }
}

void AtomicFileSet::keepRecord(std::string record) {
  record_ = std::move(record);
  try {
    recover(record_);
  } catch (const Error&) {
    // The commit tries again, and says so when it cannot.
  }
}

std::string AtomicFileSet::recordFor(std::string_view stem) {
  std::size_t at = nameAt(stem);
  return std::string(stem.substr(0, at)) + "." + std::string(stem.substr(at)) + ".replacing";
}

void AtomicFileSet::writeRecord(const std::vector<Backup>& backups) {
  ReplacementRecord record;
  for (const Backup& b : backups) {
    ReplacementRecord::Entry& e = record.entries.emplace_back();
    e.path = b.path;
    e.temporary = b.temporary;
    e.backup = b.backup;
    e.existed = b.existed;
    e.fresh = b.fresh;
  }
  writeRecord(record.encode());
}

void AtomicFileSet::writeRecord(const std::string& bytes) {
  sweep(record_);
  Failure failure;
  auto waited = std::chrono::steady_clock::now();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    // Written whole under a temporary name, then given the record's name in one step.
    std::string temporary = besides(record_, ".tmp");
    bool taken = false;
    if (injected(FileSetFaults::kCreate, failure)) break;
    int fd = systemfileset::createNew(temporary, taken, failure);
    if (fd < 0) {
      if (taken) continue;
      break;
    }
    systemfileset::tryLock(fd);
    ErrorNumber error = ErrorNumber::DeviceIOError;
    bool written = !injected(FileSetFaults::kWrite, failure) &&
                   (systemfile::writeAt(fd, bytes.data(), bytes.size(), 0, error) == bytes.size() ||
                    (failure = {error, "the recovery record cannot be written"}, false)) &&
                   !injected(FileSetFaults::kSync, failure) && systemfileset::sync(fd, failure);
    systemfileset::LinkResult placed = systemfileset::LinkResult::Failed;
    if (written && !injected(FileSetFaults::kRename, failure)) {
      placed = FileSetFaults::linksRefused() ? systemfileset::LinkResult::Unsupported
                                             : systemfileset::link(temporary, record_, failure);
      if (placed == systemfileset::LinkResult::Unsupported) {
        // Without second names: a rename, once the name is free.
        placed = systemfileset::kindOf(record_) != systemfileset::Kind::None
                     ? systemfileset::LinkResult::Taken
                 : systemfileset::rename(temporary, record_, failure)
                     ? systemfileset::LinkResult::Done
                     : systemfileset::LinkResult::Failed;
      }
    }
    Failure ignored;
    FileSetFaults::step();
    systemfileset::remove(temporary, ignored);
    if (placed == systemfileset::LinkResult::Done) {
      recordFd_ = fd;
      FileSetFaults::step();
      systemfileset::syncDirectoryOf(record_);
      return;
    }
    systemfile::close(fd);
    if (placed != systemfileset::LinkResult::Taken) break;
    // Another commit's record: a dead one is put right at once, a live one is waited for.
    if (recover(record_) == Recovered::Busy) {
      if (std::chrono::steady_clock::now() - waited > std::chrono::seconds(10)) {
        failure = {ErrorNumber::PermissionDenied, "another process is replacing the files"};
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  fail(failure, "cannot write the recovery record " + record_);
}

void AtomicFileSet::dropRecord(bool remove) noexcept {
  if (remove) {
    Failure ignored;
    FileSetFaults::step();
    systemfileset::remove(record_, ignored);
  }
  if (recordFd_ >= 0) systemfile::close(recordFd_);
  recordFd_ = -1;
}

void AtomicFileSet::restore(std::vector<Backup>& backups, std::string& lost) noexcept {
  // The replaced files first: once one of them is old again, a recovery rolls back.
  for (Backup& b : backups) {
    Failure failure;
    bool ok = true;
    FileSetFaults::step();
    if (b.changed) {
      ok = b.kept ? systemfileset::rename(b.backup, b.path, failure)
                  : systemfileset::remove(b.path, failure);
    } else if (b.kept) {
      ok = systemfileset::remove(b.backup, failure);
    }
    if (!ok && b.kept) lost += "; the old " + b.path + " is kept as " + b.backup;
  }
}

void AtomicFileSet::commitAdditions(const std::vector<std::string>& stale) {
  systemfileset::SignalsHeld held;
  Failure failure;
  auto back = [&](const std::string& what) {
    bool restored = putBack();
    closeAll();
    dropRecord(restored);
    fail(failure, what, restored ? "" : "; the recovery record " + record_ + " puts it back");
  };
  if (recordFd_ < 0) {
    try {
      recordAdditions();
    } catch (...) {
      closeAll();
      throw;
    }
  }
  // The additions on the disk first, then the headers that count them.
  for (Member& m : members_) {
    if (injected(FileSetFaults::kSync, failure) || !systemfileset::sync(m.fd, failure)) {
      back("cannot write the additions to " + m.target + " through to the disk");
    }
  }
  for (Member& m : members_) {
    for (const auto& [offset, bytes] : m.held) {
      ErrorNumber error = ErrorNumber::DeviceIOError;
      if (injected(FileSetFaults::kWrite, failure) ||
          systemfile::writeAt(m.fd, bytes.data(), bytes.size(), offset, error) != bytes.size()) {
        if (failure.sentence.empty()) {
          failure = {error, toUtf8(standardDescription(static_cast<std::int32_t>(error)))};
        }
        back("cannot write the header of " + m.target);
      }
    }
  }
  for (Member& m : members_) {
    if (injected(FileSetFaults::kSync, failure) || !systemfileset::sync(m.fd, failure)) {
      back("cannot write the header of " + m.target + " through to the disk");
    }
  }
  for (const std::string& path : stale) {
    FileSetFaults::step();
    if (systemfileset::kindOf(path) != systemfileset::Kind::Other) continue;
    if (injected(FileSetFaults::kRemove, failure) || !systemfileset::remove(path, failure)) {
      back("cannot remove the stale " + path);
    }
  }
  for (Member& m : members_) {
    FileSetFaults::step();
    systemfile::close(m.fd);
    m.fd = -1;
  }
  FileSetFaults::step();
  systemfileset::syncDirectoryOf(record_);
  dropRecord(true);
}

void AtomicFileSet::commit(const std::vector<std::string>& stale) {
  if (done_) throw Error(ErrorNumber::InvalidProcedureCall, u"the files are committed already");
  done_ = true;
  if (extending()) return commitAdditions(stale);
  // A user's Ctrl-C waits until the files are all old or all new again.
  systemfileset::SignalsHeld held;
  for (Member& m : members_) forget(m.slot);
  Failure failure;
  // Every new file complete on the disk before any old one goes.
  for (Member& m : members_) {
    if (injected(FileSetFaults::kSync, failure) || !systemfileset::sync(m.fd, failure)) {
      abandon();
      fail(failure, "cannot write the new " + m.target + " through to the disk");
    }
  }

  // What changes: the targets, each replaced, and the stale files there, each removed.
  std::vector<Backup> backups;
  for (const Member& m : members_) {
    FileSetFaults::step();
    systemfileset::Kind kind = systemfileset::kindOf(m.target);
    if (kind == systemfileset::Kind::Directory) {
      abandon();
      fail({ErrorNumber::PathFileAccessError, "it is a directory"}, "cannot replace " + m.target);
    }
    backups.push_back({m.target, m.temporary, backupOf(m.temporary),
                       kind != systemfileset::Kind::None, false, false, false,
                       systemfileset::identityOf(m.fd)});
  }
  for (const std::string& path : stale) {
    // A directory by a stale file's name is no file of the layer's; none is removed.
    FileSetFaults::step();
    if (systemfileset::kindOf(path) != systemfileset::Kind::Other) continue;
    backups.push_back({path, {}, besides(path, ".old"), true, false, false, false, {}});
  }
  if (!record_.empty()) {
    try {
      writeRecord(backups);
    } catch (...) {
      abandon();
      throw;
    }
  }
  for (Member& m : members_) {
    FileSetFaults::step();
    bool closed = systemfile::close(m.fd);
    m.fd = -1;
    if (!closed) {
      abandon();
      dropRecord(true);
      fail({ErrorNumber::DeviceIOError, "the system could not close it"},
           "cannot write the new " + m.target + " through to the disk");
    }
  }

  // The old files stay under second names until the new ones are in place.
  std::string what;
  bool ok = true;
  for (Backup& b : backups) {
    if (!b.existed) continue;
    FileSetFaults::step();
    auto linked = FileSetFaults::linksRefused() ? systemfileset::LinkResult::Unsupported
                                                : systemfileset::link(b.path, b.backup, failure);
    if (linked == systemfileset::LinkResult::Unsupported &&
        systemfileset::kindOf(b.backup) == systemfileset::Kind::None) {
      if (systemfileset::rename(b.path, b.backup, failure)) {
        b.kept = b.movedAside = b.changed = true;
        continue;
      }
    } else if (linked == systemfileset::LinkResult::Done) {
      b.kept = true;
      continue;
    }
    what = "cannot keep the old " + b.path + " aside";
    ok = false;
    break;
  }

  for (std::size_t i = 0; ok && i < members_.size(); ++i) {
    Member& m = members_[i];
    if (injected(FileSetFaults::kRename, failure) ||
        !systemfileset::rename(m.temporary, m.target, failure)) {
      what = "cannot put the new " + m.target + " in place";
      ok = false;
    } else {
      m.temporary.clear();
      backups[i].changed = true;
    }
  }
  for (std::size_t i = members_.size(); ok && i < backups.size(); ++i) {
    Backup& b = backups[i];
    if (b.movedAside) continue;
    if (injected(FileSetFaults::kRemove, failure) || !systemfileset::remove(b.path, failure)) {
      what = "cannot remove the stale " + b.path;
      ok = false;
    } else {
      b.changed = true;
    }
  }

  if (!ok) {
    std::string lost;
    restore(backups, lost);
    abandon();
    // Kept when the old files could not all be put back: the next one to come puts them back.
    dropRecord(lost.empty());
    fail(failure, what, lost);
  }
  for (const Backup& b : backups) {
    Failure ignored;
    FileSetFaults::step();
    if (b.kept) systemfileset::remove(b.backup, ignored);
  }
  FileSetFaults::step();
  systemfileset::syncDirectoryOf(members_.empty() ? record_ : members_.front().target);
  if (!record_.empty()) dropRecord(true);
}

namespace {

// Puts right what the record names: all the old files back, or all the new ones kept.
bool putRight(const ReplacementRecord& record, Failure& failure, std::string& what) {
  using systemfileset::identityAt;
  // Files added to: each back to its old length and header, where it is the same file still.
  bool added = false;
  for (const ReplacementRecord::Entry& e : record.entries) {
    if (e.length < 0) continue;
    added = true;
    FileSetFaults::step();
    int fd = systemfileset::openExisting(e.path);
    if (fd < 0) continue;  // gone, or no regular file: nothing of the additions is there
    bool ok = true;
    if (systemfileset::identityOf(fd) == e.fresh) {
      ErrorNumber error = ErrorNumber::DeviceIOError;
      ok = systemfile::writeAt(fd, e.header.data(), e.header.size(), 0, error) == e.header.size() &&
           systemfile::writeAt(fd, e.tail.data(), e.tail.size(), e.kept, error) == e.tail.size();
      try {
        systemfile::truncate(fd, e.length);
      } catch (const Error&) {
        ok = false;
      }
      ok = ok && systemfileset::sync(fd, failure);
    }
    systemfile::close(fd);
    if (!ok) {
      what = "cannot put back " + e.path;
      return false;
    }
  }
  if (added) return false;
  bool forward = true;
  for (const ReplacementRecord::Entry& e : record.entries) {
    if (!e.temporary.empty() && !(identityAt(e.path) == e.fresh)) forward = false;
  }
  for (const ReplacementRecord::Entry& e : record.entries) {
    FileSetFaults::step();
    systemfileset::Identity backup = identityAt(e.backup);
    bool ok = true;
    if (forward) {
      // The stale files go, as the commit would have removed them.
      if (backup && e.temporary.empty() && identityAt(e.path) == backup) {
        ok = systemfileset::remove(e.path, failure);
      }
    } else if (backup) {
      // The old file back under its name (a rename onto a second name of itself does nothing).
      ok = systemfileset::rename(e.backup, e.path, failure);
    } else if (!e.existed && !e.temporary.empty() && identityAt(e.path) == e.fresh) {
      ok = systemfileset::remove(e.path, failure);  // a new file where there was none
    }
    ok = ok && systemfileset::remove(e.backup, failure);
    if (!e.temporary.empty()) ok = ok && systemfileset::remove(e.temporary, failure);
    if (!ok) {
      what = "cannot put back " + e.path;
      return false;
    }
  }
  return forward;
}

}  // namespace

AtomicFileSet::Recovered AtomicFileSet::recover(const std::string& record) {
  FileSetFaults::step();
  int fd = -1;
  // A record that comes and goes as live commits begin and end is opened again.
  for (int attempt = 0; fd < 0; ++attempt) {
    fd = systemfileset::openExisting(record);
    if (fd >= 0) break;
    if (systemfileset::kindOf(record) == systemfileset::Kind::None) return Recovered::Nothing;
    if (attempt == 100) {
      throw Error(ErrorNumber::PathFileAccessError,
                  toUtf16("the recovery record " + record + " cannot be opened"));
    }
  }
  struct Closer {
    int fd;
    ~Closer() { systemfile::close(fd); }
  } closer{fd};
  if (!systemfileset::tryLock(fd)) return Recovered::Busy;
  // The lock of a commit that has just ended: its record is gone from the name, or the name is
  // another commit's by now.
  if (!(systemfileset::identityAt(record) == systemfileset::identityOf(fd))) {
    return Recovered::Nothing;
  }
  std::string bytes;
  std::int64_t length = systemfile::length(fd);
  if (length > 0 && length < (std::int64_t{1} << 30)) {
    bytes.resize(static_cast<std::size_t>(length));
    bytes.resize(systemfile::readAt(fd, bytes.data(), bytes.size(), 0));
  }
  std::optional<ReplacementRecord> parsed = ReplacementRecord::decode(bytes);
  if (!parsed) {
    throw Error(ErrorNumber::PathFileAccessError,
                toUtf16("the recovery record " + record +
                        " is not one this library wrote; it was left as it is"));
  }
  Failure failure;
  std::string what;
  bool forward = putRight(*parsed, failure, what);
  if (!what.empty()) fail(failure, "an interrupted replacement " + what);
  systemfileset::syncDirectoryOf(record);
  if (!systemfileset::remove(record, failure)) fail(failure, "cannot remove " + record);
  return forward ? Recovered::Forward : Recovered::Back;
}

AtomicFileSet::Recovered AtomicFileSet::recoverWaiting(const std::string& record, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    Recovered r = recover(record);
    if (r != Recovered::Busy || std::chrono::steady_clock::now() >= until) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kel

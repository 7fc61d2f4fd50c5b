#include "kel/runtime/AtomicFileSet.h"

#include <atomic>
#include <chrono>
#include <random>

#include "kel/runtime/Error.h"
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
  return armed_ && ++counts_[op] == failAt_ && op == failOp_;
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

// A hidden name beside the path, not taken yet when made: ".NAME.XXXXXXXX" and the suffix.
std::string besides(const std::string& path, const char* suffix) {
#ifdef _WIN32
  std::size_t slash = path.find_last_of("\\/:");
#else
  std::size_t slash = path.find_last_of('/');
#endif
  std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  static const char kHex[] = "0123456789abcdef";
  std::uint64_t bits = randomBits();
  std::string tag(10, '.');
  for (std::size_t i = 1; i < 9; ++i, bits >>= 4) tag[i] = kHex[bits & 15];
  return path.substr(0, nameAt) + "." + path.substr(nameAt) + tag.substr(0, 9) + suffix;
}

}  // namespace

AtomicFileSet::~AtomicFileSet() {
  abandon();
}

std::size_t AtomicFileSet::add(const std::string& target) {
  if (target.find('\0') != std::string::npos) {
    throw Error(ErrorNumber::BadFileNameOrNumber, u"a path holds a NUL character");
  }
  Failure failure;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = besides(target, ".tmp");
    bool taken = false;
    if (injected(FileSetFaults::kCreate, failure)) break;
    int fd = systemfileset::createNew(temporary, taken, failure);
    if (fd >= 0) {
      members_.push_back({target, temporary, fd});
      return members_.size() - 1;
    }
    if (!taken) break;
  }
  fail(failure, "cannot create a new file beside " + target);
}

void AtomicFileSet::write(std::size_t i, std::int64_t offset, const void* data, std::size_t n) {
  Member& m = members_.at(i);
  Failure failure;
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

void AtomicFileSet::abandon() noexcept {
  closeAll();
  for (Member& m : members_) {
    Failure ignored;
    if (!m.temporary.empty()) systemfileset::remove(m.temporary, ignored);
    m.temporary.clear();
  }
}

void AtomicFileSet::restore(std::vector<Backup>& backups, std::string& lost) noexcept {
  for (auto b = backups.rbegin(); b != backups.rend(); ++b) {
    Failure failure;
    bool ok = true;
    if (b->changed) {
      ok = b->backup.empty() ? systemfileset::remove(b->path, failure)
                             : systemfileset::rename(b->backup, b->path, failure);
    } else if (!b->backup.empty()) {
      ok = systemfileset::remove(b->backup, failure);
    }
    if (!ok && !b->backup.empty()) {
      lost += "; the old " + b->path + " is kept as " + b->backup;
    }
  }
}

void AtomicFileSet::commit(const std::vector<std::string>& stale) {
  if (done_) throw Error(ErrorNumber::InvalidProcedureCall, u"the files are committed already");
  done_ = true;
  Failure failure;
  // Every new file complete on the disk before any old one goes.
  for (Member& m : members_) {
    bool synced = !injected(FileSetFaults::kSync, failure) && systemfileset::sync(m.fd, failure);
    bool closed = systemfile::close(m.fd);
    m.fd = -1;
    if (!synced || !closed) {
      if (synced) failure = {ErrorNumber::DeviceIOError, "the system could not close it"};
      abandon();
      fail(failure, "cannot write the new " + m.target + " through to the disk");
    }
  }

  // The old files stay under second names until the new ones are in place.
  std::vector<Backup> backups;
  std::string what;
  auto keep = [&](const std::string& path, bool target) {
    systemfileset::Kind kind = systemfileset::kindOf(path);
    if (kind == systemfileset::Kind::Directory) {
      // A directory by a stale file's name is no file of the layer's; none is replaced.
      if (!target) return true;
      failure = {ErrorNumber::PathFileAccessError, "it is a directory"};
      what = "cannot replace " + path;
      return false;
    }
    Backup& b = backups.emplace_back(Backup{path, {}, false, false});
    if (kind == systemfileset::Kind::None) return true;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = besides(path, ".old");
      auto linked = FileSetFaults::linksRefused() ? systemfileset::LinkResult::Unsupported
                                                  : systemfileset::link(path, name, failure);
      if (linked == systemfileset::LinkResult::Done) {
        b.backup = name;
        return true;
      }
      if (linked == systemfileset::LinkResult::Unsupported &&
          systemfileset::kindOf(name) == systemfileset::Kind::None) {
        if (!systemfileset::rename(path, name, failure)) break;
        b.backup = name;
        b.movedAside = b.changed = true;
        return true;
      }
      if (linked != systemfileset::LinkResult::Taken) break;
    }
    what = "cannot keep the old " + path + " aside";
    return false;
  };
  bool ok = true;
  for (const Member& m : members_) ok = ok && keep(m.target, true);
  for (const std::string& path : stale) ok = ok && keep(path, false);

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
    if (b.backup.empty() || b.movedAside) continue;
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
    fail(failure, what, lost);
  }
  for (const Backup& b : backups) {
    Failure ignored;
    if (!b.backup.empty()) systemfileset::remove(b.backup, ignored);
  }
  if (!members_.empty()) systemfileset::syncDirectoryOf(members_.front().target);
}

}  // namespace kel

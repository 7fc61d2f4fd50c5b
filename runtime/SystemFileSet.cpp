#include "kel/runtime/SystemFileSet.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kel::systemfileset {

namespace {

bool fail(Failure& failure, int err) noexcept {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      failure.number = ErrorNumber::PathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      failure.number = ErrorNumber::PermissionDenied;
      break;
    case EMFILE:
    case ENFILE:
      failure.number = ErrorNumber::TooManyFiles;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      failure.number = ErrorNumber::DiskFull;
      break;
    case EIO:
      failure.number = ErrorNumber::DeviceIOError;
      break;
    default:
      failure.number = ErrorNumber::PathFileAccessError;
  }
  failure.sentence = std::strerror(err);
  return false;
}

}  // namespace

int createNew(const std::string& path, bool& taken, Failure& failure) noexcept {
  taken = false;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    taken = errno == EEXIST;
    fail(failure, errno);
  }
  return fd;
}

bool sync(int fd, Failure& failure) noexcept {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 || fail(failure, errno);
}

bool rename(const std::string& from, const std::string& to, Failure& failure) noexcept {
  return std::rename(from.c_str(), to.c_str()) == 0 || fail(failure, errno);
}

LinkResult link(const std::string& existing, const std::string& name, Failure& failure) noexcept {
  if (::link(existing.c_str(), name.c_str()) == 0) return LinkResult::Done;
  int err = errno;
  fail(failure, err);
  if (err == EEXIST) return LinkResult::Taken;
  // FAT and some network file systems: no second names.
  if (err == EPERM || err == ENOTSUP || err == EOPNOTSUPP || err == EMLINK || err == ENOSYS) {
    return LinkResult::Unsupported;
  }
  return LinkResult::Failed;
}

bool remove(const std::string& path, Failure& failure) noexcept {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT || fail(failure, errno);
}

Kind kindOf(const std::string& path) noexcept {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return Kind::None;
  return S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Other;
}

void syncDirectoryOf(const std::string& path) noexcept {
  std::size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void takeAccessOf(const std::string& existing, int fd) noexcept {
  struct stat st;
  if (::stat(existing.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  // The group first: changing it may clear the set-group-ID bit that the mode then puts back.
  if (::fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
    // Not a member of that group: the file keeps the writer's.
  }
  ::fchmod(fd, st.st_mode & 07777);
}

int openExisting(const std::string& path) noexcept {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool tryLock(int fd) noexcept {
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

Identity identityOf(int fd) noexcept {
  struct stat st;
  if (::fstat(fd, &st) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Identity identityAt(const std::string& path, bool followLinks) noexcept {
  struct stat st;
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return {};
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void removeNow(const char* path) noexcept {
  ::unlink(path);
}

SignalsHeld::SignalsHeld() noexcept {
  static_assert(sizeof(sigset_t) <= sizeof(saved_));
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  held_ = pthread_sigmask(SIG_BLOCK, &ending, reinterpret_cast<sigset_t*>(saved_)) == 0;
}

SignalsHeld::~SignalsHeld() {
  if (held_) pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

std::vector<std::string> namesBeside(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(d);
  return names;
}

}  // namespace kel::systemfileset

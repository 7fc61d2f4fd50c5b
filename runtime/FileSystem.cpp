#include "kel/runtime/FileSystem.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "kel/runtime/Error.h"
#include "kel/runtime/Text.h"

namespace kel {

namespace {

bool isSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

struct SplitPath {
  bool absolute = false;
  std::vector<std::u16string> components;  // empty components (doubled separators) dropped
  bool trailingSeparator = false;
};

SplitPath split(std::u16string_view path) {
  SplitPath out;
  bool hasDrive = path.size() >= 2 && path[1] == u':' &&
                  ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  if (hasDrive) {
    path.remove_prefix(2);
    out.absolute = true;  // every drive is the one root of this machine
  }
  if (!path.empty() && isSeparator(path.front())) out.absolute = true;
  out.trailingSeparator = !path.empty() && isSeparator(path.back());
  std::u16string current;
  for (char16_t c : path) {
    if (isSeparator(c)) {
      if (!current.empty()) out.components.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.components.push_back(std::move(current));
  return out;
}

bool exists(const std::string& native) {
  struct stat st;
  return ::lstat(native.c_str(), &st) == 0;
}

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Resolves one component under `dir`: the exact name when it exists, else a case-blind match.
std::string resolveComponent(const std::string& dir, std::u16string_view component) {
  std::string exact = toUtf8(component);
  if (component == u"." || component == u"..") return exact;
  if (exists(join(dir, exact))) return exact;
  std::vector<std::string> matches = namesIgnoringCase(dir, component);
  return matches.empty() ? exact : matches.front();
}

// The first n components of a path, resolved: each the exact name when it exists under the ones
// before it, else a case-blind match, else the exact name. A path that exists as it is spelt is
// resolved by one look-up, as most are; only a missing one is resolved from its parent.
std::string resolvePrefix(const SplitPath& parts, std::size_t n) {
  std::string exact = parts.absolute ? "/" : "";
  for (std::size_t i = 0; i < n; ++i) exact = join(exact, toUtf8(parts.components[i]));
  if (n == 0 || exists(exact)) return exact;
  std::string parent = resolvePrefix(parts, n - 1);
  return join(parent, resolveComponent(parent, parts.components[n - 1]));
}

}  // namespace

std::string nativePath(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) raise(ErrorNumber::BadFileNameOrNumber);
  SplitPath parts = split(path);
  std::string native = resolvePrefix(parts, parts.components.size());
  if (parts.trailingSeparator && !native.empty() && native.back() != '/') native += '/';
  return native;
}

std::u16string findFile(std::u16string_view path) {
  if (path.empty() || isSeparator(path.back())) return {};
  std::string native = nativePath(path);
  std::size_t slash = native.rfind('/');
  std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  if (name.empty() || name.front() == '.') return {};
  struct stat st;
  if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return toUtf16(name);
}

std::vector<std::string> namesIgnoringCase(const std::string& nativeDir, std::u16string_view name) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(nativeDir.empty() ? "." : nativeDir.c_str()),
                                             ::closedir);
  if (!stream) return names;
  while (dirent* entry = ::readdir(stream.get())) {
    std::string candidate = entry->d_name;
    std::u16string decoded = toUtf16(candidate);
    // A name that is no UTF-8 would decode to U+FFFD, as others do: only its exact spelling
    // finds it.
    if (equalsIgnoringCase(decoded, name) && toUtf8(decoded) == candidate) {
      names.push_back(std::move(candidate));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void deleteFile(std::u16string_view path) {
  std::string native = nativePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) raise(ErrorNumber::FileNotFound);
  if (::unlink(native.c_str()) != 0) raise(ErrorNumber::PathFileAccessError);
}

}  // namespace kel

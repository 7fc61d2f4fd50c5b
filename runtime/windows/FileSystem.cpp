#include "kel/runtime/FileSystem.h"

#include <windows.h>

#include <algorithm>

#include "kel/runtime/Error.h"
#include "kel/runtime/Text.h"

// On Windows the interface's paths are the platform's own: separators, drives and the letter case
// of names are the file system's business, and hidden files are those it marks hidden.
namespace kel {

namespace {

// The system would take the path up to a NUL for the whole of it.
std::u16string_view checked(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) raise(ErrorNumber::BadFileNameOrNumber);
  return path;
}

std::wstring wide(std::u16string_view path) {
  checked(path);
  return std::wstring(path.begin(), path.end());
}

}  // namespace

std::string nativePath(std::u16string_view path) {
  return toUtf8(checked(path));
}

std::u16string findFile(std::u16string_view path) {
  checked(path);
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') return {};
  // No wildcards: a name with one can name no file.
  std::size_t start = path.find_last_of(u"\\/:");
  std::u16string_view name = path.substr(start == std::u16string_view::npos ? 0 : start + 1);
  if (name.find_first_of(u"*?") != std::u16string_view::npos) return {};
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(wide(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return {};
  ::FindClose(search);
  constexpr DWORD kNotNormal =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((found.dwFileAttributes & kNotNormal) != 0) return {};
  const wchar_t* n = found.cFileName;
  return std::u16string(n, n + ::wcslen(n));
}

std::vector<std::string> namesIgnoringCase(const std::string& nativeDir, std::u16string_view name) {
  std::vector<std::string> names;
  // No wildcards: a name with one can name no file.
  if (name.find_first_of(u"*?") != std::u16string_view::npos) return names;
  std::u16string dir = toUtf16(nativeDir);
  if (!dir.empty() && dir.back() != u'\\' && dir.back() != u'/') dir += u'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(wide(dir + std::u16string(name)).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const wchar_t* n = found.cFileName;
    names.push_back(toUtf8(std::u16string(n, n + ::wcslen(n))));
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

void deleteFile(std::u16string_view path) {
  DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    raise(ErrorNumber::FileNotFound);
  }
  if (!::DeleteFileW(wide(path).c_str())) raise(ErrorNumber::PathFileAccessError);
}

}  // namespace kel

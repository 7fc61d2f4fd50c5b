#pragma once

#include <string>
#include <string_view>
#include <vector>

// The interface speaks Windows paths; this maps them onto the machine's file system:
// - "\" and "/" both separate components;
// - a leading separator, or a drive prefix such as "C:", names the root directory "/";
// - an existing file or directory is found whatever the letter case of its name, the exact name
//   first and otherwise the first match in byte order; a name that matches nothing is used as
//   given, so that a new file is created under that name;
// - names that begin with "." are hidden files;
// - a NUL character has no place in a path: every call here raises "bad file name or number" for
//   a path that holds one, before it looks at the disk, as the system calls would otherwise take
//   the path up to the NUL for the whole of it.
namespace kel {

std::string nativePath(std::u16string_view path);

// The bare name of the normal (regular, not hidden) file that the path names, letter case
// ignored, or empty text when there is none. Directories and hidden files are never reported.
std::u16string findFile(std::u16string_view path);

// The names of the entries of the native directory `nativeDir` (the working directory when empty)
// that equal `name` letter case aside, in byte order; none when the directory cannot be read. A
// name that is no well-formed UTF-8 matches nothing here.
std::vector<std::string> namesIgnoringCase(const std::string& nativeDir, std::u16string_view name);

// Deletes the file that the path names: "file not found" when there is none, "path/file access
// error" when it cannot be deleted.
void deleteFile(std::u16string_view path);

}  // namespace kel

#pragma once

// Runs commands, the shapefile tools of other projects (GDAL, shapelib, pyshp) and kelshp among
// them, so that tests can hold our files against code that shares none of ours.

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ShapefileFixtures.h"
#include "support/TempDir.h"

namespace kel::testing {

inline std::string quote(const std::string& s) {
  return "'" + s + "'";
}

struct Outcome {
  int status = -1;  // the exit status, -1 when the command did not exit
  std::string out, err;
};

// A shell command's exit status, standard output and standard error. The pipe carries only one
// stream, so the shell sends its standard error to a file first.
inline Outcome execute(const std::string& command) {
  TempDir errDir;
  FILE* pipe = ::popen(("exec 2>" + quote(errDir.native("err")) + "\n" + command).c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start: " + command);
  Outcome result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    result.out.append(buffer, n);
  }
  if (int status = ::pclose(pipe); status != -1 && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  File err = errDir.read("err");
  result.err.assign(err.begin(), err.end());
  return result;
}

// Standard output of a shell command. A failing command throws, which fails the test: a missing
// peer tool is a broken machine, and scripts/install-deps installs them (pyshp for Debian's
// /usr/bin/python3, not for a pyenv or venv on the PATH).
inline std::string run(const std::string& command) {
  Outcome r = execute(command);
  if (r.status != 0) {
    throw std::runtime_error("status " + std::to_string(r.status) + ": " + command + "\n" + r.out +
                             r.err);
  }
  return r.out;
}

// Memory is measured in the plain build only: the sanitizer's allocator keeps memory of its own
// that grows with the allocations made.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The peak resident memory in KiB of a shell command, whatever its exit status, as GNU time
// measures it (a small program, whose own pages the measure of its child includes).
inline long peakKiB(const std::string& command) {
  TempDir dir;
  execute("/usr/bin/time -f %M -o " + quote(dir.native("peak")) + " " + command +
          " >/dev/null 2>&1");
  File peak = dir.read("peak");
  std::string text(peak.begin(), peak.end());  // after "Command exited with ..." when it failed
  return std::stol(text.substr(text.find_last_of('\n', text.size() - 2) + 1));
}

}  // namespace kel::testing

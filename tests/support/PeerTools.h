#pragma once

// Runs the shapefile tools of other projects (GDAL, shapelib, pyshp) and parses what they report,
// so the interop tests can hold our files against code that shares none of ours.

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

struct PeerShape {
  int type = 0;
  Starts parts;
  Pts points;
  bool operator==(const PeerShape&) const = default;
};

// The types, part starts and vertices that shpdump reports at 17 significant digits, which every
// double survives unchanged; the file itself comes first, as a shape without parts or points.
inline std::vector<PeerShape> shpdump(const std::string& shp) {
  std::istringstream out(run("shpdump -precision 17 " + quote(shp)));
  auto typeOf = [](const std::string& n) {
    return n == "Point" ? 1 : n == "Arc" ? 3 : n == "Polygon" ? 5 : n == "MultiPoint" ? 8 : -1;
  };
  std::vector<PeerShape> shapes;
  char name[32];
  double x, y;
  int parts;
  for (std::string line; std::getline(out, line);) {
    const char* s = line.c_str();
    if (std::sscanf(s, "Shapefile Type: %31s", name) == 1) {
      shapes.push_back({typeOf(name), {}, {}});
    } else if (std::sscanf(s, "Shape:%*d (%31[^)]) nVertices=%*d, nParts=%d", name, &parts) == 2) {
      shapes.push_back({typeOf(name), parts > 0 ? Starts{0} : Starts{}, {}});
    } else if (std::sscanf(s, " + (%lf,%lf", &x, &y) == 2) {
      shapes.back().parts.push_back(static_cast<std::int32_t>(shapes.back().points.size()));
      shapes.back().points.emplace_back(x, y);
    } else if (std::sscanf(s, " (%lf,%lf", &x, &y) == 2) {
      shapes.back().points.emplace_back(x, y);
    }
  }
  return shapes;
}

inline std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// dbfdump's values, raw Windows-1252 bytes with the blanks around them trimmed, row by row.
inline std::vector<std::vector<std::string>> dbfdump(const std::string& dbf) {
  std::istringstream out(run("dbfdump -m -r " + quote(dbf)));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(out, line);) {
    if (line.rfind("Record: ", 0) == 0) {
      rows.emplace_back();
    } else if (!rows.empty() && line.find(':') != std::string::npos) {
      rows.back().push_back(trim(line.substr(line.find(':') + 1)));
    }
  }
  return rows;
}

// The raw bytes of every field of a .dbf, row by row, cut by the file's own header.
inline std::vector<std::vector<std::string>> rawTable(const File& dbf) {
  auto word = [&](std::size_t at) {  // little-endian, and no test table needs more
    return std::size_t{dbf.at(at)} | std::size_t{dbf.at(at + 1)} << 8;
  };
  std::vector<std::vector<std::string>> rows(word(4));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::size_t at = word(8) + r * word(10) + 1;
    for (std::size_t c = 32; dbf.at(c) != 0x0D; at += dbf[c + 16], c += 32) {
      rows[r].emplace_back(reinterpret_cast<const char*>(&dbf.at(at)), dbf[c + 16]);
    }
  }
  return rows;
}

// Writes a file read from dir/stem to dir/back/stem. A regular original comes back the same to
// the byte in its main and index files: records numbered 1, 2, ... in file order, back to back
// with nothing between or behind them, each box the extents of its points, part lists that begin
// with 0 and hold no other 0, and index entries that point at those records. With `table`, the
// table must differ only in what we stamp: today's date, zero reserved bytes (no language driver
// mark) and the end mark, which pyshp leaves out; a table without columns is written with a
// default column instead, which the caller checks.
inline void expectWrittenBackAsItWas(Shapefile& file, const TempDir& dir, const std::string& stem,
                                     bool table = true) {
  std::filesystem::create_directory(dir.native("back"));
  ASSERT_TRUE(file.writeShapefile(dir.u16() + u"/back", toUtf16(stem)));
  EXPECT_EQ(dir.read("back/" + stem + ".shp"), dir.read(stem + ".shp"));
  EXPECT_EQ(dir.read("back/" + stem + ".shx"), dir.read(stem + ".shx"));
  File ours = dir.read("back/" + stem + ".dbf"), theirs = dir.read(stem + ".dbf");
  if (!table || theirs.at(32) == 0x0D) return;
  std::fill(theirs.begin() + 12, theirs.begin() + 32, 0);
  if (theirs.back() != 0x1A) theirs.push_back(0x1A);
  EXPECT_EQ(ours, withDateOf(theirs, ours));
}

}  // namespace kel::testing

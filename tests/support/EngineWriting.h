#pragma once

// Layers for the format engine's writer to write: records of every shape type with Z, M and
// "no measure" values, null shapes among them, and a table of every column type; and a picture
// of a directory, to tell that a write that failed left every file as it was; and the loops that
// fail or kill a write at each of its system calls in turn.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kel/format/LayerWriter.h"
#include "kel/runtime/AtomicFileSet.h"
#include "support/TempDir.h"

namespace kel::testing {

namespace fmt = kel::format;

// One record to write, owning its arrays.
struct EngineRecord {
  fmt::ShapeType type = fmt::ShapeType::Null;
  std::vector<std::int32_t> parts, partTypes;
  std::vector<fmt::XY> points;
  std::vector<double> z, m;
  std::vector<fmt::Value> row;

  fmt::ShapeView view() const {
    fmt::ShapeView v;
    v.type = type;
    v.parts = parts;
    v.partTypes = partTypes;
    v.points = points;
    v.z = z;
    v.m = m;
    return v;
  }
};

inline const std::vector<fmt::ColumnDefinition> kEngineColumns = {
    {"NAME", 'C', 12},    {"COUNT", 'N', 10}, {"AREA", 'N', 12, 3},
    {"RATIO", 'F', 8, 4}, {"OK", 'L', 1},     {"DAY", 'D', 8}};

// Three records of the type: a shape of two parts (an outer ring and a hole, clockwise and
// counter-clockwise, which a line and a patch take as they come), a null shape with null values,
// and a shape of one part whose last M is "no measure"; the three `copies` times over. Every value
// reads back exactly.
inline std::vector<EngineRecord> engineRecords(fmt::ShapeType type, int copies = 1) {
  fmt::ShapeTypeTraits t = *fmt::traitsOf(static_cast<std::int32_t>(type));
  std::vector<fmt::XY> ring = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0},
                               {2, 2}, {4, 2},  {4, 4},   {2, 4},  {2, 2}};
  std::vector<fmt::Value> rows[] = {
      {std::string("\xC3\x86r\xC3\xB8 \xE2\x82\xAC"), std::int64_t{42}, 3.25, 0.125, true,
       fmt::Date{2024, 2, 29}},
      {fmt::Null{}, fmt::Null{}, fmt::Null{}, fmt::Null{}, fmt::Null{}, fmt::Null{}},
      {std::string("x"), std::int64_t{-7}, -1234.5, 1e-4, false, fmt::Date{1999, 12, 31}}};
  std::vector<EngineRecord> out(3);
  for (std::size_t r = 0; r < 3; ++r) {
    EngineRecord& e = out[r];
    e.row = rows[r];
    if (r == 1) continue;  // the null shape
    e.type = type;
    std::size_t n = t.geometry == fmt::Geometry::Point ? 1 : r == 0 ? 10 : 5;
    e.points.assign(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(n));
    for (fmt::XY& p : e.points) p = {p.x * 1.5 + static_cast<double>(r) - 3, p.y - 0.25};
    // Z and M follow the position, so that a ring closes in them too.
    for (std::size_t i = 0; i < n && t.z; ++i) e.z.push_back(100 + e.points[i].x);
    for (std::size_t i = 0; i < n && t.m; ++i) e.m.push_back(e.points[i].y / 2);
    if (r == 2 && t.m) e.m.back() = -1e39;
    bool poly = t.geometry == fmt::Geometry::PolyLine || t.geometry == fmt::Geometry::Polygon ||
                t.geometry == fmt::Geometry::MultiPatch;
    if (poly) e.parts = r == 0 ? std::vector<std::int32_t>{0, 5} : std::vector<std::int32_t>{0};
    if (t.geometry == fmt::Geometry::MultiPatch) {
      e.partTypes = r == 0 ? std::vector<std::int32_t>{2, 3} : std::vector<std::int32_t>{5};
    }
  }
  std::vector<EngineRecord> many;
  for (int i = 0; i < copies; ++i) many.insert(many.end(), out.begin(), out.end());
  return many;
}

inline void writeLayer(const std::string& path, fmt::ShapeType type,
                       const std::vector<EngineRecord>& records,
                       const fmt::WriteOptions& options = {},
                       const std::vector<fmt::ColumnDefinition>& columns = kEngineColumns) {
  fmt::LayerWriter writer(path, type, columns, options);
  for (const EngineRecord& r : records) writer.add(r.view(), r.row);
  writer.close();
}

// Every name in a directory with its bytes: hidden temporary files included.
using DirectoryPicture = std::map<std::string, File>;
inline DirectoryPicture pictureOf(const TempDir& dir) {
  DirectoryPicture picture;
  for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
    std::string name = entry.path().filename().string();
    picture[name] = entry.is_regular_file() ? dir.read(name) : File{};
  }
  return picture;
}

// The calls of kind `op` that `write` makes through its file sets fail in turn, k = 1, 2, ...,
// until the write goes through (on a file system without hard links unless `links`): each failure
// is the seam's WriteError and leaves the directory as `before()`, which sets it up, pictured it.
// Returns the number of failures.
template <class Before, class Write>
std::int64_t failAtEachCall(const TempDir& dir, FileSetFaults::Operation op, bool links,
                            Before before, Write write) {
  for (std::int64_t k = 1;; ++k) {
    SCOPED_TRACE("fail call " + std::to_string(k) + " of kind " + std::to_string(op));
    const DirectoryPicture old = before();
    FileSetFaults::arm(op, k);
    if (!links) FileSetFaults::withoutLinks();
    try {
      write();
      FileSetFaults::disarm();
      return k - 1;
    } catch (const fmt::WriteError& e) {
      EXPECT_NE(std::string(e.what()).find("test seam"), std::string::npos) << e.what();
    }
    FileSetFaults::disarm();
    if (pictureOf(dir) != old) {
      ADD_FAILURE() << "the failed write changed the directory";
      return -1;
    }
  }
}

// What `body` returns, as the exit status of a child process that runs it; -1, and a failure,
// when the child ends otherwise.
template <class Body>
int exitOfChild(Body body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = -1;
  if (child == -1 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    ADD_FAILURE() << "the child process ended with status " << status;
    return -1;
  }
  return WEXITSTATUS(status);
}

// From now on the process writes no file past `bytes`, as on a full disk.
inline void diskFullAt(rlim_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// `write` runs in a child process that dies, as a SIGKILL or a power cut would end it, at its k-th
// system call through a file set, k = 1, 2, ..., until a child lives to the end; `before()` sets
// the directory up for each child and `after(k)` checks what its death left. Returns the number
// of deaths.
template <class Before, class Write, class After>
int killAtEachCall(Before before, Write write, After after) {
  for (int k = 1;; ++k) {
    SCOPED_TRACE("killed at call " + std::to_string(k));
    before();
    const int status = exitOfChild([&] {
      FileSetFaults::dieAt(k);
      write();
      return 0;
    });
    if (status == 0) return k - 1;  // no call left to die at
    if (status != 137) {
      ADD_FAILURE() << "the writing child exited with " << status;
      return -1;
    }
    after(k);
    if (::testing::Test::HasFatalFailure()) return -1;
  }
}

}  // namespace kel::testing

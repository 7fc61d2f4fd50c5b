#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelshp {

// Shows how far a long run has come, on one line of standard error that it rewrites, when
// standard error is a terminal and the run has taken more than a second; otherwise it shows
// nothing. The line is cleared when the run ends.
class Progress {
 public:
  Progress();
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` of `total` (bytes, records) of the step named (e.g. "reading roads.geojson").
  void update(const std::string& step, std::int64_t done, std::int64_t total);
  // Clears the line, if one is shown.
  void clear();

 private:
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace kelshp

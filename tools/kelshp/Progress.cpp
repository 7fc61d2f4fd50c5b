#include "Progress.h"

#include <unistd.h>

#include <cstdio>

#include "Output.h"

namespace kelshp {

namespace {

constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kEvery = std::chrono::milliseconds(250);

}  // namespace

Progress::Progress()
    : terminal_(::isatty(STDERR_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  clear();
}

void Progress::update(const std::string& step, std::int64_t done, std::int64_t total) {
  if (!terminal_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - start_ < kQuietFor || (shown_ && now - last_ < kEvery)) return;
  last_ = now;
  shown_ = true;
  int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
  // \033[K clears what a longer line before left behind.
  std::fprintf(stderr, "\rkelshp: %s: %d%%\033[K", visible(step).c_str(), percent);
  std::fflush(stderr);
}

void Progress::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace kelshp

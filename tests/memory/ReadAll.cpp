// Reads a layer through the format engine, every shape and every value, in a child process, and
// prints what the child saw and its peak resident memory, for the memory test:
//
//   kelshape_read_all PATH   prints "records vertices values checksum", then the child's peak
//                            resident memory in KiB as getrusage(RUSAGE_CHILDREN) gives it; exits
//                            1 when the layer or one of its records cannot be read
//
// The checksum is the sum of every X, Y, Z and M, and of every integer and double value. The
// reading is done in a child of this fresh process, not of the test: a child starts with the
// resident pages of its parent, and the test's would count too.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "kel/format/Layer.h"

namespace {

namespace fmt = kel::format;

// Counts the errors and keeps nothing, so that what the reader says costs no memory.
class CountingReporter final : public fmt::Reporter {
 public:
  void report(const fmt::Finding& f) override { errors += f.severity == fmt::Severity::Error; }
  long errors = 0;
};

int readAll(const char* path) {
  CountingReporter reporter;
  std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(path, reporter);
  if (!layer) return 1;
  fmt::TableReader* table = layer->table();
  long vertices = 0, values = 0;
  double checksum = 0;
  fmt::ShapeView view;
  for (std::int64_t i = 0; i < layer->count(); ++i) {
    if (!layer->shapes().read(i, view)) return 1;
    vertices += static_cast<long>(view.points.size());
    for (const fmt::XY& p : view.points) checksum += p.x + p.y;
    for (double z : view.z) checksum += z;
    for (double m : view.m) checksum += m;
    if (table == nullptr || i >= table->count()) continue;
    fmt::RowView row = table->read(i);
    for (std::size_t c = 0; c < table->columns().size(); ++c) {
      fmt::Value v = table->value(row, c);
      values += !std::holds_alternative<fmt::Null>(v);
      if (const auto* n = std::get_if<std::int64_t>(&v)) checksum += static_cast<double>(*n);
      if (const auto* d = std::get_if<double>(&v)) checksum += *d;
    }
  }
  std::printf("%lld %ld %ld %.17g\n", static_cast<long long>(layer->count()), vertices, values,
              checksum);
  return reporter.errors == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kelshape_read_all PATH\n");
    return 2;
  }
  std::fflush(stdout);
  pid_t child = ::fork();
  if (child == 0) {
    int status = readAll(argv[1]);
    std::fflush(stdout);
    ::_exit(status);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return 1;
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  std::printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

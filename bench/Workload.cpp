#include "Workload.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kelbench {

namespace {

// A fixed-seed generator, so that every run measures the same files.
class Random {
 public:
  double next(double low, double high) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return low + (high - low) * static_cast<double>(state_ >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

Row rowOf(std::size_t i) {
  char value[32];
  std::snprintf(value, sizeof value, "%.3f", static_cast<double>(i % 100000) * 0.125 - 50.0);
  char day[16];
  std::snprintf(day, sizeof day, "%04zu%02zu%02zu", 1990 + i % 35, 1 + i % 12, 1 + i % 28);
  return Row{"feature " + std::to_string(i), value, day};
}

// A line wandering from a random start in small random steps.
void walk(Random& random, Shape& shape, int vertices) {
  double x = random.next(-170, 170), y = random.next(-80, 80);
  for (int v = 0; v < vertices; ++v) {
    shape.xy.push_back(x += random.next(-0.01, 0.01));
    shape.xy.push_back(y += random.next(-0.01, 0.01));
  }
}

// A closed ring of n vertices around a centre, clockwise for an outer ring.
void ring(Shape& shape, double cx, double cy, double radius, int n, bool clockwise) {
  shape.parts.push_back(shape.vertexCount());
  for (int v = 0; v < n; ++v) {
    double angle = 2 * M_PI * (v == n - 1 ? 0 : v) / (n - 1) * (clockwise ? -1 : 1);
    shape.xy.push_back(cx + radius * std::cos(angle));
    shape.xy.push_back(cy + radius * std::sin(angle));
  }
}

Workload make(const char* name, int type, std::size_t count, auto&& shapeOf) {
  Workload w{name, type, {}, {}};
  Random random;
  w.shapes.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    shapeOf(random, w.shapes[i]);
    w.rows.push_back(rowOf(i));
  }
  return w;
}

}  // namespace

std::vector<Workload> standardWorkloads() {
  std::vector<Workload> all;
  all.push_back(make("W1", 1, 32000, [](Random& r, Shape& s) {
    s.parts = {0};
    walk(r, s, 1);
  }));
  all.push_back(make("W2", 3, 32000, [](Random& r, Shape& s) {
    s.parts = {0, 50};
    walk(r, s, 100);
  }));
  all.push_back(make("W3", 5, 5000, [](Random& r, Shape& s) {
    double cx = r.next(-170, 170), cy = r.next(-80, 80);
    ring(s, cx, cy, 1.0, 300, true);
    ring(s, cx, cy, 0.5, 300, false);
  }));
  all.push_back(make("W4", 8, 10000, [](Random& r, Shape& s) {
    s.parts = {0};
    for (int p = 0; p < 50; ++p) {
      s.xy.push_back(r.next(-180, 180));
      s.xy.push_back(r.next(-90, 90));
    }
  }));
  all.push_back(make("W5", 3, 1, [](Random& r, Shape& s) {
    s.parts = {0};
    walk(r, s, 32766);
  }));
  return all;
}

}  // namespace kelbench

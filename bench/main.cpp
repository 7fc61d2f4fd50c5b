// Times kelShapeLib, shapelib and GDAL reading and writing the standard workloads, side by side in
// one run, and prints one table of medians, ratios and the peak memory of a read; then the format
// engine's walk of the same files beside shapelib's and GDAL's (Walker in Contender.h), and its
// streaming writer beside shapelib's and GDAL's writers, and `kelshp copy` beside a copy through
// shapelib's C API, in three more tables.
//
//   kelbench [DIR] [google-benchmark flags]   the whole comparison; files go to DIR (default: a
//                                             new folder under /tmp)
//   kelbench --box-query DIR                  a box query on 1,000,000 polygons with and without
//                                             a .qix, beside GDAL's (BoxQuery.cpp)
//   kelbench --once OP WORKLOAD LIBRARY DIR   one read, write or walk, for callgrind and for
//                                             memory figures; prints the peak resident growth in
//                                             bytes (a walk's LIBRARY: engine, shapelib, GDAL;
//                                             the engine's writer: write ... engine)

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "BoxQuery.h"
#include "Contender.h"
#include "Copy.h"

namespace kelbench {

const Contender* const kContenders[] = {&kOurs, &kShapelib, &kGdal};
const Walker* const kWalkers[] = {&kEngineWalk, &kShapelibWalk, &kGdalWalk};

const Contender& contenderNamed(const std::string& name) {
  for (const Contender* c : kContenders) {
    if (name == c->name) return *c;
  }
  throw std::runtime_error("no library " + name);
}

const Walker& walkerNamed(const std::string& name) {
  for (const Walker* w : kWalkers) {
    if (name == w->name) return *w;
  }
  throw std::runtime_error("no walker " + name);
}

std::string inputDir(const std::string& dir) {
  return dir + "/in";
}
std::string outputDir(const std::string& dir, const Contender& c) {
  return dir + "/out-" + c.name;
}

// The measured work, kept out of line so that callgrind can count it alone
// (--toggle-collect=kelbench::measure*).
[[gnu::noinline]] Digest measureRead(const Contender& c, const std::string& dir,
                                     const std::string& stem) {
  return c.read(inputDir(dir), stem);
}
[[gnu::noinline]] Digest measureWalk(const Walker& w, const std::string& dir,
                                     const std::string& stem) {
  return w.walk(inputDir(dir), stem);
}
[[gnu::noinline]] void measureWrite(const Contender& c, const Workload& w, const std::string& dir) {
  c.write(w, outputDir(dir, c), w.name);
}
std::string engineDir(const std::string& dir) {
  return dir + "/out-engine";
}
[[gnu::noinline]] void measureEngineWrite(const Workload& w, const std::string& dir) {
  kEngineWriter.write(w, engineDir(dir), w.name);
}

long statusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return 0;
}

int once(const std::string& op, const std::string& workload, const std::string& library,
         const std::string& dir) {
  long before = 0;
  if (op == "walk") {
    const Walker& w = walkerNamed(library);
    before = statusKiB("VmRSS:");
    benchmark::DoNotOptimize(measureWalk(w, dir, workload));
    std::printf("%ld\n", (statusKiB("VmHWM:") - before) * 1024);
    return 0;
  }
  if (op == "write" && library == kEngineWriter.name) {
    for (const Workload& w : standardWorkloads()) {
      if (w.name != workload) continue;
      before = statusKiB("VmRSS:");
      measureEngineWrite(w, dir);
    }
    std::printf("%ld\n", (statusKiB("VmHWM:") - before) * 1024);
    return 0;
  }
  const Contender& c = contenderNamed(library);
  if (op == "read") {
    before = statusKiB("VmRSS:");
    benchmark::DoNotOptimize(measureRead(c, dir, workload));
  } else {
    for (const Workload& w : standardWorkloads()) {
      if (w.name != workload) continue;
      before = statusKiB("VmRSS:");
      measureWrite(c, w, dir);
    }
  }
  std::printf("%ld\n", (statusKiB("VmHWM:") - before) * 1024);
  return 0;
}

// The peak resident growth of one read, in a fresh process of its own.
long peakOfRead(const char* self, const std::string& workload, const Contender& c,
                const std::string& dir) {
  std::string command =
      std::string(self) + " --once read " + workload + " " + c.name + " '" + dir + "'";
  FILE* pipe = popen(command.c_str(), "r");
  long bytes = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%ld", &bytes) != 1) bytes = -1;
  if (pipe != nullptr) pclose(pipe);
  return bytes;
}

// Keeps the median of every benchmark as Google Benchmark reports it. The times are the CPU time
// of the measuring thread, system time included: on a shared machine that is steadier than the
// time on the wall, and the files are in the page cache either way.
class MedianCollector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medianMs;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") {
        // A child's processor time is given as the manual time of its runs (kelshp's copy).
        bool child = run.run_name.function_name.ends_with("/kelshp");
        double time = child ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
        medianMs[run.run_name.function_name] =
            time * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
            benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

std::uintmax_t sizeOf(const std::string& path) {
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

int compare(const char* self, const std::string& dir, int argc, char** argv) {
  std::vector<Workload> workloads = standardWorkloads();
  std::filesystem::create_directories(inputDir(dir));
  for (const Contender* c : kContenders) std::filesystem::create_directories(outputDir(dir, *c));
  std::filesystem::create_directories(engineDir(dir));
  // The files to read are shapelib's, so that no contender reads its own output.
  for (const Workload& w : workloads) kShapelib.write(w, inputDir(dir), w.name);

  for (const Workload& w : workloads) {
    // Every contender must see the same content, or the timing compares different work.
    Digest reference = kShapelib.read(inputDir(dir), w.name);
    for (const Contender* c : kContenders) {
      Digest d = c->read(inputDir(dir), w.name);
      if (d.coordinateSum != reference.coordinateSum || d.vertices != reference.vertices ||
          d.shapes != reference.shapes) {
        std::fprintf(stderr, "%s reads %s differently\n", c->name, w.name.c_str());
        return 1;
      }
    }
    for (const char* op : {"read", "write"}) {
      for (const Contender* c : kContenders) {
        std::string name = w.name + "/" + op + "/" + c->name;
        const Workload* wp = &w;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State& state) {
                                       for (auto _ : state) {
                                         if (std::strcmp(op, "read") == 0) {
                                           benchmark::DoNotOptimize(measureRead(*c, dir, wp->name));
                                         } else {
                                           measureWrite(*c, *wp, dir);
                                         }
                                       }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.2)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
      }
    }
    // The engine's files must read as the workload: shapelib reads them back.
    measureEngineWrite(w, dir);
    Digest d = kShapelib.read(engineDir(dir), w.name);
    if (d.coordinateSum != reference.coordinateSum || d.vertices != reference.vertices ||
        d.shapes != reference.shapes || d.partStarts != reference.partStarts) {
      std::fprintf(stderr, "the engine writes %s differently\n", w.name.c_str());
      return 1;
    }
    const Workload* wp = &w;
    benchmark::RegisterBenchmark((w.name + "/write/engine").c_str(),
                                 [=](benchmark::State& state) {
                                   for (auto _ : state) measureEngineWrite(*wp, dir);
                                 })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.2)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  }
  for (const Workload& w : workloads) {
    // A copy of the files to read, by kelshp (the engine) and by shapelib.
    std::string source = inputDir(dir) + "/" + w.name;
    std::string target = dir + "/copy-" + w.name;
    benchmark::RegisterBenchmark((w.name + "/copy/kelshp").c_str(),
                                 [=](benchmark::State& state) {
                                   for (auto _ : state) {
                                     state.SetIterationTime(kelshpCopySeconds(source, target));
                                   }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->MinTime(0.2)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark((w.name + "/copy/shapelib").c_str(),
                                 [=](benchmark::State& state) {
                                   for (auto _ : state) copyWithShapelib(source, target);
                                 })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.2)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
  }
  for (const Workload& w : workloads) {
    // The walks must agree on every coordinate, Z and M value and number.
    Digest reference = kShapelibWalk.walk(inputDir(dir), w.name);
    for (const Walker* walker : kWalkers) {
      Digest d = walker->walk(inputDir(dir), w.name);
      if (d.coordinateBits != reference.coordinateBits || d.vertices != reference.vertices ||
          d.shapes != reference.shapes || d.numberSum != reference.numberSum) {
        std::fprintf(stderr, "%s walks %s differently\n", walker->name, w.name.c_str());
        return 1;
      }
    }
    for (const Walker* walker : kWalkers) {
      std::string name = w.name + "/walk/" + walker->name;
      std::string stem = w.name;
      benchmark::RegisterBenchmark(name.c_str(),
                                   [=](benchmark::State& state) {
                                     for (auto _ : state) {
                                       benchmark::DoNotOptimize(measureWalk(*walker, dir, stem));
                                     }
                                   })
          ->Unit(benchmark::kMillisecond)
          ->MinTime(0.2)
          ->Repetitions(5)
          ->ReportAggregatesOnly(true);
    }
  }
  benchmark::Initialize(&argc, argv);
  MedianCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf(
      "\n| workload | op | kelShapeLib ms | shapelib ms | GDAL ms | ours/shapelib | ours/GDAL |"
      " peak RSS ours/shapelib/GDAL MB | ours peak / files |\n");
  std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Workload& w : workloads) {
    for (const char* op : {"read", "write"}) {
      double ms[3];
      for (int i = 0; i < 3; ++i) {
        auto found = collector.medianMs.find(w.name + "/" + op + "/" + kContenders[i]->name);
        ms[i] = found == collector.medianMs.end() ? 0 : found->second;
      }
      if (ms[0] == 0) continue;  // left out by a filter
      std::printf("| %s | %s | %.3g | %.3g | %.3g | %.2f | %.2f |", w.name.c_str(), op, ms[0],
                  ms[1], ms[2], ms[0] / ms[1], ms[0] / ms[2]);
      if (std::strcmp(op, "read") == 0) {
        long peak[3];
        for (int i = 0; i < 3; ++i) peak[i] = peakOfRead(self, w.name, *kContenders[i], dir);
        double files = static_cast<double>(sizeOf(inputDir(dir) + "/" + w.name + ".shp") +
                                           sizeOf(inputDir(dir) + "/" + w.name + ".dbf"));
        std::printf(" %.1f / %.1f / %.1f | %.2f |\n", peak[0] / 1e6, peak[1] / 1e6, peak[2] / 1e6,
                    static_cast<double>(peak[0]) / files);
      } else {
        std::printf(" | |\n");
      }
    }
  }

  std::printf(
      "\n| workload | walk: engine ms | shapelib ms | GDAL ms | engine/shapelib | engine/GDAL |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const Workload& w : workloads) {
    double ms[3];
    for (int i = 0; i < 3; ++i) {
      auto found = collector.medianMs.find(w.name + "/walk/" + kWalkers[i]->name);
      ms[i] = found == collector.medianMs.end() ? 0 : found->second;
    }
    if (ms[0] == 0) continue;  // left out by a filter
    std::printf("| %s | %.3g | %.3g | %.3g | %.2f | %.2f |\n", w.name.c_str(), ms[0], ms[1], ms[2],
                ms[0] / ms[1], ms[0] / ms[2]);
  }

  std::printf(
      "\n| workload | write: engine ms | shapelib ms | GDAL ms | kelShapeLib ms | engine/shapelib |"
      " engine/GDAL |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
  for (const Workload& w : workloads) {
    auto ms = [&](const std::string& library) {
      auto found = collector.medianMs.find(w.name + "/write/" + library);
      return found == collector.medianMs.end() ? 0.0 : found->second;
    };
    double engine = ms(kEngineWriter.name), shapelib = ms(kShapelib.name), gdal = ms(kGdal.name);
    if (engine == 0) continue;  // left out by a filter
    std::printf("| %s | %.3g | %.3g | %.3g | %.3g | %.2f | %.2f |\n", w.name.c_str(), engine,
                shapelib, gdal, ms(kOurs.name), engine / shapelib, engine / gdal);
  }

  std::printf("\n| workload | copy: kelshp ms | shapelib ms | kelshp/shapelib |\n");
  std::printf("|---|---:|---:|---:|\n");
  for (const Workload& w : workloads) {
    auto found = collector.medianMs.find(w.name + "/copy/kelshp");
    auto other = collector.medianMs.find(w.name + "/copy/shapelib");
    if (found == collector.medianMs.end() || other == collector.medianMs.end()) continue;
    std::printf("| %s | %.3g | %.3g | %.2f |\n", w.name.c_str(), found->second, other->second,
                found->second / other->second);
  }
  return 0;
}

}  // namespace kelbench

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::strcmp(argv[1], "--box-query") == 0) return kelbench::boxQuery(argv[2]);
    if (argc == 6 && std::strcmp(argv[1], "--once") == 0) {
      return kelbench::once(argv[2], argv[3], argv[4], argv[5]);
    }
    std::string dir;
    if (argc > 1 && argv[1][0] != '-') {
      dir = argv[1];
      argv[1] = argv[0];
      --argc;
      ++argv;
    } else {
      char pattern[] = "/tmp/kelbench-XXXXXX";
      if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
      dir = pattern;
    }
    return kelbench::compare(argv[0], dir, argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelbench: %s\n", e.what());
    return 1;
  }
}

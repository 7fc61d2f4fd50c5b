// kelshp: look at, convert and check ESRI shapefiles from the shell.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "kel/runtime/AtomicFileSet.h"

#include "Output.h"
#include "Tool.h"

namespace {

constexpr const char* kUsage =
    "usage: kelshp COMMAND [ARGUMENTS]\n"
    "\n"
    "Looks at, converts and checks ESRI shapefiles (.shp, .shx and .dbf).\n"
    "\n"
    "commands:\n"
    "  demo [DIR]               write sample shapefiles into DIR, read them back, print them\n"
    "  info PATH                shape type, record count, extents and columns\n"
    "  dump PATH                the whole file as GeoJSON on standard output\n"
    "  copy SRC DST             read SRC and write it as DST\n"
    "  convert IN OUT           GeoJSON to a shapefile, or a shapefile to GeoJSON\n"
    "  render PATH -o FILE.svg  draw the shapes as an SVG picture\n"
    "  check PATH               report what is wrong or irregular in the three files\n"
    "  index PATH               write the spatial index (.qix) beside the layer\n"
    "  typelib                  print the type library: classes, members, dispatch ids\n"
    "\n"
    "PATH names a shapefile: a directory plus a name, with or without .shp.\n"
    "'kelshp COMMAND --help' describes a command; 'kelshp --version' gives the version.\n";

struct Command {
  const char* name;
  int (*run)(const kelshp::Args&);
};

constexpr Command kCommands[] = {
    {"demo", kelshp::runDemo},       {"info", kelshp::runInfo},       {"dump", kelshp::runDump},
    {"copy", kelshp::runCopy},       {"render", kelshp::runRender},   {"check", kelshp::runCheck},
    {"typelib", kelshp::runTypelib}, {"convert", kelshp::runConvert},
    {"index", kelshp::runIndex},
};

// Ctrl-C, a kill or a closed terminal ends kelshp with its files as they were: the new files it
// was writing are removed, and the old ones never touched (a replacement under way finishes
// first). The exit status is the shell's for the signal: 130, 143 or 129.
void endBySignal(int signal) {
  kel::AtomicFileSet::removeTemporariesNow();
#ifdef _WIN32
  std::_Exit(128 + signal);
#else
  static const char kSaid[] = "kelshp: interrupted\n";
  ssize_t ignored = ::write(2, kSaid, sizeof kSaid - 1);
  (void)ignored;
  ::_exit(128 + signal);
#endif
}

void handleSignals() {
#ifndef _WIN32
  struct sigaction ending {};
  ending.sa_handler = endBySignal;
  sigemptyset(&ending.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &ending, nullptr);
  // A file size limit is then a write that fails, refused as "disk full" like any other.
  ::signal(SIGXFSZ, SIG_IGN);
#else
  std::signal(SIGINT, endBySignal);
  std::signal(SIGTERM, endBySignal);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  handleSignals();
  if (argc < 2) return std::fputs(kUsage, stderr), 2;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    return std::fputs(kUsage, stdout), 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) return std::puts("kelshp " KEL_VERSION), 0;
  kelshp::Args args(argv + 2, argv + argc);
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    try {
      return command.run(args);
    } catch (const kelshp::UsageError& e) {
      std::fprintf(stderr, "kelshp %s: %s\n'kelshp %s --help' says how to call it.\n", argv[1],
                   e.what(), argv[1]);
      return 2;
    } catch (const std::exception& e) {
      return kelshp::fail(std::string(argv[1]) + ": " + e.what());
    }
  }
  std::fprintf(stderr, "kelshp: unknown command '%s'\n\n%s", kelshp::visible(argv[1]).c_str(),
               kUsage);
  return 2;
}

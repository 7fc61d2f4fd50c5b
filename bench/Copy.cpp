#include "Copy.h"

#include <shapefil.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <stdexcept>
#include <vector>

extern char** environ;

namespace kelbench {

// shapelib's copy: each shape read and written as an object, each row read and written as the
// bytes it holds (DBFReadTuple, DBFWriteTuple), after the columns are cloned.
void copyWithShapelib(const std::string& source, const std::string& target) {
  SHPHandle in = SHPOpen(source.c_str(), "rb");
  DBFHandle rows = DBFOpen(source.c_str(), "rb");
  if (in == nullptr || rows == nullptr) throw std::runtime_error("shapelib cannot open " + source);
  int count = 0, type = 0;
  SHPGetInfo(in, &count, &type, nullptr, nullptr);
  SHPHandle out = SHPCreate(target.c_str(), type);
  DBFHandle copy = DBFCloneEmpty(rows, target.c_str());
  if (out == nullptr || copy == nullptr)
    throw std::runtime_error("shapelib cannot create " + target);
  for (int i = 0; i < count; ++i) {
    SHPObject* shape = SHPReadObject(in, i);
    SHPWriteObject(out, -1, shape);
    SHPDestroyObject(shape);
    DBFWriteTuple(copy, i, const_cast<char*>(DBFReadTuple(rows, i)));
  }
  SHPClose(out);
  DBFClose(copy);
  SHPClose(in);
  DBFClose(rows);
}

// The processor time (user and system) of one `kelshp copy`, in a child process of its own.
double kelshpCopySeconds(const std::string& source, const std::string& target) {
  std::string program = KELBENCH_KELSHP;
  std::vector<char*> argv = {program.data(), const_cast<char*>("copy"),
                             const_cast<char*>(source.c_str()), const_cast<char*>(target.c_str()),
                             nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + program);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("kelshp copy " + source + " failed");
  }
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace kelbench

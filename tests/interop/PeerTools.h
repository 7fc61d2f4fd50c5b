#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Text.h"
#include "shapefile/Shapefile.h"

// Runs the shapefile tools of other projects (GDAL, shapelib, pyshp) and parses what they report,
// so the interop tests can hold our reader against readers that share none of its code.
namespace kel::interop {

// Debian's interpreter: python3-pyshp is installed for it, not for a pyenv or venv on the PATH.
inline const std::string kPython = "/usr/bin/python3";

inline std::string quote(const std::string& s) {
  return "'" + s + "'";
}

// Standard output of a shell command. A failing command throws, which fails the test: a peer
// tool that is missing is a broken machine, not a reason to skip, and scripts/install-deps adds it.
inline std::string run(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start: " + command);
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  if (int status = ::pclose(pipe); status != 0) {
    throw std::runtime_error("failed (status " + std::to_string(status) + "): " + command +
                             "\nare gdal-bin, shapelib and python3-pyshp installed? "
                             "scripts/install-deps installs them");
  }
  return out;
}

struct PeerShape {
  int type = 0;
  std::vector<double> box;  // xmin, ymin, xmax, ymax
  std::vector<std::int32_t> parts;
  std::vector<std::pair<double, double>> points;
};
struct PeerGeometry {
  int type = 0;
  std::vector<double> box;
  std::vector<PeerShape> shapes;
};
struct PeerField {
  std::string name;
  char type = 0;
  int width = 0, decimals = 0;
};
struct PeerValue {
  std::string text;    // raw field text, or the tool's display text when the table is not raw
  bool null = false;   // the tool calls the value empty
  std::string parsed;  // pyshp's typed reading, rendered as text
};
struct PeerTable {
  bool raw = false;
  std::vector<PeerField> fields;
  std::vector<std::vector<PeerValue>> rows;
};

// shpdump at 17 significant digits, which every double survives unchanged.
inline PeerGeometry shpdump(const std::string& shp) {
  std::istringstream out(run("shpdump -precision 17 " + quote(shp)));
  auto typeOf = [](const std::string& n) {
    return n == "Point"        ? kelPoint
           : n == "Arc"        ? kelPolyLine
           : n == "Polygon"    ? kelPolygon
           : n == "MultiPoint" ? kelMultiPoint
                               : kelUndefined;
  };
  PeerGeometry g;
  std::vector<double>* box = &g.box;
  char name[32];
  double x, y;
  int index, vertices, parts;
  for (std::string line; std::getline(out, line);) {
    const char* s = line.c_str();
    if (std::sscanf(s, "Shapefile Type: %31s", name) == 1) {
      g.type = typeOf(name);
    } else if (std::sscanf(s, "Shape:%d (%31[^)]) nVertices=%d, nParts=%d", &index, name, &vertices,
                           &parts) == 4) {
      g.shapes.push_back({typeOf(name), {}, {}, {}});
      if (parts > 0) g.shapes.back().parts.push_back(0);
      box = &g.shapes.back().box;
    } else if (std::sscanf(s, " File Bounds: (%lf,%lf", &x, &y) == 2 ||
               std::sscanf(s, " Bounds:(%lf,%lf", &x, &y) == 2 ||
               std::sscanf(s, " to (%lf,%lf", &x, &y) == 2) {
      box->insert(box->end(), {x, y});
    } else if (std::sscanf(s, " + (%lf,%lf", &x, &y) == 2) {
      g.shapes.back().parts.push_back(static_cast<std::int32_t>(g.shapes.back().points.size()));
      g.shapes.back().points.emplace_back(x, y);
    } else if (std::sscanf(s, " (%lf,%lf", &x, &y) == 2) {
      g.shapes.back().points.emplace_back(x, y);
    }
  }
  return g;
}

inline std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// dbfdump's header and per-record listing, turned from Windows-1252 into UTF-8 by iconv. It
// trims values and prints empty ones as "(NULL)", so its table is not raw.
inline PeerTable dbfdump(const std::string& dbf) {
  std::istringstream out(run("dbfdump -h -m " + quote(dbf) + " | iconv -f CP1252 -t UTF-8"));
  PeerTable t;
  char type, title[64];
  int width, decimals;
  for (std::string line; std::getline(out, line);) {
    if (std::sscanf(line.c_str(),
                    "Field %*d: Type=%c/%*[^,], Title=`%63[^']', Width=%d, Decimals=%d", &type,
                    title, &width, &decimals) == 4) {
      t.fields.push_back({title, type, width, decimals});
    } else if (line.rfind("Record: ", 0) == 0) {
      t.rows.emplace_back();
    } else if (!t.rows.empty() && t.rows.back().size() < t.fields.size() &&
               line.rfind(t.fields[t.rows.back().size()].name + ":", 0) == 0) {
      std::string value = trim(line.substr(t.fields[t.rows.back().size()].name.size() + 1));
      t.rows.back().push_back({value, value == "(NULL)", ""});
    }
  }
  return t;
}

// pyshp's Reader on the same files: geometry with repr() floats, so nothing is rounded; the raw
// text of every field, cut from the .dbf by its header; and pyshp's typed value. Text is
// hex-encoded UTF-8 behind an "x", so blanks and empty strings survive the line format.
inline const char* const kPyshpDump = R"(import sys, shapefile
r = shapefile.Reader(sys.argv[1], encoding='cp1252')
h = lambda s: 'x' + str(s).encode().hex()
print('H', r.shapeType, *map(repr, r.bbox))
for s in r.iterShapes():
    print('S', s.shapeType, *map(repr, getattr(s, 'bbox', [])))
    print('P', *s.parts)
    for x, y in s.points: print('X', repr(x), repr(y))
raw = open(sys.argv[1] + '.dbf', 'rb').read()
start, size = int.from_bytes(raw[8:10], 'little'), int.from_bytes(raw[10:12], 'little')
fields = r.fields[1:]
for n, t, w, d in fields: print('F', h(n), t, w, d)
def typed(v):
    if v is None: return 'N'
    if type(v) is bool: v = 'T' if v else 'F'
    elif hasattr(v, 'strftime'): v = v.strftime('%Y%m%d')
    elif type(v) is float: v = repr(v)
    return h(v)
for i, rec in enumerate(r.iterRecords()):
    print('R')
    pos = start + i * size + 1
    for (n, t, w, d), v in zip(fields, rec):
        print('V', h(raw[pos:pos + w].decode('cp1252')), typed(v))
        pos += w
)";

// Runs a script on Debian's interpreter, fed through a here-document so it needs no file.
inline std::string python(const std::string& script, const std::string& argument) {
  return run(kPython + " - " + quote(argument) + " <<'END_OF_SCRIPT'\n" + script +
             "END_OF_SCRIPT\n");
}

inline std::string unhex(const std::string& token) {
  std::string out;
  for (std::size_t i = 1; i + 1 < token.size(); i += 2)
    out += char(std::stoi(token.substr(i, 2), nullptr, 16));
  return out;
}

inline std::pair<PeerGeometry, PeerTable> pyshpDump(const std::string& dir,
                                                    const std::string& stem) {
  std::istringstream out(python(kPyshpDump, dir + "/" + stem));
  PeerGeometry g;
  PeerTable t{true, {}, {}};
  for (std::string line; std::getline(out, line);) {
    std::istringstream in(line);
    std::string tag, a, b;
    in >> tag;
    if (tag == "H" || tag == "S") {
      int type;
      in >> type;
      std::vector<double> box;
      for (double v; in >> v;) box.push_back(v);
      if (tag == "H") g = {type, box, {}};
      if (tag == "S") g.shapes.push_back({type, box, {}, {}});
    } else if (tag == "P") {
      for (std::int32_t start; in >> start;) g.shapes.back().parts.push_back(start);
    } else if (tag == "X") {
      double x, y;
      in >> x >> y;
      g.shapes.back().points.emplace_back(x, y);
    } else if (tag == "F") {
      PeerField field;
      in >> a >> field.type >> field.width >> field.decimals;
      field.name = unhex(a);
      t.fields.push_back(field);
    } else if (tag == "R") {
      t.rows.emplace_back();
    } else if (tag == "V") {
      in >> a >> b;
      t.rows.back().push_back({unhex(a), b == "N", b == "N" ? "" : unhex(b)});
    }
  }
  return {g, t};
}

}  // namespace kel::interop

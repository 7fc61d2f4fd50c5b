#include "Selecting.h"

#include <charconv>
#include <cmath>

#include "Layers.h"
#include "Output.h"

namespace kelshp {

const char* const kSelectionUsage =
    "\n"
    "SELECTION, options that each narrow what the others keep:\n"
    "  --bbox XMIN,YMIN,XMAX,YMAX\n"
    "                 the records whose geometry meets the box, its border included,\n"
    "                 as 'ogr2ogr -spat' keeps them; null shapes are left out\n"
    "  --select A,B,...\n"
    "                 these columns only, in this order (names in any letter case)\n"
    "  --where EXPR   the records whose row passes the filter, written as for\n"
    "                 'ogr2ogr -where': =, <>, <, <=, >, >=, [NOT] LIKE, ILIKE,\n"
    "                 [NOT] IN (...), [NOT] BETWEEN, IS [NOT] NULL, AND, OR, NOT,\n"
    "                 parentheses, numbers, 'text' and dates as 'YYYY-MM-DD'\n"
    "  --rows START:STOP\n"
    "                 the records START to STOP - 1, counted from 0; either may be\n"
    "                 left out\n";

namespace {

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (std::size_t found; (found = text.find(by, at)) != std::string::npos; at = found + 1) {
    parts.push_back(text.substr(at, found - at));
  }
  parts.push_back(text.substr(at));
  return parts;
}

template <class T>
bool parsed(const std::string& text, T& out) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<OptionSpec> withSelection(std::vector<OptionSpec> own) {
  for (const char* name : {"bbox", "select", "where", "rows"}) own.push_back({name, 0, true});
  own.push_back(kEncodingOption);
  return own;
}

kel::format::Selection selectionOf(const Arguments& a) {
  kel::format::Selection s;
  if (a.has("bbox")) {
    std::vector<std::string> parts = split(a.given.at("bbox"), ',');
    double v[4];
    bool good = parts.size() == 4;
    for (std::size_t k = 0; good && k < 4; ++k) good = parsed(parts[k], v[k]) && std::isfinite(v[k]);
    if (!good || v[0] > v[2] || v[1] > v[3]) {
      throw UsageError("--bbox takes XMIN,YMIN,XMAX,YMAX, four numbers with each minimum at most "
                       "its maximum; " +
                       visible("'" + a.given.at("bbox") + "'") + " is not that");
    }
    s.box = kel::format::Box{v[0], v[1], v[2], v[3]};
  }
  if (a.has("select")) s.columns = split(a.given.at("select"), ',');
  if (a.has("where")) {
    s.where = a.given.at("where");
    if (s.where.empty()) throw UsageError("--where takes a filter; it is empty");
  }
  if (a.has("rows")) {
    const std::string& text = a.given.at("rows");
    std::vector<std::string> parts = split(text, ':');
    std::int64_t start = 0, stop = 0;
    if (parts.size() != 2 || (!parts[0].empty() && !parsed(parts[0], start)) ||
        (!parts[1].empty() && !parsed(parts[1], stop)) || start < 0 || stop < 0) {
      throw UsageError("--rows takes START:STOP, record numbers from 0; " +
                       visible("'" + text + "'") + " is not that");
    }
    s.start = start;
    if (!parts[1].empty()) s.stop = stop;
  }
  return s;
}

}  // namespace kelshp

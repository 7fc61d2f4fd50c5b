#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>

#include "Layers.h"
#include "Output.h"
#include "Tool.h"
#include "kel/geojson/Geometry.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

using kel::geojson::Geometry;
using kel::geojson::GeometryType;
using kel::geojson::Point;
using kel::geojson::Polygon;
using kel::geojson::Ring;

constexpr const char* kUsage =
    "usage: kelshp render PATH -o FILE.svg [--width PIXELS] [--encoding NAME]\n"
    "\n"
    "Draws the shapes of a shapefile as an SVG picture fitted to the file's extents,\n"
    "north up: polygons and patches filled with their holes left open, lines\n"
    "stroked, points as dots. The picture is PIXELS wide (default 800); its file's\n"
    "name ends in .svg.\n";

// Maps map coordinates onto the picture: the extents fitted into the width with a margin,
// centred, y pointing up. Extents that are empty, inverted or not finite draw as one point.
// Differences are taken of halves, so that none overflows anywhere in the range of doubles.
class Viewport {
 public:
  Viewport(const kel::format::MainHeader& box, double width) : width_(width) {
    xMin_ = finite(box.xMin);
    yMax_ = finite(box.yMax);
    double w = span(box.xMax / 2 - box.xMin / 2);  // half the extents' width
    double h = span(box.yMax / 2 - box.yMin / 2);
    double inner = width - 2 * kMargin;
    scale_ = std::max(w, h) > 0 ? inner / std::max(w, h) : 1;  // pixels per half unit
    if (!std::isfinite(scale_)) scale_ = std::numeric_limits<double>::max();
    height_ = std::max(h * scale_, 2 * kMargin) + 2 * kMargin;
    left_ = kMargin + (inner - w * scale_) / 2;
    top_ = (height_ - h * scale_) / 2;
  }

  double width() const { return width_; }
  double height() const { return height_; }

  // Where a vertex goes on the picture; none for a vertex with a NaN or infinite coordinate,
  // which is left out. A vertex so far outside the extents that it lies more than kFar pixels
  // away is drawn at kFar, which every SVG reader can hold. Both are counted.
  std::optional<Point> place(const Point& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      ++leftOut_;
      return std::nullopt;
    }
    double x = left_ + (p.x / 2 - xMin_ / 2) * scale_;
    double y = top_ + (yMax_ / 2 - p.y / 2) * scale_;
    if (!(std::fabs(x) <= kFar && std::fabs(y) <= kFar)) ++pulledIn_;
    return Point{round2(std::clamp(x, -kFar, kFar)), round2(std::clamp(y, -kFar, kFar))};
  }

  // What place() did not draw where it lies, in one sentence; empty when it drew everything.
  std::string report() const {
    auto vertices = [](std::size_t n) {
      return std::to_string(n) + (n == 1 ? " vertex" : " vertices");
    };
    std::string out;
    if (leftOut_ > 0) out = "left out " + vertices(leftOut_) + " with a NaN or infinite coordinate";
    if (pulledIn_ > 0) {
      out += (out.empty() ? "drew " : "; drew ") + vertices(pulledIn_) +
             (pulledIn_ == 1 ? " that lies" : " that lie") +
             " too far outside the file's extents at the edge of the drawable range";
    }
    return out;
  }

 private:
  static constexpr double kMargin = 10;
  static constexpr double kFar = 1e7;
  static double finite(double v) { return std::isfinite(v) ? v : 0; }
  static double span(double v) { return std::isfinite(v) && v > 0 ? v : 0; }
  static double round2(double v) { return std::round(v * 100) / 100; }

  double width_;
  double height_ = 0;
  double xMin_ = 0;
  double yMax_ = 0;
  double scale_ = 1;
  double left_ = 0;
  double top_ = 0;
  std::size_t leftOut_ = 0;
  std::size_t pulledIn_ = 0;
};

std::string pathData(Viewport& view, const std::vector<Ring>& rings, bool close) {
  std::string d;
  for (const Ring& ring : rings) {
    bool first = true;
    for (const Point& p : ring) {
      std::optional<Point> at = view.place(p);
      if (!at) continue;
      d += (first ? "M" : "L") + number(at->x) + "," + number(at->y);
      first = false;
    }
    if (close && !first) d += "Z";
  }
  return d;
}

}  // namespace

int runRender(const Args& args) {
  Arguments a = parseArguments(args, {{"output", 'o', true}, {"width", 0, true}, kEncodingOption},
                               1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kEncodingHelp, stdout), 0;
  if (!a.has("output")) throw UsageError("-o FILE.svg names the picture to write");
  const std::string& output = a.given.at("output");
  if (!kel::asciiLower(output).ends_with(".svg")) {
    throw UsageError("the picture is SVG, and '" + output + "' does not end in .svg");
  }
  double width = a.number("width", 50, 100000, 800);
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer = openLayer(path, warnings, openOptions(a));
  if (!layer) return 1;

  Viewport view(layer->shapes().header(), width);
  // The picture goes to the file as it is drawn, and appears whole or not at all.
  WholeFile svg(output);
  svg.append("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(view.width()) +
             "\" height=\"" + number(view.height()) + "\" viewBox=\"0 0 " + number(view.width()) +
             " " + number(view.height()) + "\">\n" +
             "<rect width=\"100%\" height=\"100%\" fill=\"#fbfaf5\"/>\n");
  kel::format::ShapeView shape;
  for (std::int64_t i = 0; i < layer->count(); ++i) {
    if (!layer->shapes().read(i, shape)) continue;
    Geometry g = kel::geojson::geometryOf(shape);
    std::vector<Ring> rings = g.lines;
    for (const Polygon& p : g.polygons) {
      rings.push_back(p.outer);
      rings.insert(rings.end(), p.holes.begin(), p.holes.end());
    }
    bool filled = !g.polygons.empty();
    if (filled || g.type == GeometryType::LineString || g.type == GeometryType::MultiLineString) {
      std::string d = pathData(view, rings, filled);
      if (d.empty()) continue;
      // Even-odd filling leaves the holes open whichever way their rings run.
      svg.append(filled ? "<path fill=\"#9cc3a4\" fill-opacity=\"0.8\" fill-rule=\"evenodd\" "
                          "stroke=\"#35613f\" stroke-width=\"0.8\" d=\""
                        : "<path fill=\"none\" stroke=\"#b5452f\" stroke-width=\"1.5\" "
                          "stroke-linejoin=\"round\" d=\"");
      svg.append(d + "\"/>\n");
    } else {
      for (const Ring& part : rings) {
        for (const Point& p : part) {
          if (std::optional<Point> at = view.place(p)) {
            svg.append("<circle r=\"3\" fill=\"#2f5fb5\" cx=\"" + number(at->x) + "\" cy=\"" +
                       number(at->y) + "\"/>\n");
          }
        }
      }
    }
  }
  svg.append("</svg>\n");
  svg.commit();
  if (std::string what = view.report(); !what.empty()) warn(path.file(".shp") + ": " + what);
  return 0;
}

}  // namespace kelshp

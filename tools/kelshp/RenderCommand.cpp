#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "Output.h"
#include "Tool.h"
#include "geojson/Geometry.h"

namespace kelshp {

namespace {

using kel::geojson::Point;
using kel::geojson::Ring;

constexpr const char* kUsage =
    "usage: kelshp render PATH -o FILE.svg [--width PIXELS]\n"
    "\n"
    "Draws the shapes of a shapefile as an SVG picture fitted to the file's extents,\n"
    "north up: polygons filled with their holes left open, lines stroked, points as\n"
    "dots. The picture is PIXELS wide (default 800).\n";

// Maps map coordinates onto the picture: the extents fitted into the width with a margin,
// centred, y pointing up. Extents that are empty, inverted or not finite draw as one point.
class Viewport {
 public:
  Viewport(const kel::BoundingBox& box, double width) : width_(width) {
    xMin_ = finite(box.get_xMin());
    yMax_ = finite(box.get_yMax());
    double w = span(box.get_xMax() - box.get_xMin());
    double h = span(box.get_yMax() - box.get_yMin());
    double inner = width - 2 * kMargin;
    scale_ = std::max(w, h) > 0 ? inner / std::max(w, h) : 1;
    height_ = std::max(h * scale_, 2 * kMargin) + 2 * kMargin;
    left_ = kMargin + (inner - w * scale_) / 2;
    top_ = (height_ - h * scale_) / 2;
  }

  double width() const { return width_; }
  double height() const { return height_; }
  double x(const Point& p) const { return round2(left_ + (p.x - xMin_) * scale_); }
  double y(const Point& p) const { return round2(top_ + (yMax_ - p.y) * scale_); }
  std::string at(const Point& p) const { return number(x(p)) + "," + number(y(p)); }

 private:
  static constexpr double kMargin = 10;
  static double finite(double v) { return std::isfinite(v) ? v : 0; }
  static double span(double v) { return std::isfinite(v) && v > 0 ? v : 0; }
  static double round2(double v) { return std::isfinite(v) ? std::round(v * 100) / 100 : 0; }

  double width_;
  double height_ = 0;
  double xMin_ = 0;
  double yMax_ = 0;
  double scale_ = 1;
  double left_ = 0;
  double top_ = 0;
};

std::string pathData(const Viewport& view, const std::vector<Ring>& rings, bool close) {
  std::string d;
  for (const Ring& ring : rings) {
    for (std::size_t i = 0; i < ring.size(); ++i) d += (i ? "L" : "M") + view.at(ring[i]);
    if (close) d += "Z";
  }
  return d;
}

}  // namespace

int runRender(const Args& args) {
  if (wantsHelp(args)) return std::fputs(kUsage, stdout), 0;
  std::string input, output;
  double width = 800;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i] == "--width" && i + 1 < args.size()) {
      width = std::strtod(args[++i].c_str(), nullptr);
    } else if (input.empty()) {
      input = args[i];
    } else {
      return std::fputs(kUsage, stderr), 2;
    }
  }
  if (input.empty() || output.empty() || !(width >= 50 && width <= 100000)) {
    return std::fputs(kUsage, stderr), 2;
  }
  kel::Ref<kel::Shapefile> file = load(ShapefilePath::parse(input));
  if (!file) return 1;

  Viewport view(kel::deref(file->get_BoundingBox()), width);
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(view.width()) +
                    "\" height=\"" + number(view.height()) + "\" viewBox=\"0 0 " +
                    number(view.width()) + " " + number(view.height()) + "\">\n" +
                    "<rect width=\"100%\" height=\"100%\" fill=\"#fbfaf5\"/>\n";
  kel::Ref<kel::Collection> shapes = file->get_ShapeObjects();
  for (const kel::Variant& item : kel::deref(shapes)) {
    const kel::ShapeObject& shape = item.deref<kel::ShapeObject>();
    std::int32_t type = kel::geojson::drawnType(shape, file->get_ShapeType());
    std::vector<Ring> parts = kel::geojson::partsOf(shape);
    if (parts.empty()) continue;
    if (type == kel::kelPolygon) {
      // Even-odd filling leaves the holes open whichever way their rings run.
      svg +=
          "<path fill=\"#9cc3a4\" fill-opacity=\"0.8\" fill-rule=\"evenodd\" stroke=\"#35613f\" "
          "stroke-width=\"0.8\" d=\"" +
          pathData(view, parts, true) + "\"/>\n";
    } else if (type == kel::kelPolyLine) {
      svg +=
          "<path fill=\"none\" stroke=\"#b5452f\" stroke-width=\"1.5\" "
          "stroke-linejoin=\"round\" d=\"" +
          pathData(view, parts, false) + "\"/>\n";
    } else {
      for (const Ring& part : parts) {
        for (const Point& p : part) {
          svg += "<circle r=\"3\" fill=\"#2f5fb5\" cx=\"" + number(view.x(p)) + "\" cy=\"" +
                 number(view.y(p)) + "\"/>\n";
        }
      }
    }
  }
  svg += "</svg>\n";

  std::ofstream out(output, std::ios::binary);
  out << svg;
  out.close();
  if (!out) return fail(output + ": cannot be written");
  return 0;
}

}  // namespace kelshp

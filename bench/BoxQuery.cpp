// A box query on a layer of 1,000,000 polygons, a grid of 1000 by 1000 squares: the records whose
// boxes meet a box round 100 of them, found by the format engine testing every record's box, by
// the engine through the layer's quadtree index (.qix, as `kelshp index` writes it), both through
// the engine's selection as every reader takes it, and by GDAL
// (OGR_L_SetSpatialFilterRect) without and with the same index. Prints the median time of five
// runs and the bytes each read from the files (/proc/self/io rchar; the files are in the page
// cache, so that the time is the work and not the disk).

#include "BoxQuery.h"

#include <gdal.h>
#include <ogr_api.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/format/Layer.h"
#include "kel/format/LayerWriter.h"
#include "kel/format/Selection.h"
#include "kel/format/SpatialIndex.h"

namespace kelbench {

namespace {

namespace fmt = kel::format;

constexpr int kSide = 1000;
const fmt::Box kQuery{500.05, 500.05, 510.05, 510.05};  // 11 by 11 squares meet it

long long bytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

void writeGrid(const std::string& path) {
  const std::vector<fmt::ColumnDefinition> columns = {{"ID", 'N', 9}};
  fmt::LayerWriter writer(path, fmt::ShapeType::Polygon, columns);
  std::vector<fmt::XY> ring(5);
  const std::int32_t parts[] = {0};
  for (int i = 0; i < kSide * kSide; ++i) {
    double x = i % kSide, y = i / kSide;
    ring = {{x, y}, {x, y + 0.9}, {x + 0.9, y + 0.9}, {x + 0.9, y}, {x, y}};
    fmt::ShapeView v;
    v.type = fmt::ShapeType::Polygon;
    v.points = ring;
    v.parts = parts;
    const fmt::Value row[] = {std::int64_t{i}};
    writer.add(v, row);
  }
  writer.close();
}

// The records that meet the query, through the engine's selection: its index's candidates when
// the layer has one, each tested by its own box.
long engineQuery(const std::string& path, bool indexed) {
  fmt::FirstErrorReporter heard;
  std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(path, heard);
  if (!layer) throw std::runtime_error("the engine cannot open " + path);
  fmt::Selection selection;
  selection.box = kQuery;
  fmt::SelectedRecords records(*layer, selection);
  long found = 0;
  while (records.next()) found += records.shapeRead();
  if (records.indexed() != indexed) {
    throw std::runtime_error(indexed ? "the index is not used" : "an index is used");
  }
  return found;
}

long gdalQuery(const std::string& path) {
  GDALDatasetH ds =
      GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (ds == nullptr) throw std::runtime_error("GDAL cannot open " + path);
  OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
  OGR_L_SetSpatialFilterRect(layer, kQuery.xMin, kQuery.yMin, kQuery.xMax, kQuery.yMax);
  long found = 0;
  while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
    ++found;
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
  return found;
}

template <class Query>
void measure(const char* what, Query&& query) {
  std::vector<double> ms;
  long long bytes = 0;
  long found = 0;
  for (int run = 0; run < 5; ++run) {
    long long before = bytesRead();
    auto start = std::chrono::steady_clock::now();
    found = query();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    bytes = bytesRead() - before;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("| %s | %ld | %.3g | %lld |\n", what, found, ms[2], bytes);
}

}  // namespace

int boxQuery(const std::string& dir) {
  GDALAllRegister();
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/grid.shp", qix = dir + "/grid.qix";
  if (!std::filesystem::exists(path)) writeGrid(path);
  std::filesystem::remove(qix);
  std::printf("| box query on 1,000,000 polygons | records | median ms | bytes read |\n");
  std::printf("|---|---:|---:|---:|\n");
  measure("engine, every record's box", [&] { return engineQuery(path, false); });
  measure("GDAL, no index", [&] { return gdalQuery(path); });
  auto start = std::chrono::steady_clock::now();
  {
    fmt::FirstErrorReporter heard;
    std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(path, heard);
    fmt::writeQuadTreeIndex(*layer);
  }
  std::printf(
      "| (kelshp index: %.3g ms, %lld bytes) | | | |\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
      static_cast<long long>(std::filesystem::file_size(qix)));
  measure("engine, .qix", [&] { return engineQuery(path, true); });
  measure("GDAL, the same .qix", [&] { return gdalQuery(path); });
  return 0;
}

}  // namespace kelbench

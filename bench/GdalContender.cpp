#include <gdal.h>
#include <ogr_api.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "Contender.h"

namespace kelbench {

namespace {

void registerDrivers() {
  static const bool registered = (GDALAllRegister(), true);
  (void)registered;
}

// Leaves (points, lines and rings) hand out their vertices as flat arrays, as the C API offers.
void visit(OGRGeometryH g, long first, Digest& d, std::vector<double>& x, std::vector<double>& y) {
  int children = OGR_G_GetGeometryCount(g);
  if (children > 0) {
    for (int i = 0; i < children; ++i) visit(OGR_G_GetGeometryRef(g, i), first, d, x, y);
    return;
  }
  int n = OGR_G_GetPointCount(g);
  x.resize(static_cast<std::size_t>(n));
  y.resize(static_cast<std::size_t>(n));
  OGR_G_GetPoints(g, x.data(), sizeof(double), y.data(), sizeof(double), nullptr, 0);
  d.partStarts += d.vertices - first;
  for (int v = 0; v < n; ++v) d.coordinateSum += x[v] + y[v];
  d.vertices += n;
}

Digest read(const std::string& dir, const std::string& stem) {
  registerDrivers();
  Digest d;
  std::string path = dir + "/" + stem + ".shp";
  GDALDatasetH ds =
      GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (ds == nullptr) throw std::runtime_error("GDAL open failed");
  OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
  std::vector<double> x, y;
  while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
    ++d.shapes;
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    d.typeCodes += OGR_G_GetGeometryType(g);
    OGREnvelope box;
    OGR_G_GetEnvelope(g, &box);
    d.boxSum += box.MinX + box.MinY + box.MaxX + box.MaxY;
    visit(g, d.vertices, d, x, y);
    for (int i = 0, n = OGR_F_GetFieldCount(f); i < n; ++i) {
      d.textBytes += static_cast<long>(std::strlen(OGR_F_GetFieldAsString(f, i)));
    }
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
  return d;
}

// Leaves hand out their vertices with Z and M values.
void visitZM(OGRGeometryH g, long first, Digest& d, std::vector<double> (&xyzm)[4]) {
  int children = OGR_G_GetGeometryCount(g);
  if (children > 0) {
    for (int i = 0; i < children; ++i) visitZM(OGR_G_GetGeometryRef(g, i), first, d, xyzm);
    return;
  }
  int n = OGR_G_GetPointCount(g);
  for (auto& axis : xyzm) axis.resize(static_cast<std::size_t>(n));
  OGR_G_GetPointsZM(g, xyzm[0].data(), sizeof(double), xyzm[1].data(), sizeof(double),
                    xyzm[2].data(), sizeof(double), xyzm[3].data(), sizeof(double));
  d.partStarts += d.vertices - first;
  for (int v = 0; v < n; ++v) {
    d.coordinateBits +=
        bitsOf(xyzm[0][v]) + bitsOf(xyzm[1][v]) + bitsOf(xyzm[2][v]) + bitsOf(xyzm[3][v]);
  }
  d.vertices += n;
}

Digest walk(const std::string& dir, const std::string& stem) {
  registerDrivers();
  Digest d;
  std::string path = dir + "/" + stem + ".shp";
  GDALDatasetH ds =
      GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  if (ds == nullptr) throw std::runtime_error("GDAL open failed");
  OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
  OGRFeatureDefnH schema = OGR_L_GetLayerDefn(layer);
  std::vector<OGRFieldType> types;
  for (int i = 0, n = OGR_FD_GetFieldCount(schema); i < n; ++i) {
    types.push_back(OGR_Fld_GetType(OGR_FD_GetFieldDefn(schema, i)));
  }
  std::vector<double> xyzm[4];
  while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
    ++d.shapes;
    OGRGeometryH g = OGR_F_GetGeometryRef(f);
    d.typeCodes += OGR_G_GetGeometryType(g);
    OGREnvelope box;
    OGR_G_GetEnvelope(g, &box);
    d.boxSum += box.MinX + box.MinY + box.MaxX + box.MaxY;
    visitZM(g, d.vertices, d, xyzm);
    for (int i = 0; i < static_cast<int>(types.size()); ++i) {
      if (!OGR_F_IsFieldSetAndNotNull(f, i)) continue;
      switch (types[i]) {
        case OFTInteger:
        case OFTInteger64:
          d.numberSum += static_cast<double>(OGR_F_GetFieldAsInteger64(f, i));
          break;
        case OFTReal:
          d.numberSum += OGR_F_GetFieldAsDouble(f, i);
          break;
        case OFTDate: {
          int year, month, day, hour, minute, zone;
          float second;
          OGR_F_GetFieldAsDateTimeEx(f, i, &year, &month, &day, &hour, &minute, &second, &zone);
          d.numberSum += year * 10000 + month * 100 + day;
          break;
        }
        default:
          d.textBytes += static_cast<long>(std::strlen(OGR_F_GetFieldAsString(f, i)));
      }
    }
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
  return d;
}

OGRGeometryH points(OGRwkbGeometryType type, const Shape& s, int from, int to) {
  OGRGeometryH g = OGR_G_CreateGeometry(type);
  for (int v = from; v < to; ++v) OGR_G_SetPoint_2D(g, v - from, s.xy[2 * v], s.xy[2 * v + 1]);
  return g;
}

OGRGeometryH geometryOf(int shapeType, const Shape& s) {
  int n = s.vertexCount();
  auto partEnd = [&](std::size_t p) { return p + 1 < s.parts.size() ? s.parts[p + 1] : n; };
  switch (shapeType) {
    case 1:
      return points(wkbPoint, s, 0, 1);
    case 8: {
      OGRGeometryH g = OGR_G_CreateGeometry(wkbMultiPoint);
      for (int v = 0; v < n; ++v) OGR_G_AddGeometryDirectly(g, points(wkbPoint, s, v, v + 1));
      return g;
    }
    case 5: {
      OGRGeometryH g = OGR_G_CreateGeometry(wkbPolygon);
      for (std::size_t p = 0; p < s.parts.size(); ++p) {
        OGR_G_AddGeometryDirectly(g, points(wkbLinearRing, s, s.parts[p], partEnd(p)));
      }
      return g;
    }
    default: {
      if (s.parts.size() == 1) return points(wkbLineString, s, 0, n);
      OGRGeometryH g = OGR_G_CreateGeometry(wkbMultiLineString);
      for (std::size_t p = 0; p < s.parts.size(); ++p) {
        OGR_G_AddGeometryDirectly(g, points(wkbLineString, s, s.parts[p], partEnd(p)));
      }
      return g;
    }
  }
}

void write(const Workload& w, const std::string& dir, const std::string& stem) {
  registerDrivers();
  GDALDriverH driver = GDALGetDriverByName("ESRI Shapefile");
  std::string path = dir + "/" + stem + ".shp";
  GDALDatasetH ds = GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
  if (ds == nullptr) throw std::runtime_error("GDAL create failed");
  OGRwkbGeometryType layerType = w.shapeType == 1   ? wkbPoint
                                 : w.shapeType == 8 ? wkbMultiPoint
                                 : w.shapeType == 5 ? wkbPolygon
                                                    : wkbLineString;
  OGRLayerH layer = GDALDatasetCreateLayer(ds, stem.c_str(), nullptr, layerType, nullptr);
  for (const Column& c : kColumns) {
    OGRFieldDefnH field = OGR_Fld_Create(c.name, c.type == 'C'   ? OFTString
                                                 : c.type == 'N' ? OFTReal
                                                                 : OFTDate);
    OGR_Fld_SetWidth(field, c.width);
    OGR_Fld_SetPrecision(field, c.decimals);
    OGR_L_CreateField(layer, field, TRUE);
    OGR_Fld_Destroy(field);
  }
  OGRFeatureDefnH schema = OGR_L_GetLayerDefn(layer);
  for (std::size_t i = 0; i < w.shapes.size(); ++i) {
    OGRFeatureH f = OGR_F_Create(schema);
    OGR_F_SetGeometryDirectly(f, geometryOf(w.shapeType, w.shapes[i]));
    const Row& row = w.rows[i];
    OGR_F_SetFieldString(f, 0, row.name.c_str());
    OGR_F_SetFieldString(f, 1, row.value.c_str());
    int day = std::stoi(row.day);
    OGR_F_SetFieldDateTime(f, 2, day / 10000, day / 100 % 100, day % 100, 0, 0, 0, 0);
    if (OGR_L_CreateFeature(layer, f) != OGRERR_NONE) throw std::runtime_error("GDAL write");
    OGR_F_Destroy(f);
  }
  GDALClose(ds);
}

}  // namespace

const Contender kGdal{"GDAL", read, write};
const Walker kGdalWalk{"GDAL", walk};

}  // namespace kelbench

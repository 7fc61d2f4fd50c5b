#include <shapefil.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "Contender.h"

namespace kelbench {

namespace {

Digest read(const std::string& dir, const std::string& stem) {
  Digest d;
  std::string path = dir + "/" + stem;
  SHPHandle shp = SHPOpen(path.c_str(), "rb");
  DBFHandle dbf = DBFOpen(path.c_str(), "rb");
  if (shp == nullptr || dbf == nullptr) throw std::runtime_error("shapelib open failed");
  int count = 0;
  SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
  int fields = DBFGetFieldCount(dbf);
  for (int i = 0; i < count; ++i) {
    SHPObject* o = SHPReadObject(shp, i);
    ++d.shapes;
    d.typeCodes += o->nSHPType;
    d.boxSum += o->dfXMin + o->dfYMin + o->dfXMax + o->dfYMax;
    for (int p = 0; p < o->nParts; ++p) d.partStarts += o->panPartStart[p];
    for (int v = 0; v < o->nVertices; ++v) d.coordinateSum += o->padfX[v] + o->padfY[v];
    d.vertices += o->nVertices;
    SHPDestroyObject(o);
    for (int f = 0; f < fields; ++f) {
      d.textBytes += static_cast<long>(std::strlen(DBFReadStringAttribute(dbf, i, f)));
    }
  }
  SHPClose(shp);
  DBFClose(dbf);
  return d;
}

Digest walk(const std::string& dir, const std::string& stem) {
  Digest d;
  std::string path = dir + "/" + stem;
  SHPHandle shp = SHPOpen(path.c_str(), "rb");
  DBFHandle dbf = DBFOpen(path.c_str(), "rb");
  if (shp == nullptr || dbf == nullptr) throw std::runtime_error("shapelib open failed");
  int count = 0;
  SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
  const int fields = DBFGetFieldCount(dbf);
  std::vector<char> types;
  std::vector<bool> integers;
  for (int f = 0; f < fields; ++f) {
    int width = 0, decimals = 0;
    DBFFieldType type = DBFGetFieldInfo(dbf, f, nullptr, &width, &decimals);
    types.push_back(DBFGetNativeFieldType(dbf, f));
    integers.push_back(type == FTInteger);
  }
  for (int i = 0; i < count; ++i) {
    SHPObject* o = SHPReadObject(shp, i);
    ++d.shapes;
    d.typeCodes += o->nSHPType;
    d.boxSum += o->dfXMin + o->dfYMin + o->dfXMax + o->dfYMax;
    for (int p = 0; p < o->nParts; ++p) d.partStarts += o->panPartStart[p];
    for (int v = 0; v < o->nVertices; ++v) {
      d.coordinateBits +=
          bitsOf(o->padfX[v]) + bitsOf(o->padfY[v]) + bitsOf(o->padfZ[v]) + bitsOf(o->padfM[v]);
    }
    d.vertices += o->nVertices;
    SHPDestroyObject(o);
    for (int f = 0; f < fields; ++f) {
      if (DBFIsAttributeNULL(dbf, i, f)) continue;
      switch (types[f]) {
        case 'N':
        case 'F':
          d.numberSum +=
              integers[f] ? DBFReadIntegerAttribute(dbf, i, f) : DBFReadDoubleAttribute(dbf, i, f);
          break;
        case 'D':  // shapelib has no date reader; YYYYMMDD is its digits as one integer
          d.numberSum += DBFReadIntegerAttribute(dbf, i, f);
          break;
        case 'L':
          d.numberSum += DBFReadLogicalAttribute(dbf, i, f)[0] == 'T';
          break;
        default:
          d.textBytes += static_cast<long>(std::strlen(DBFReadStringAttribute(dbf, i, f)));
      }
    }
  }
  SHPClose(shp);
  DBFClose(dbf);
  return d;
}

void write(const Workload& w, const std::string& dir, const std::string& stem) {
  std::string path = dir + "/" + stem;
  SHPHandle shp = SHPCreate(path.c_str(), w.shapeType);
  DBFHandle dbf = DBFCreate(path.c_str());
  if (shp == nullptr || dbf == nullptr) throw std::runtime_error("shapelib create failed");
  for (const Column& c : kColumns) {
    DBFAddNativeFieldType(dbf, c.name, c.type, c.width, c.decimals);
  }
  std::vector<double> x, y;
  for (std::size_t i = 0; i < w.shapes.size(); ++i) {
    const Shape& s = w.shapes[i];
    x.clear();
    y.clear();
    for (std::size_t v = 0; v < s.xy.size(); v += 2) {
      x.push_back(s.xy[v]);
      y.push_back(s.xy[v + 1]);
    }
    SHPObject* o = SHPCreateObject(w.shapeType, static_cast<int>(i),
                                   static_cast<int>(s.parts.size()), s.parts.data(), nullptr,
                                   s.vertexCount(), x.data(), y.data(), nullptr, nullptr);
    SHPWriteObject(shp, -1, o);
    SHPDestroyObject(o);
    int row = static_cast<int>(i);
    DBFWriteStringAttribute(dbf, row, 0, w.rows[i].name.c_str());
    // shapelib's string writer takes its argument for a double in a Number or Date column, so
    // the number goes in as a double and the date's eight digits as they are.
    DBFWriteDoubleAttribute(dbf, row, 1, std::stod(w.rows[i].value));
    std::string day = w.rows[i].day;
    DBFWriteAttributeDirectly(dbf, row, 2, day.data());
  }
  SHPClose(shp);
  DBFClose(dbf);
}

}  // namespace

const Contender kShapelib{"shapelib", read, write};
const Walker kShapelibWalk{"shapelib", walk};

}  // namespace kelbench

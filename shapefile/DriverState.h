#pragma once

#include <cstdint>

#include "kel/runtime/ChannelTable.h"
#include "kel/runtime/ObjectArena.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefileFormat.h"

namespace kel {

// What the drivers keep between calls, as the last read or write left it.
struct Shapefile::DriverState {
  shp::ShapefileHeader mainHeader_;
  shp::ShapefileHeader indexHeader_;
  shp::RecordHeader recordHeader_;
  std::int32_t shpChannel_ = 0;
  std::int32_t shxChannel_ = 0;
  std::int32_t dbfChannel_ = 0;
  std::int32_t indexRecordCount_ = 0;  // as the index file's length announces
};

}  // namespace kel

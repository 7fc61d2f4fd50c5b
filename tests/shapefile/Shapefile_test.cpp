#include "kel/shapefile/Shapefile.h"

#include <gtest/gtest.h>

#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

TEST(ShapefileTest, ShapesAreTakenOnlyOfTheDefinedTypeAndCountedInSixteenBits) {
  Shapefile f;
  auto point = makeRef<ShapeObject>(), line = makeRef<ShapeObject>();
  EXPECT_FALSE(f.addShapeObject(point));  // though both types are undefined
  point->put_ShapeType(kelPoint);
  line->put_ShapeType(kelPolyLine);
  f.put_ShapeType(kelPoint);
  EXPECT_FALSE(f.addShapeObject(line));
  EXPECT_EQ(errorOf([&] { f.addShapeObject(Ref<ShapeObject>()); }), 91);
  for (int i = 1; i <= 32767; ++i) EXPECT_TRUE(f.addShapeObject(point));
  EXPECT_EQ(f.getShapeObject(32767), point);
  EXPECT_EQ(errorOf([&] { f.getShapeObject(0); }), 9);
  f.addShapeObject(point);
  EXPECT_EQ(errorOf([&] { f.get_ShapeObjectCount(); }), 6);
}

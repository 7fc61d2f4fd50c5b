#include "shapefile/Shapefile.h"

#include <gtest/gtest.h>

#include "runtime/TestSupport.h"

namespace {

using namespace kel;
using test::errorOf;

Ref<ShapeObject> shape(ShapeTypeConstants type) {
  auto s = makeRef<ShapeObject>();
  s->put_ShapeType(type);
  return s;
}

Ref<Collection> collectionOf(std::initializer_list<Variant> items) {
  auto c = makeRef<Collection>();
  for (const Variant& v : items) c->add(v);
  return c;
}

TEST(ShapefileTest, NewShapefileIsEmptyAndSettersStoreTheCallersObjects) {
  Shapefile f;
  EXPECT_EQ(f.get_ShapeType(), kelUndefined);
  EXPECT_EQ(f.get_ShapeObjectCount(), 0);
  const BoundingBox& b = *f.get_BoundingBox();
  EXPECT_TRUE(b.get_xMin() == 0 && b.get_yMin() == 0 && b.get_xMax() == 0 && b.get_yMax() == 0);
  EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 0);
  auto box = makeRef<BoundingBox>();
  f.put_BoundingBox(box);
  EXPECT_EQ(f.get_BoundingBox(), box);
  auto td = makeRef<TableDescription>();
  f.put_TableDescription(td);
  EXPECT_EQ(f.get_TableDescription(), td);
}

TEST(ShapefileTest, AddShapeObjectAcceptsOnlyTheShapefilesDefinedType) {
  Shapefile f;
  auto point = shape(kelPoint);
  EXPECT_FALSE(f.addShapeObject(point));
  EXPECT_FALSE(f.addShapeObject(shape(kelUndefined)));  // even though both are undefined
  f.put_ShapeType(kelPoint);
  point->get_BoundingBox()->setBoundingBox(1, 2, 3, 4);
  EXPECT_TRUE(f.addShapeObject(point));
  EXPECT_TRUE(f.addShapeObject(point));
  EXPECT_FALSE(f.addShapeObject(shape(kelMultiPoint)));
  EXPECT_EQ(errorOf([&] { f.addShapeObject(Ref<ShapeObject>()); }), 91);
  ASSERT_EQ(f.get_ShapeObjectCount(), 2);
  EXPECT_EQ(f.getShapeObject(2), point);
  EXPECT_EQ(f.get_BoundingBox()->get_xMax(), 0);  // adding leaves the file extents alone
  for (std::int16_t bad : {0, -1, 3}) EXPECT_EQ(errorOf([&] { f.getShapeObject(bad); }), 9);
  // The held collection is handed out unchecked, so whatever goes in through it stays.
  f.get_ShapeObjects()->add(Variant(shape(kelPolygon)));
  f.get_ShapeObjects()->add(Variant(makeRef<Coordinate>()));
  EXPECT_EQ(f.get_ShapeObjectCount(), 4);
  EXPECT_EQ(f.getShapeObject(3)->get_ShapeType(), kelPolygon);
  EXPECT_EQ(errorOf([&] { f.getShapeObject(4); }), 13);
}

TEST(ShapefileTest, PutShapeObjectsTakesTheCallersCollectionOnlyWhenEveryEntryPasses) {
  Shapefile f;
  auto empty = makeRef<Collection>();
  f.put_ShapeObjects(empty);  // an empty collection passes whatever the type
  EXPECT_EQ(f.get_ShapeObjects(), empty);
  f.put_ShapeObjects(collectionOf({Variant(shape(kelUndefined))}));
  EXPECT_EQ(f.get_ShapeObjects(), empty);
  f.put_ShapeType(kelPolyLine);
  f.put_ShapeObjects(collectionOf({Variant(shape(kelPolyLine)), Variant(shape(kelPolygon))}));
  // The walk stops at the first refusal, before it would reach the foreign entry.
  f.put_ShapeObjects(collectionOf({Variant(shape(kelPoint)), Variant(std::int32_t{3})}));
  auto foreign = collectionOf({Variant(shape(kelPolyLine)), Variant(makeRef<Coordinate>())});
  EXPECT_EQ(errorOf([&] { f.put_ShapeObjects(foreign); }), 13);
  EXPECT_EQ(errorOf([&] { f.put_ShapeObjects(nullptr); }), 91);
  EXPECT_EQ(f.get_ShapeObjects(), empty);
  auto lines = collectionOf({Variant(shape(kelPolyLine)), Variant(shape(kelPolyLine))});
  f.put_ShapeObjects(lines);
  EXPECT_EQ(f.get_ShapeObjects(), lines);
}

TEST(ShapefileTest, ShapeObjectCountOverflowsAbove32767) {
  Shapefile f;
  f.put_ShapeType(kelPoint);
  auto point = shape(kelPoint);
  for (int i = 0; i < 32767; ++i) f.addShapeObject(point);
  EXPECT_EQ(f.get_ShapeObjectCount(), 32767);
  EXPECT_EQ(f.getShapeObject(32767), point);
  f.addShapeObject(point);
  EXPECT_EQ(errorOf([&] { f.get_ShapeObjectCount(); }), 6);
}

}  // namespace

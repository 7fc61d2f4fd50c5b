// Scripts reach the library only through names, dispatch ids and variants.

#include "kel/automation/Dispatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "kel/attributes/FieldTypeConstants.h"
#include "kel/geometry/ShapeTypeConstants.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace kel::automation {
namespace {

using kel::testing::errorOf;
using kel::testing::TempDir;

// A script's view of an object: calls by name with variant arguments, as a script host makes them.
struct Script {
  Ref<Object> object;

  explicit Script(Ref<Object> o) : object(std::move(o)) {}
  explicit Script(const Variant& v) : object(v.object()) {}

  Variant call(std::u16string_view name, std::vector<Variant> args = {}) const {
    return invoke(*object, name, kMethod | kPropertyGet, args);
  }
  Script get(std::u16string_view name, std::vector<Variant> args = {}) const {
    return Script(call(name, std::move(args)));
  }
  void put(std::u16string_view name, Variant value, unsigned flags = kPropertyPut) const {
    std::vector<Variant> args{std::move(value)};
    invoke(*object, name, flags, args);
  }
};

Script create(std::u16string_view cls) {
  return Script(createObject(u"kelShapeLib." + std::u16string(cls)));
}

TEST(Dispatch, AScriptBuildsWritesReadsAndWalksAPolyLineShapefile) {
  TempDir dir;
  Script file = create(u"Shapefile");
  file.put(u"ShapeType", u"3");  // text that spells a number is taken for a Long
  Script column = create(u"TableDescriptor");
  column.call(u"setTableDescriptor", {u"NAME", std::int32_t{kelFieldTypeCharacter}, 12.0});
  Script lanes = create(u"TableDescriptor");
  lanes.call(u"setTableDescriptor", {u"LANES", std::int32_t{kelFieldTypeNumber}});  // width 0
  EXPECT_EQ(file.get(u"TableDescription").call(u"addTableDescriptor", {column.object}).kind(),
            Variant::Kind::Boolean);
  file.get(u"TableDescription").call(u"addTableDescriptor", {lanes.object});

  const double xy[][2] = {{0, 0}, {1, 1}, {2, 0}, {5, 5}, {6, 7}};
  for (int s = 0; s < 2; ++s) {
    Script shape = create(u"ShapeObject");
    shape.put(u"ShapeType", std::int32_t{kelPolyLine});
    for (const auto& p : xy) {
      Script c = create(u"Coordinate");
      c.call(u"setCoordinate", {p[0] + s, p[1]});
      EXPECT_TRUE(shape.call(u"addCoord", {c.object}).isEmpty());
    }
    shape.call(u"addPart", {std::int16_t{3}});
    Script field = create(u"RecordField");
    field.call(u"setRecordField", {u"NAME", s == 0 ? u"Ring road" : u"Bypass"});
    shape.get(u"Record").call(u"addField", {field.object});
    Script lane = create(u"RecordField");
    lane.call(u"setRecordField", {u"LANES"});  // the value is left to its default, ""
    lane.put(u"value", std::int32_t{2 + s});   // a number given for a string
    shape.get(u"Record").call(u"addField", {lane.object});
    EXPECT_EQ(file.call(u"addShapeObject", {shape.object}).toInt16(), -1);
  }

  // The driver's paths are by-reference arguments and come back normalised.
  std::vector<Variant> paths{Variant(dir.u16()), Variant(u"roads.SHP")};
  EXPECT_TRUE(invoke(*file.object, u"writeShapefile", kMethod, paths).toBoolean());
  EXPECT_EQ(paths[0].toText(), dir.u16() + u"\\");
  EXPECT_EQ(paths[1].toText(), u"roads");

  Script read = create(u"Shapefile");
  EXPECT_TRUE(read.call(u"READSHAPEFILE", {dir.u16(), u"roads"}).toBoolean());
  EXPECT_EQ(read.call(u"ShapeObjectCount").kind(), Variant::Kind::Integer);
  ASSERT_EQ(read.call(u"ShapeObjectCount").toInt16(), 2);
  EXPECT_EQ(read.call(u"ShapeType").toInt32(), kelPolyLine);
  Script second = read.get(u"getShapeObject", {2.0});
  EXPECT_EQ(second.get(u"getCoord", {u"4"}).call(u"X").toDouble(), 6);
  EXPECT_EQ(second.call(u"getPart", {std::int16_t{2}}).toInt32(), 3);
  EXPECT_EQ(second.get(u"Coordinates").call(u"Count").toInt32(), 5);
  EXPECT_EQ(second.get(u"Coordinates").get(u"Item", {std::int32_t{5}}).call(u"Y").toDouble(), 7);
  EXPECT_EQ(second.get(u"BoundingBox").call(u"xMax").toDouble(), 7);
  Script record = second.get(u"Record");
  // Values come back as the table holds them, padded to the column width.
  EXPECT_EQ(record.get(u"getFieldByName", {u"NAME"}).call(u"value").toText(), u"      Bypass");
  EXPECT_EQ(record.get(u"getFieldByIndex", {std::int16_t{2}}).call(u"value").toText(), u"3");
  Script width = read.get(u"TableDescription").get(u"getTableDescriptorByName", {u"LANES"});
  EXPECT_EQ(width.call(u"width").kind(), Variant::Kind::Byte);
  EXPECT_EQ(width.call(u"width").toInt32(), 1);  // sized by the writer
  EXPECT_EQ(read.get(u"TableDescription").call(u"DescriptorCount").toInt16(), 2);
}

TEST(Dispatch, ArgumentsConvertAsAutomationConvertsThem) {
  Script shape = create(u"ShapeObject");
  for (int i = 0; i < 3; ++i) shape.call(u"addCoord", {create(u"Coordinate").object});
  // 16-bit positions take doubles (rounded half to even) and texts; tests/python has more.
  EXPECT_EQ(errorOf([&] { shape.call(u"getCoord", {u" 3 "}); }), 0);
  EXPECT_EQ(errorOf([&] { shape.call(u"getCoord", {3.5}); }), 9);  // 4: out of range
  EXPECT_EQ(errorOf([&] { shape.call(u"getCoord", {u"twelve"}); }), 13);
  EXPECT_EQ(errorOf([&] { shape.call(u"addCoord", {1.0}); }), 13);
  EXPECT_EQ(errorOf([&] { shape.put(u"Record", create(u"Coordinate").object); }), 13);
  Script column = create(u"TableDescriptor");
  EXPECT_EQ(errorOf([&] { column.put(u"width", std::int32_t{256}); }), 6);
  EXPECT_EQ(errorOf([&] { column.put(u"width", std::int32_t{-1}); }), 6);
  column.put(u"width", u"254");
  EXPECT_EQ(column.call(u"width").toInt32(), 254);
  // Booleans are automation Booleans.
  Script record = create(u"Record");
  Variant refused = record.call(u"removeFieldByIndex", {std::int16_t{1}});
  EXPECT_EQ(refused.kind(), Variant::Kind::Boolean);
  EXPECT_EQ(refused.toInt32(), 0);
  Variant added = record.call(u"addField", {create(u"RecordField").object});
  EXPECT_EQ(added.toInt32(), -1);
  EXPECT_EQ(added.toText(), u"True");
}

TEST(Dispatch, ObjectPropertiesStoreTheCallersObjectThroughPutOrPutref) {
  Script shape = create(u"ShapeObject");
  Script box = create(u"BoundingBox");
  shape.put(u"BoundingBox", box.object, kPropertyPutRef);  // declared put; putref stands in
  box.call(u"setBoundingBox", {1.0, 2.0, 3.0, 4.0});
  EXPECT_EQ(shape.get(u"BoundingBox").call(u"yMax").toDouble(), 4);
  Script list = create(u"ShapeObject").get(u"Coordinates");
  shape.put(u"Coordinates", list.object);  // declared putref; put stands in
  list.call(u"Add", {create(u"Coordinate").object});
  EXPECT_EQ(shape.call(u"CoordinateCount").toInt32(), 1);
  shape.put(u"Record", Variant(nullptr));
  EXPECT_TRUE(shape.call(u"Record").isNothing());
}

TEST(Dispatch, RefusalsAndErrorsComeBackAsAutomationGivesThem) {
  Script shape = create(u"ShapeObject");
  std::vector<Variant> none;
  auto refusal = [&](auto f) {
    try {
      f();
    } catch (const Refusal& r) {
      return r.why();
    }
    return Refused{};
  };
  EXPECT_EQ(refusal([&] { dispatchIdOf(*shape.object, u"addCoordinate"); }), Refused::UnknownName);
  EXPECT_EQ(errorOf([&] { shape.call(u"Colour"); }), 438);
  EXPECT_EQ(refusal([&] { invoke(*shape.object, 0x12345, kMethod, none); }),
            Refused::MemberNotFound);
  EXPECT_EQ(refusal([&] { shape.put(u"CoordinateCount", std::int32_t{3}); }),
            Refused::MemberNotFound);  // read-only
  EXPECT_EQ(refusal([&] { invoke(*shape.object, u"computeExtents", kPropertyGet, none); }),
            Refused::MemberNotFound);
  EXPECT_EQ(refusal([&] { shape.call(u"getCoord"); }), Refused::BadParamCount);
  EXPECT_EQ(errorOf([&] { shape.call(u"getPart", {std::int16_t{1}, std::int16_t{2}}); }), 450);
  EXPECT_EQ(dispatchIdOf(*shape.object, u"coordinatecount"), 0x68030001);
  EXPECT_EQ(errorOf([&] { shape.call(u"getCoord", {std::int16_t{1}}); }), 9);
  EXPECT_EQ(errorOf([] { createObject(u"kelShapeLib.Collection"); }), 429);
  EXPECT_EQ(errorOf([] { createObject(u"Shapefile"); }), 429);
  EXPECT_EQ(createObject(u"KELSHAPELIB.recordfield")->classId(), ClassId::RecordField);
}

}  // namespace
}  // namespace kel::automation

#include "kel/automation/TypeLibrary.h"

#include "kel/automation/MemberBinding.h"
#include "kel/shapefile/Shapefile.h"

namespace kel::automation {

namespace {

using binding::ClassRows;
constexpr MemberKind kPutRef = MemberKind::PropertyPutRef;
constexpr MemberKind kPut = MemberKind::PropertyPut;

constexpr EnumConstant kShapeTypes[] = {
    {u"kelUndefined", kelUndefined, u"kelUndefined"},
    {u"kelPoint", kelPoint, u"kelPoint"},
    {u"kelMultiPoint", kelMultiPoint, u"kelMultiPoint"},
    {u"kelPolyLine", kelPolyLine, u"kelPolyLine"},
    {u"kelPolygon", kelPolygon, u"kelPolygon"},
};

constexpr EnumConstant kFieldTypes[] = {
    {u"kelFieldTypeCharacter", kelFieldTypeCharacter, u"kelFieldTypeCharacter"},
    {u"kelFieldTypeDate", kelFieldTypeDate, u"kelFieldTypeDate"},
    {u"kelFieldTypeLogical", kelFieldTypeLogical, u"kelFieldTypeLogical"},
    {u"kelFieldTypeNumber", kelFieldTypeNumber, u"kelFieldTypeNumber"},
};

// Both enumerations carry the same documentation string in the type library.
constexpr std::u16string_view kEnumDocumentation =
    u"The Shapefile class represents an ESRI shapefile.";

ClassInfo boundingBox() {
  using C = BoundingBox;
  return ClassRows<C>(u"BoundingBox",
                      u"The BoundingBox holds a shapefile's or a shape's minimum and maximum X and "
                      u"Y values.")
      .method<&C::setBoundingBox>(
          u"setBoundingBox", 0x60030004, {u"minX", u"minY", u"maxX", u"maxY"},
          u"Sets the maximum and minimum X and Y values to those specified.")
      .property<&C::get_xMin, &C::put_xMin>(u"xMin", 0x68030003,
                                            u"Returns/Sets the minimum X value.")
      .property<&C::get_yMin, &C::put_yMin>(u"yMin", 0x68030002,
                                            u"Returns/Sets the minimum Y value.")
      .property<&C::get_xMax, &C::put_xMax>(u"xMax", 0x68030001,
                                            u"Returns/Sets the maximum X value.")
      .property<&C::get_yMax, &C::put_yMax>(u"yMax", 0x68030000,
                                            u"Returns/Sets the maximum Y value.")
      .done();
}

ClassInfo coordinate() {
  using C = Coordinate;
  return ClassRows<C>(u"Coordinate", u"A Coordinate holds X and Y values, but no Record.")
      .method<&C::setCoordinate>(u"setCoordinate", 0x60030002, {u"xCoord", u"yCoord"},
                                 u"Sets the x and y coordinates.")
      .property<&C::get_X, &C::put_X>(u"X", 0x68030001, u"Returns/Sets the X value.")
      .property<&C::get_Y, &C::put_Y>(u"Y", 0x68030000, u"Returns/Sets the Y value.")
      .done();
}

ClassInfo shapeObject() {
  using C = ShapeObject;
  return ClassRows<C>(u"ShapeObject",
                      u"A ShapeObject represents a shape record within a Shapefile.")
      .property<&C::get_ShapeType, &C::put_ShapeType>(
          u"ShapeType", 0x68030006,
          u"Returns/Sets the type of shape represented by the ShapeObject.")
      .method<&C::addCoord>(u"addCoord", 0x60030008, {u"coord"},
                            u"Adds the specified Coordinate to the collection of Coordinates.")
      .method<&C::getCoord>(u"getCoord", 0x60030009, {u"index"},
                            u"Returns the Coordinate at the specified index.")
      .property<&C::get_Coordinates, &C::putref_Coordinates>(
          u"Coordinates", 0x68030005, u"Returns/Sets the collection of coordinates.", kPutRef)
      .method<&C::addPart>(u"addPart", 0x6003000a, {u"part"},
                           u"Adds the specified Long to the collection of Parts.  The Long "
                           u"represents the starting index of a new part. 0 is automatically added "
                           u"to the collection.")
      .method<&C::getPart>(u"getPart", 0x6003000b, {u"index"},
                           u"Returns the part 'starting index' at the specified index.")
      .property<&C::get_Parts, &C::putref_Parts>(
          u"Parts", 0x68030004,
          u"Returns/Sets the collection of Parts.  Each part is Long that references the "
          u"'starting index' of each part in the total collection of coordinates.",
          kPutRef)
      .property<&C::get_Record, &C::put_Record>(u"Record", 0x68030003,
                                                u"Returns/Sets the collection of Records.")
      .property<&C::get_BoundingBox, &C::put_BoundingBox>(
          u"BoundingBox", 0x68030002, u"Returns/Sets the BoundingBox for the ShapeObject.")
      .get<&C::get_CoordinateCount>(u"CoordinateCount", 0x68030001,
                                    u"Returns the number of coordinates in the ShapeObject.")
      .get<&C::get_PartCount>(u"PartCount", 0x68030000,
                              u"Returns the number of parts in the ShapeObject.")
      .method<&C::computeExtents>(u"computeExtents", 0x6003000c, {},
                                  u"Computes the extents of the ShapeObject overwriting the "
                                  u"current values for the BoundingBox.")
      .done();
}

ClassInfo record() {
  using C = Record;
  return ClassRows<C>(u"Record",
                      u"Records contain an internal Collection of RecordFields and store the "
                      u"database attributes for a given shape.")
      .method<&C::setField>(u"setField", 0x60030003, {u"name", u"value"},
                            u"Sets the value fo the RecordField with the matching name.")
      .method<&C::addField>(u"addField", 0x60030004, {u"fld"}, u"Adds the specified RecordField.")
      .method<&C::removeFieldByName>(u"removeFieldByName", 0x60030005, {u"name"},
                                     u"Removes the RecordField at the specified name.")
      .method<&C::removeFieldByIndex>(u"removeFieldByIndex", 0x60030006, {u"index"},
                                      u"Removes the RecordField at the specified index.")
      .method<&C::getFieldByName>(u"getFieldByName", 0x60030007, {u"name"},
                                  u"Returns the RecordField with specified name.")
      .method<&C::getFieldByIndex>(u"getFieldByIndex", 0x60030008, {u"index"},
                                   u"Returns the RecordField at the specified index.")
      .get<&C::get_FieldCount>(u"FieldCount", 0x68030001,
                               u"Returns the number of RecordFields in this record.")
      .property<&C::get_Fields, &C::putref_Fields>(
          u"Fields", 0x68030000, u"Returns/Sets the collection of RecordFields.", kPutRef)
      .done();
}

ClassInfo recordField() {
  using C = RecordField;
  return ClassRows<C>(u"RecordField",
                      u"RecordFields populate Records and hold information fields with a name, "
                      u"value pair.")
      .method<&C::setRecordField>(u"setRecordField", 0x60030002,
                                  {u"recName", {u"recValue", Variant(u"")}},
                                  u"Sets the RecordField with the specified name and value.")
      .property<&C::get_name, &C::put_name>(u"name", 0x68030001,
                                            u"Returns/Sets the name of the RecordField.")
      .property<&C::get_value, static_cast<void (C::*)(std::u16string_view)>(&C::put_value)>(
          u"value", 0x68030000, u"Returns/Sets the value of the RecordField.")
      .done();
}

ClassInfo tableDescriptor() {
  using C = TableDescriptor;
  return ClassRows<C>(u"TableDescriptor",
                      u"TableDescriptor's populate a TableDescription and provide information "
                      u"about the field names, types, and widths for a Shapefile's records.")
      .method<&C::setTableDescriptor>(u"setTableDescriptor", 0x60030005,
                                      {u"name",
                                       {u"fieldType", Variant(std::int32_t{kelFieldTypeCharacter})},
                                       {u"width", Variant::byte(0)},
                                       {u"precision", Variant::byte(0)}},
                                      u"Sets the attributes of the TableDescriptor.")
      .property<&C::get_name, &C::put_name>(u"name", 0x68030003,
                                            u"Returns/Sets the name of the TableDescriptor.")
      .property<&C::get_fieldType, &C::put_fieldType>(
          u"fieldType", 0x68030002,
          u"Returns/Sets the Field Type Constant for the TableDescriptor.  ")
      .property<&C::get_width, &C::put_width>(u"width", 0x68030001,
                                              u"Returns/Sets the width of the TableDescriptor.")
      .property<&C::get_precision, &C::put_precision>(
          u"precision", 0x68030000, u"Returns/Sets the precision of the TableDescriptor.")
      .done();
}

ClassInfo tableDescription() {
  using C = TableDescription;
  return ClassRows<C>(u"TableDescription",
                      u"The TableDescription contains an internal collection of TableDescriptors, "
                      u"used to define the field data types in a shapefile.")
      .property<&C::get_TableDescriptors, &C::putref_TableDescriptors>(
          u"TableDescriptors", 0x68030001, u"Returns/Sets the collection of TableDescriptors.",
          kPutRef)
      .method<&C::getTableDescriptorByName>(
          u"getTableDescriptorByName", 0x60030003, {u"name"},
          u"Returns the TableDescription with the specified name.")
      .method<&C::getTableDescriptorByIndex>(
          u"getTableDescriptorByIndex", 0x60030004, {u"index"},
          u"Returns the TableDescription at the specified index.")
      .method<&C::setTableDescriptorType>(
          u"setTableDescriptorType", 0x60030005, {u"name", u"type_"},
          u"Sets the TableDescriptor with the specified name to the specified Field Type Constant")
      .method<&C::addTableDescriptor>(
          u"addTableDescriptor", 0x60030006, {u"td"},
          u"Adds the specified TableDescriptor to the collection of TableDescriptors.")
      .get<&C::get_DescriptorCount>(u"DescriptorCount", 0x68030000,
                                    u"Returns the number of TableDescriptors in the collection.")
      .method<&C::removeTableDescriptorByName>(
          u"removeTableDescriptorByName", 0x60030007, {u"name"},
          u"Removes the TableDescription with the specified name.")
      .method<&C::removeTableDescriptorByIndex>(
          u"removeTableDescriptorByIndex", 0x60030008, {u"index"},
          u"Removes the TableDescription at the specified index.")
      .done();
}

ClassInfo shapefile() {
  using C = Shapefile;
  using Driver = bool (C::*)(std::u16string&, std::u16string&);
  return ClassRows<C>(u"Shapefile", u"The Shapefile class represents an ESRI shapefile.")
      .method<static_cast<Driver>(&C::readShapefile)>(
          u"readShapefile", 0x60030006, {u"basepath", u"filename"},
          u"Reads the parts, points, and records of the specified shapefile into memory.")
      .method<static_cast<Driver>(&C::writeShapefile)>(
          u"writeShapefile", 0x6003000d, {u"basepath", u"filename"},
          u"Attempts to write the shapefile to the specified location.  It will create three "
          u"files (.shp, .shx, & .dbf) and return true/false if the write was successful or not.")
      .get<&C::get_ShapeObjectCount>(u"ShapeObjectCount", 0x68030004,
                                     u"Returns the number of ShapeObjects in the Shapefile.")
      .method<&C::addShapeObject>(u"addShapeObject", 0x60030015, {u"obj"},
                                  u"Add a shape object to the shapefile.")
      .method<&C::getShapeObject>(u"getShapeObject", 0x60030016, {u"index"},
                                  u"Returns the ShapeObject at the specified index.")
      .property<&C::get_ShapeObjects, &C::put_ShapeObjects>(
          u"ShapeObjects", 0x68030003, u"Returns/Sets the collection of ShapeObjects.", kPut,
          u"shpObjs")
      .property<&C::get_ShapeType, &C::put_ShapeType>(
          u"ShapeType", 0x68030002,
          u"Returns/Sets the type of shape the shapefile describes.  Specified as a one of the "
          u"ShapeTypeConstants.",
          kPut, u"iType")
      .property<&C::get_BoundingBox, &C::put_BoundingBox>(
          u"BoundingBox", 0x68030001, u"Returns/Sets the BoundingBox for the Shapefile.", kPut,
          u"bbox")
      .property<&C::get_TableDescription, &C::put_TableDescription>(
          u"TableDescription", 0x68030000, u"Returns/Sets the TableDescription for the record set.",
          kPut, u"td")
      .done();
}

// The runtime's list, as scripts reach it: Item is the default member, so that a list can be
// indexed directly. Its dispatch ids are this library's choice.
ClassInfo collection() {
  using C = Collection;
  return ClassRows<C>(u"Collection", u"An ordered list of items, at positions from 1 to Count.")
      .method<&C::item>(u"Item", 0, {u"index"}, u"Returns the item at the specified position.")
      .method<&C::add>(u"Add", 1, {u"item"}, u"Adds an item at the end of the list.")
      .get<&C::count>(u"Count", 2, u"Returns the number of items in the list.")
      .method<&C::remove>(u"Remove", 3, {u"index"}, u"Removes the item at the specified position.")
      .notCreatable()
      .done();
}

struct Classes {
  ClassInfo all[9] = {boundingBox(),      coordinate(),  shapeObject(),
                      record(),           recordField(), tableDescriptor(),
                      tableDescription(), shapefile(),   collection()};
};

const Classes& classes() {
  static const Classes built;
  return built;
}

}  // namespace

const EnumInfo& shapeTypeConstants() {
  static const EnumInfo info{u"ShapeTypeConstants", kEnumDocumentation, kShapeTypes};
  return info;
}

const EnumInfo& fieldTypeConstants() {
  static const EnumInfo info{u"FieldTypeConstants", kEnumDocumentation, kFieldTypes};
  return info;
}

const TypeLibrary& typeLibrary() {
  static const TypeLibrary library = [] {
    TypeLibrary l{u"kelShapeLib", {}, {&shapeTypeConstants(), &fieldTypeConstants()}};
    for (const ClassInfo& c : classes().all) {
      if (c.id != ClassId::Collection) l.classes.push_back(&c);
    }
    return l;
  }();
  return library;
}

const ClassInfo& classInfo(ClassId id) {
  for (const ClassInfo& c : classes().all) {
    if (c.id == id) return c;
  }
  raise(ErrorNumber::ObjectDoesntSupportMember);
}

}  // namespace kel::automation

// The type library against the interface contract: every class's members in slot order, with
// their kinds, dispatch ids and help strings word for word, and the two enumerations.

#include "kel/automation/TypeLibrary.h"

#include <gtest/gtest.h>

#include "kel/automation/TypeLibraryListing.h"
#include "kel/runtime/Text.h"

namespace kel::automation {
namespace {

// kinds: m method, g get, p put, r putref; a property's halves are one row ("gp"), in slot order.
struct Row {
  const char16_t* member;
  const char* kinds;
  std::int32_t id;
  const char16_t* help;
};

struct Contract {
  const char16_t* cls;
  const char16_t* documentation;
  std::vector<Row> rows;
};

const Contract kContract[] = {
    {u"BoundingBox",
     u"The BoundingBox holds a shapefile's or a shape's minimum and maximum X and Y values.",
     {{u"setBoundingBox", "m", 0x60030004,
       u"Sets the maximum and minimum X and Y values to those specified."},
      {u"xMin", "gp", 0x68030003, u"Returns/Sets the minimum X value."},
      {u"yMin", "gp", 0x68030002, u"Returns/Sets the minimum Y value."},
      {u"xMax", "gp", 0x68030001, u"Returns/Sets the maximum X value."},
      {u"yMax", "gp", 0x68030000, u"Returns/Sets the maximum Y value."}}},
    {u"Coordinate",
     u"A Coordinate holds X and Y values, but no Record.",
     {{u"setCoordinate", "m", 0x60030002, u"Sets the x and y coordinates."},
      {u"X", "gp", 0x68030001, u"Returns/Sets the X value."},
      {u"Y", "gp", 0x68030000, u"Returns/Sets the Y value."}}},
    {u"ShapeObject",
     u"A ShapeObject represents a shape record within a Shapefile.",
     {{u"ShapeType", "gp", 0x68030006,
       u"Returns/Sets the type of shape represented by the ShapeObject."},
      {u"addCoord", "m", 0x60030008,
       u"Adds the specified Coordinate to the collection of Coordinates."},
      {u"getCoord", "m", 0x60030009, u"Returns the Coordinate at the specified index."},
      {u"Coordinates", "gr", 0x68030005, u"Returns/Sets the collection of coordinates."},
      {u"addPart", "m", 0x6003000a,
       u"Adds the specified Long to the collection of Parts.  The Long represents the starting "
       u"index of a new part. 0 is automatically added to the collection."},
      {u"getPart", "m", 0x6003000b, u"Returns the part 'starting index' at the specified index."},
      {u"Parts", "gr", 0x68030004,
       u"Returns/Sets the collection of Parts.  Each part is Long that references the 'starting "
       u"index' of each part in the total collection of coordinates."},
      {u"Record", "gp", 0x68030003, u"Returns/Sets the collection of Records."},
      {u"BoundingBox", "gp", 0x68030002, u"Returns/Sets the BoundingBox for the ShapeObject."},
      {u"CoordinateCount", "g", 0x68030001,
       u"Returns the number of coordinates in the ShapeObject."},
      {u"PartCount", "g", 0x68030000, u"Returns the number of parts in the ShapeObject."},
      {u"computeExtents", "m", 0x6003000c,
       u"Computes the extents of the ShapeObject overwriting the current values for the "
       u"BoundingBox."}}},
    {u"Record",
     u"Records contain an internal Collection of RecordFields and store the database attributes "
     u"for a given shape.",
     {{u"setField", "m", 0x60030003, u"Sets the value fo the RecordField with the matching name."},
      {u"addField", "m", 0x60030004, u"Adds the specified RecordField."},
      {u"removeFieldByName", "m", 0x60030005, u"Removes the RecordField at the specified name."},
      {u"removeFieldByIndex", "m", 0x60030006, u"Removes the RecordField at the specified index."},
      {u"getFieldByName", "m", 0x60030007, u"Returns the RecordField with specified name."},
      {u"getFieldByIndex", "m", 0x60030008, u"Returns the RecordField at the specified index."},
      {u"FieldCount", "g", 0x68030001, u"Returns the number of RecordFields in this record."},
      {u"Fields", "gr", 0x68030000, u"Returns/Sets the collection of RecordFields."}}},
    {u"RecordField",
     u"RecordFields populate Records and hold information fields with a name, value pair.",
     {{u"setRecordField", "m", 0x60030002,
       u"Sets the RecordField with the specified name and value."},
      {u"name", "gp", 0x68030001, u"Returns/Sets the name of the RecordField."},
      {u"value", "gp", 0x68030000, u"Returns/Sets the value of the RecordField."}}},
    {u"TableDescriptor",
     u"TableDescriptor's populate a TableDescription and provide information about the field "
     u"names, types, and widths for a Shapefile's records.",
     {{u"setTableDescriptor", "m", 0x60030005, u"Sets the attributes of the TableDescriptor."},
      {u"name", "gp", 0x68030003, u"Returns/Sets the name of the TableDescriptor."},
      {u"fieldType", "gp", 0x68030002,
       u"Returns/Sets the Field Type Constant for the TableDescriptor.  "},
      {u"width", "gp", 0x68030001, u"Returns/Sets the width of the TableDescriptor."},
      {u"precision", "gp", 0x68030000, u"Returns/Sets the precision of the TableDescriptor."}}},
    {u"TableDescription",
     u"The TableDescription contains an internal collection of TableDescriptors, used to define "
     u"the field data types in a shapefile.",
     {{u"TableDescriptors", "gr", 0x68030001, u"Returns/Sets the collection of TableDescriptors."},
      {u"getTableDescriptorByName", "m", 0x60030003,
       u"Returns the TableDescription with the specified name."},
      {u"getTableDescriptorByIndex", "m", 0x60030004,
       u"Returns the TableDescription at the specified index."},
      {u"setTableDescriptorType", "m", 0x60030005,
       u"Sets the TableDescriptor with the specified name to the specified Field Type Constant"},
      {u"addTableDescriptor", "m", 0x60030006,
       u"Adds the specified TableDescriptor to the collection of TableDescriptors."},
      {u"DescriptorCount", "g", 0x68030000,
       u"Returns the number of TableDescriptors in the collection."},
      {u"removeTableDescriptorByName", "m", 0x60030007,
       u"Removes the TableDescription with the specified name."},
      {u"removeTableDescriptorByIndex", "m", 0x60030008,
       u"Removes the TableDescription at the specified index."}}},
    {u"Shapefile",
     u"The Shapefile class represents an ESRI shapefile.",
     {{u"readShapefile", "m", 0x60030006,
       u"Reads the parts, points, and records of the specified shapefile into memory."},
      {u"writeShapefile", "m", 0x6003000d,
       u"Attempts to write the shapefile to the specified location.  It will create three files "
       u"(.shp, .shx, & .dbf) and return true/false if the write was successful or not."},
      {u"ShapeObjectCount", "g", 0x68030004,
       u"Returns the number of ShapeObjects in the Shapefile."},
      {u"addShapeObject", "m", 0x60030015, u"Add a shape object to the shapefile."},
      {u"getShapeObject", "m", 0x60030016, u"Returns the ShapeObject at the specified index."},
      {u"ShapeObjects", "gp", 0x68030003, u"Returns/Sets the collection of ShapeObjects."},
      {u"ShapeType", "gp", 0x68030002,
       u"Returns/Sets the type of shape the shapefile describes.  Specified as a one of the "
       u"ShapeTypeConstants."},
      {u"BoundingBox", "gp", 0x68030001, u"Returns/Sets the BoundingBox for the Shapefile."},
      {u"TableDescription", "gp", 0x68030000,
       u"Returns/Sets the TableDescription for the record set."}}},
};

TEST(TypeLibrary, EveryClassMatchesItsInterfaceContract) {
  const TypeLibrary& library = typeLibrary();
  EXPECT_EQ(library.name, u"kelShapeLib");
  ASSERT_EQ(library.classes.size(), std::size(kContract));
  // Each member as a slot: its name, kind letter, dispatch id and help string.
  using Slot = std::tuple<std::string, char, std::int32_t, std::string>;
  for (std::size_t c = 0; c < std::size(kContract); ++c) {
    const ClassInfo& info = *library.classes[c];
    const Contract& expected = kContract[c];
    SCOPED_TRACE(toUtf8(expected.cls));
    EXPECT_EQ(info.name, expected.cls);
    EXPECT_EQ(info.interfaceName, u"_" + std::u16string(expected.cls));
    EXPECT_EQ(info.documentation, expected.documentation);
    std::vector<Slot> slots, wanted;
    for (const Member& m : info.members) {
      slots.emplace_back(toUtf8(m.name), "mgpr"[static_cast<int>(m.kind)], m.dispatchId,
                         toUtf8(m.help));
    }
    for (const Row& r : expected.rows) {
      for (const char* k = r.kinds; *k; ++k)
        wanted.emplace_back(toUtf8(r.member), *k, r.id, toUtf8(r.help));
    }
    EXPECT_EQ(slots, wanted);
  }
}

TEST(TypeLibrary, EnumerationsAndListing) {
  const TypeLibrary& library = typeLibrary();
  ASSERT_EQ(library.enumerations.size(), 2u);
  std::u16string listed;
  for (const EnumInfo* e : library.enumerations) {
    EXPECT_EQ(e->documentation, u"The Shapefile class represents an ESRI shapefile.");
    for (const EnumConstant& c : e->constants) {
      EXPECT_EQ(c.help, c.name);
      listed += std::u16string(c.name) + u"=" + toUtf16(std::to_string(c.value)) + u" ";
    }
  }
  EXPECT_EQ(listed,
            u"kelUndefined=0 kelPoint=1 kelMultiPoint=8 kelPolyLine=3 kelPolygon=5 "
            u"kelFieldTypeCharacter=67 kelFieldTypeDate=68 kelFieldTypeLogical=76 "
            u"kelFieldTypeNumber=78 ");

  // Parameter and result types come from the typed members themselves.
  std::string text = toUtf8(typeLibraryListing());
  for (const char* line :
       {"HRESULT readShapefile([in, out] BSTR* basepath, [in, out] BSTR* filename, [out, retval] "
        "VARIANT_BOOL* result);",
        "HRESULT setTableDescriptor([in, out] BSTR* name, [in, out, optional, defaultvalue(67)] "
        "FieldTypeConstants* fieldType, [in, out, optional, defaultvalue(0)] unsigned char* "
        "width, [in, out, optional, defaultvalue(0)] unsigned char* precision, [out, retval] "
        "VARIANT* result);",
        "[id(0x68030005), propputref, helpstring(\"Returns/Sets the collection of coordinates.\")]",
        "HRESULT getCoord([in, out] short* index, [out, retval] _Coordinate** result);",
        "HRESULT ShapeObjects([in] _Collection* shpObjs);",
        "coclass Shapefile { [default] interface _Shapefile; };"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace kel::automation

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Output.h"
#include "Tool.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/ShapefileAtPath.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp demo [DIR]\n"
    "\n"
    "Writes two sample shapefiles into DIR (default: a new folder kelshp-demo-XXXXXX in\n"
    "the current directory): roads, a PolyLine file with Character, Number, Date and\n"
    "Logical columns, and places, a Point file. Then reads them back through the\n"
    "library and prints what it read.\n";

using namespace kel;

struct Road {
  const char16_t* name;
  const char16_t* lanes;
  const char16_t* opened;
  const char16_t* toll;
  std::vector<std::vector<std::pair<double, double>>> parts;
};

struct Place {
  const char16_t* name;
  const char16_t* population;
  double x, y;
};

// A small town on the Danube, made up for the purpose.
const Road kRoads[] = {
    {u"Hauptstraße",
     u"4",
     u"19580612",
     u"F",
     {{{16.3655, 48.2012}, {16.3702, 48.2031}, {16.3771, 48.2049}}}},
    {u"Uferweg",
     u"2",
     u"19970301",
     u"F",
     {{{16.3610, 48.1987}, {16.3668, 48.1979}}, {{16.3690, 48.1975}, {16.3752, 48.1969}}}},
    {u"Brückenallee",
     u"6",
     u"20110930",
     u"T",
     {{{16.3702, 48.2031}, {16.3716, 48.1994}, {16.3729, 48.1958}}}},
};

const Place kPlaces[] = {
    {u"Rathaus", u"0", 16.3702, 48.2031},
    {u"Bahnhof Süd", u"1200", 16.3729, 48.1958},
    {u"Café am Fluss", u"35", 16.3668, 48.1979},
};

Ref<RecordField> field(const char16_t* name, const char16_t* value) {
  auto f = makeRef<RecordField>();
  f->setRecordField(name, value);
  return f;
}

Ref<TableDescriptor> column(const char16_t* name, FieldTypeConstants type, std::uint8_t width,
                            std::uint8_t precision = 0) {
  auto c = makeRef<TableDescriptor>();
  c->setTableDescriptor(name, type, width, precision);
  return c;
}

Ref<Shapefile> roads() {
  auto file = makeRef<Shapefile>();
  file->put_ShapeType(kelPolyLine);
  TableDescription& table = *file->get_TableDescription();
  table.addTableDescriptor(column(u"NAME", kelFieldTypeCharacter, 24));
  table.addTableDescriptor(column(u"LANES", kelFieldTypeNumber, 2));
  table.addTableDescriptor(column(u"OPENED", kelFieldTypeDate, 8));
  table.addTableDescriptor(column(u"TOLL", kelFieldTypeLogical, 1));
  for (const Road& road : kRoads) {
    auto shape = makeRef<ShapeObject>();
    shape->put_ShapeType(kelPolyLine);
    for (const auto& part : road.parts) {
      shape->addPart(shape->get_CoordinateCount());
      for (auto [x, y] : part) {
        auto c = makeRef<Coordinate>();
        c->setCoordinate(x, y);
        shape->addCoord(c);
      }
    }
    Record& record = *shape->get_Record();
    record.addField(field(u"NAME", road.name));
    record.addField(field(u"LANES", road.lanes));
    record.addField(field(u"OPENED", road.opened));
    record.addField(field(u"TOLL", road.toll));
    file->addShapeObject(shape);
  }
  return file;
}

Ref<Shapefile> places() {
  auto file = makeRef<Shapefile>();
  file->put_ShapeType(kelPoint);
  TableDescription& table = *file->get_TableDescription();
  table.addTableDescriptor(column(u"NAME", kelFieldTypeCharacter, 0));  // sized by the writer
  table.addTableDescriptor(column(u"POP", kelFieldTypeNumber, 8));
  for (const Place& place : kPlaces) {
    auto shape = makeRef<ShapeObject>();
    shape->put_ShapeType(kelPoint);
    auto c = makeRef<Coordinate>();
    c->setCoordinate(place.x, place.y);
    shape->addCoord(c);
    shape->get_Record()->addField(field(u"NAME", place.name));
    shape->get_Record()->addField(field(u"POP", place.population));
    file->addShapeObject(shape);
  }
  return file;
}

void print(const Shapefile& file) {
  for (std::int16_t i = 1; i <= file.get_ShapeObjectCount(); ++i) {
    Ref<ShapeObject> kept = file.getShapeObject(i);
    const ShapeObject& shape = deref(kept);
    std::int32_t vertices = shape.get_CoordinateCount();
    std::int32_t parts = shape.get_PartCount();
    std::printf("  #%d %s, %d %s in %d %s:", i, shapeTypeName(shape.get_ShapeType()).c_str(),
                vertices, vertices == 1 ? "vertex" : "vertices", parts,
                parts == 1 ? "part" : "parts");
    for (std::int16_t c = 1; c <= shape.get_CoordinateCount(); ++c) {
      Ref<Coordinate> held = shape.getCoord(c);
      const Coordinate& vertex = deref(held);
      std::printf(" (%g %g)", vertex.get_X(), vertex.get_Y());
    }
    std::printf("\n");
    Ref<Record> record = shape.get_Record();
    for (std::int16_t f = 1; f <= deref(record).get_FieldCount(); ++f) {
      Ref<RecordField> held = record->getFieldByIndex(f);
      const RecordField& value = deref(held);
      std::printf("      %-8s \"%s\"\n", visible(toUtf8(value.get_name())).c_str(),
                  visible(toUtf8(value.get_value())).c_str());
    }
  }
}

}  // namespace

int runDemo(const Args& args) {
  Arguments a = parseArguments(args, {}, 0, 1, "at most a DIR");
  if (a.help) return std::fputs(kUsage, stdout), 0;
  std::string directory;
  if (a.operands.empty()) {
    std::string pattern = "kelshp-demo-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      return fail("cannot create a folder in " + std::filesystem::current_path().string());
    directory = pattern;
  } else {
    directory = a.operands[0];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return fail(directory + ": " + error.message());
  }
  directory = std::filesystem::absolute(directory).string();

  struct Sample {
    const char* name;
    Ref<Shapefile> file;
  } samples[] = {{"roads", roads()}, {"places", places()}};
  for (Sample& sample : samples) {
    try {
      // All three files or none: a sample left from an earlier run stays whole when this fails.
      replaceShapefile(*sample.file, directory + "/" + sample.name);
    } catch (const Error& e) {
      return fail(toUtf8(e.description()));
    }
  }
  std::printf("Wrote roads and places into %s\n", visible(directory).c_str());
  for (Sample& sample : samples) {
    std::printf("\n");
    std::string path = directory + "/" + sample.name;
    // The object model writes its text in Windows-1252 and declares no code page: said here, the
    // engine need not guess it.
    if (int status = runInfo({"--encoding", "CP1252", path}); status != 0) return status;
    Ref<Shapefile> read = load(ShapefilePath::parse(path));
    if (!read) return 1;
    print(*read);
  }
  return 0;
}

}  // namespace kelshp

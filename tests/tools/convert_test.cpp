// kelshp convert both ways: GeoJSON into shapefiles that come back as the same GeoJSON, through
// kelshp and through GDAL, and a shapefile into dump's GeoJSON; refusals that name the feature
// and leave the old files as they were.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/GdalReading.h"
#include "support/PeerTools.h"

using namespace kel::testing;

namespace {

const std::string kelshp = quote(KELSHP_PATH) + " ";
const std::string compare =
    "/usr/bin/python3 " + quote(kSourceDir + "/tests/tools/convert_compare.py") + " ";

std::string collection(const std::vector<std::string>& features) {
  std::string out = R"({"type":"FeatureCollection","features":[)";
  for (const std::string& f : features) out += (out.back() == '[' ? "" : ",") + f;
  return out + "]}";
}

std::string feature(const std::string& properties, const std::string& geometry) {
  return R"({"type":"Feature","properties":)" + properties + R"(,"geometry":)" + geometry + "}";
}

// Every kind, Z where positions have a third value, a polygon given the RFC 7946 way round (which
// the shapefile turns) and one given the shapefile's way, a hole, typed values: integers, floats
// whose fewest decimals do not read back (2^-24 at 23), dates, text beyond ASCII, logicals, nulls.
const std::string kEveryKind = collection({
    feature(R"({"N":1,"F":5.960464477539063e-08,"D":"2024-02-29","T":"Zoë","L":true,"E":null})",
            R"({"type":"Point","coordinates":[1.5,-2.25,7]})"),
    feature(R"({"N":-17,"F":0.1,"D":"1900-01-01","T":"a   b","L":false})",
            R"({"type":"Point","coordinates":[0.30000000000000004,1e-300,-0.5]})"),
    feature(R"({"N":123456789012345678,"F":-1e15})",
            R"({"type":"MultiPoint","coordinates":[[1,2],[3,4]]})"),
    feature(R"({"F":3})", R"({"type":"LineString","coordinates":[[0,0,1],[1,1,2],[2,0,3]]})"),
    feature(R"({})",
            R"({"type":"MultiLineString","coordinates":[[[0,5,0],[1,6,0]],[[3,5,1],[4,6,1e9]]]})"),
    feature(R"({"N":2})", "null"),
    feature(R"(null)", R"({"type":"Polygon","coordinates":[[[0,0],[10,0],[10,10],[0,10],[0,0]],
        [[2,2],[2,4],[4,4],[4,2],[2,2]]]})"),
    feature(R"({"T":"x"})", R"({"type":"MultiPolygon","coordinates":[
        [[[20,0],[20,9],[29,9],[29,0],[20,0]]],[[[30,0],[31,0],[31,1],[30,0]]]]})"),
});

class Convert : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return quote(dir.native(name)); }

  // Reads the layer back through kelshp and GDAL (ogrinfo silent) and holds both against the
  // source, or against its features of one kind.
  void expectReadBack(const std::string& source, const std::string& layer,
                      const std::string& kind = "") {
    SCOPED_TRACE(layer);
    run(kelshp + "convert " + path(layer + ".shp") + " " + path(layer + ".back.geojson"));
    Outcome ogrinfo = execute("ogrinfo -al -q " + path(layer + ".shp"));
    EXPECT_EQ(std::pair(ogrinfo.status, ogrinfo.err), std::pair(0, std::string()));
    for (std::string back : {layer + ".back.geojson", layer + ".shp"})
      run(compare + path(source) + " " + path(back) + " " + kind);
  }

  TempDir dir;
};

TEST_F(Convert, SampleLayersComeBackAsTheGeoJsonGdalMadeOfThem) {
  run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
  int layers = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(KEL_SAMPLE_CACHE)) {
    if (entry.path().extension() != ".shp") continue;
    std::string name = entry.path().stem().string();
    run("ogr2ogr -f GeoJSON " + path(name + ".geojson") + " " + quote(entry.path().string()));
    execute(kelshp + "convert " + path(name + ".geojson") + " " + path(name));  // crs warnings
    expectReadBack(name + ".geojson", name);
    ++layers;
  }
  EXPECT_EQ(layers, 18);
}

TEST_F(Convert, SplitTypesWritesALayerForEachKind) {
  dir.write("every.json", kEveryKind);
  Outcome mixed = execute(kelshp + "convert " + path("every.json") + " " + path("every.shp"));
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.err, "kelshp: " + dir.native("every.json") +
                           ": the features mix shape types: 2 Point, 1 MultiPoint, 2 LineString "
                           "or MultiLineString, 2 Polygon or MultiPolygon (and 1 without "
                           "geometry); a layer holds one (--split-types writes one layer for "
                           "each)\n");
  run(kelshp + "convert --split-types " + path("every.json") + " " + path("every.shp"));
  std::pair<std::string, std::string> layers[] = {{"point", "PointZ (11)"},
                                                  {"multipoint", "MultiPoint (8)"},
                                                  {"line", "PolyLineZ (13)"},
                                                  {"polygon", "Polygon (5)"},
                                                  {"null", "Null (0)"}};
  for (auto& [kind, type] : layers) {
    std::string info = run(kelshp + "info " + path("every_" + kind));
    EXPECT_NE(info.find("shape type  " + type + "\n"), std::string::npos) << info;
    expectReadBack("every.json", "every_" + kind, kind);
  }
  // A collection of no features is an empty Null layer.
  dir.write("none.json", collection({}));
  run(kelshp + "convert " + path("none.json") + " " + path("none"));
  EXPECT_NE(run(kelshp + "info " + path("none")).find("Null (0)\n  records     0\n"),
            std::string::npos);
  // Columns as the values want them: integers of 18 characters read back as integers; floats with
  // the decimals that read each back (24 for 2^-24) and room for -1e15; dates; text as wide as
  // its UTF-8; a column of nulls.
  std::string info = run(kelshp + "info " + path("every_point"));
  EXPECT_NE(info.find("    N            Number     width 18  precision 0\n"
                      "    F            Number     width 42  precision 24\n"
                      "    D            Date       width 8   precision 0\n"
                      "    T            Character  width 5   precision 0\n"
                      "    L            Logical    width 1   precision 0\n"
                      "    E            Character  width 1   precision 0\n"),
            std::string::npos)
      << info;
}

TEST_F(Convert, LongAndClashingNamesAreCutAsGdalCutsThem) {
  std::string names = R"({"population_2020":1,"POPULATION_2021":2,"populatio":3,"ÿÿÿÿÿÿ":4})";
  dir.write("names.json", collection({feature(names, "null")}));
  Outcome r = execute(kelshp + "convert " + path("names.json") + " " + path("names"));
  EXPECT_EQ(r.status, 0);
  std::string in = "kelshp: " + dir.native("names.json") + ": property ";
  EXPECT_EQ(r.err, in + "\"population_2020\" is written as column \"population\"\n" + in +
                       "\"POPULATION_2021\" is written as column \"POPULATI_1\"\n" + in +
                       "\"ÿÿÿÿÿÿ\" is written as column \"ÿÿÿÿÿ\"\n");
  EXPECT_NE(run(kelshp + "dump " + path("names"))
                .find(R"({"population":1,"POPULATI_1":2,"populatio":3,"ÿÿÿÿÿ":4})"),
            std::string::npos);
}

// Each refusal is one line that names the feature (counted from 1) and what is wrong, before or
// after the layer's files were begun; the old layer stays byte for byte and nothing is left over.
TEST_F(Convert, RefusalsNameTheFeatureAndLeaveTheOldLayer) {
  auto point = [](const std::string& properties) {
    return feature(properties, R"({"type":"Point","coordinates":[1,2]})");
  };
  std::string wide(300, 'x');
  std::tuple<std::string, std::string, std::string> cases[] = {
      {"", collection({point("{}"), feature("{}", R"({"type":"LineString","coordinates":[]})")}),
       "the features mix shape types: 1 Point, 1 LineString or MultiLineString;"},
      {"", collection({point(R"({"a":"x"})"), point(R"({"a":")" + wide + "\"}")}),
       "feature 2: property \"a\": the text takes 300 bytes; a column holds 254"},
      {"", collection({point(R"({"a":1234567890123456789})")}),
       "feature 1: property \"a\": the integer 1234567890123456789 takes 19 characters"},
      {"", collection({point(R"({"a":0.5})"), point(R"({"a":-123456789012345678901234567890})")}),
       "feature 2: property \"a\": the integer -123456789012345678901234567890 takes 31 "
       "characters; a Number column reads back integers of at most 18 (--wide-integers-as-text"},
      {"", collection({point(R"({"a":1e300})")}),
       "feature 1: property \"a\": the number 1e+300 takes 303 characters"},
      {"", collection({point(R"({"a":1})"), point(R"({"a":true})")}),
       "feature 2: property \"a\": it is a logical value here and a number in feature 1"},
      {"", collection({point(R"({"a":{}})")}), "feature 1: property \"a\": an object cannot"},
      {"", collection({feature("{}", R"({"type":"Point","coordinates":[[[[[0]]]]]})")}),
       "feature 1: its coordinates nest deeper than any geometry's"},
      {"", collection({point("{}"), R"({"type":"Feature",,})"}),
       "feature 2: cannot read the JSON: parse error at line 1, column "},
      {"", R"({"type":"Feature","properties":{},"geometry":null})",
       R"(this is no GeoJSON FeatureCollection: its type is "Feature")"},
      {"", collection({feature("{}", R"({"type":"MultiPoint","coordinates":[[0,"1"]]})")}),
       "feature 1: its MultiPoint's coordinates: position 1: it holds text: a position is 2 or 3 "
       "numbers"},
      {"", collection({feature("{}", R"({"type":"GeometryCollection","geometries":[]})")}),
       "feature 1: a GeometryCollection has no shape type in a shapefile"},
      // Refused by the writer, after the new files were begun.
      {"", collection({point(R"({"a":"x"})"), point(R"({"a":"y\u0000"})")}),
       "feature 2: property \"a\": column 'a' (1 of 1): the text 'y\\\\x00' holds a NUL"},
  };
  dir.write("old.json", collection({point(R"({"KEPT":1})")}));
  run(kelshp + "convert " + path("old.json") + " " + path("out.shp"));
  std::vector<File> old;
  for (std::string ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"})
    old.push_back(dir.read("out" + ext));
  auto files = [&] { return std::distance(std::filesystem::directory_iterator(dir.str()), {}); };
  auto before = files() + 1;  // and in.json
  for (auto& [option, json, message] : cases) {
    SCOPED_TRACE(message);
    dir.write("in.json", json);
    Outcome r =
        execute(kelshp + "convert " + option + " " + path("in.json") + " " + path("out.shp"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("kelshp: " + dir.native("in.json") + ": " + message, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    std::size_t i = 0;
    for (std::string ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"})
      EXPECT_EQ(dir.read("out" + ext), old[i++]);
    EXPECT_EQ(files(), before);
  }
  // With --cut, text is cut after its last whole character within 254 bytes.
  dir.write("in.json", collection({point(R"({"a":")" + std::string(253, 'x') + "é\"}")}));
  run(kelshp + "convert --cut " + path("in.json") + " " + path("cut.shp"));
  EXPECT_NE(run(kelshp + "dump " + path("cut")).find('"' + std::string(253, 'x') + '"'),
            std::string::npos);
}

// JSON that does not read, built byte by byte: where the parse stopped and what it expected.
// What does read: escapes and surrogate pairs decoded, integers as wide as 64 bits kept whole,
// after a byte order mark.
TEST_F(Convert, JsonIsReadToTheLetterOrRefusedSayingWhere) {
  const std::pair<std::string, std::string> bad[] = {
      {"{\"type\":\"FeatureCollection\",\n\"features\":[}",
       "feature 1: cannot read the JSON: parse error at line 2, column 13 (byte 41): '}'; "
       "expected a value"},
      {"", "column 1 (byte 0): the end of the input; expected a value"},
      {R"(["\udc00"])", "(byte 2): a low surrogate (U+DC00 to U+DFFF) with no high one before it"},
      {R"(["\ud800\u0041"])",
       "(byte 2): a high surrogate (U+D800 to U+DBFF) with no low one after it"},
      {"[\"\xff\"]", "(byte 2): a byte that begins no UTF-8 character"},
      {"[\"\xc0\xaf\"]", "(byte 2): a byte that begins no UTF-8 character"},
      {"[\"\xed\xa0\x80\"]", "(byte 2): ill-formed UTF-8"},
      {"[\"\xf4\x90\x80\x80\"]", "(byte 2): ill-formed UTF-8"},
      {"[\"a\x01\"]", "(byte 3): byte 0x01; expected a string's end or text"},
      {R"(["\x"])", "(byte 3): 'x'; expected an escape"},
      {R"(["\u12G4"])", "(byte 6): 'G'; expected a hexadecimal digit"},
      {R"(["abc)", "(byte 1): a string that does not end"},
      {"[01]", "(byte 2): '1'; expected ',' or ']'"},
      {"[1.]", "(byte 3): ']'; expected a digit"},
      {"[-]", "(byte 2): ']'; expected a digit"},
      {"[1e400]", "(byte 1): the number 1e400, beyond a double's range"},
      {"[tru]", "(byte 4): ']'; expected the word true"},
      {R"({"a" 1})", "(byte 5): '1'; expected ':'"},
      {R"({"a":1,})", "(byte 7): '}'; expected a member's name"},
      {"[1,]", "(byte 3): ']'; expected a value"},
      {"[] x", "(byte 3): 'x'; expected the end of the input"},
      {std::string(10001, '['), "(byte 10000): arrays and objects nest deeper than 10,000"},
  };
  for (const auto& [json, message] : bad) {
    dir.write("bad.json", json);
    Outcome r = execute(kelshp + "convert " + path("bad.json") + " " + path("bad.shp"));
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  dir.write("good.json",
            "\xef\xbb\xbf" +
                collection({feature(R"({"T":"\u00e9\ud83d\ude00\t\"\\\/","I":-9223372036854775808,)"
                                    R"("U":18446744073709551615,"W":18446744073709551616})",
                                    "null")}));
  run(kelshp + "convert --wide-integers-as-text " + path("good.json") + " " + path("good"));
  EXPECT_NE(
      run(kelshp + "dump " + path("good"))
          .find(
              "{\"T\":\"\xc3\xa9\xf0\x9f\x98\x80\\u0009\\\"\\\\/\",\"I\":\"-9223372036854775808\","
              "\"U\":\"18446744073709551615\",\"W\":\"18446744073709551616\"}"),
      std::string::npos)
      << run(kelshp + "dump " + path("good"));
}

TEST_F(Convert, AShapefileBecomesDumpsGeoJsonWrittenWholeOrNotAtAll) {
  dir.write("every.json", kEveryKind);
  run(kelshp + "convert --split-types " + path("every.json") + " " + path("every"));
  std::string dump = run(kelshp + "dump " + path("every_polygon"));
  run(kelshp + "convert " + path("every_polygon.shp") + " " + path("out.JSON"));
  File file = dir.read("out.JSON");
  EXPECT_EQ(std::string(file.begin(), file.end()), dump);
  EXPECT_EQ(run(kelshp + "convert " + path("every_polygon") + " -"), dump);
  // A write that fails (here: at the file size limit, which standard error, a pipe, escapes)
  // leaves the old file and no temporary one.
  dir.write("out.geojson", "old");
  Outcome full = execute("ulimit -f 0; " + kelshp + "convert " +
                         path("every_polygon.shp") + " " + path("out.geojson") + " 2>&1");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.out.find("out.geojson"), std::string::npos) << full.out;
  EXPECT_EQ(dir.read("out.geojson"), File({'o', 'l', 'd'}));
  for (const auto& entry : std::filesystem::directory_iterator(dir.str()))
    EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
}

// Memory holds one feature at a time: a collection of 100,000 features takes no more than one of a
// feature, a feature of a million of the tersest positions ("[0,0]", 6 bytes each) a small
// multiple of its text, and a property name of N bytes a few N (the JSON parser keeps each token
// twice, as read and as text).
TEST_F(Convert, MemoryHoldsOneFeatureAFewTimesOver) {
  if (kAddressSanitizer) GTEST_SKIP() << "memory is measured without AddressSanitizer";
  auto peak = [&](const std::string& name, const std::string& json) {
    dir.write(name + ".json", json);
    return peakKiB(kelshp + "convert " + path(name + ".json") + " " + path(name + ".shp"));
  };
  long one = peak("one", collection({feature(R"({"a":1})", "null")}));
  std::vector<std::string> features(
      100000, feature(R"({"a":1,"b":"text","c":0.5})", R"({"type":"Point","coordinates":[1,2]})"));
  long many = peak("many", collection(features));
  std::string positions = "[0,0]";
  for (int i = 1; i < 1000000; ++i) positions += ",[0,0]";
  long large = peak(
      "large",
      collection({feature("{}", R"({"type":"MultiPoint","coordinates":[)" + positions + "]}")}));
  // A long name or text is held once as read, and once more by the columns' survey (which
  // refuses the text, after it was read whole).
  const long n = 8 << 20;
  long named =
      peak("named", collection({feature(R"({")" + std::string(n, 'n') + R"(":1})", "null")}));
  long text =
      peak("text", collection({feature(R"({"a":")" + std::string(n, 't') + "\"}", "null")}));
  EXPECT_LT(many - one, 2 * 1024);
  EXPECT_LT(large - one, 16 * static_cast<long>(positions.size()) / 1024);
  EXPECT_LT(named - one, 5 * n / 2 / 1024);
  EXPECT_LT(text - one, 5 * n / 2 / 1024);
}

TEST_F(Convert, UsageErrorsSayWhichWaysThereAre) {
  dir.write("in.json", collection({}));
  for (std::string arguments :
       {"in.json out.txt", "in.json -", "in.txt out.shp", "in.shp out.shp", "--cut in.shp out.json",
        "--frobnicate in.json out.shp", "in.json"}) {
    Outcome r = execute("cd " + quote(dir.str()) + " && " + kelshp + "convert " + arguments);
    EXPECT_EQ(r.status, 2) << arguments;
    EXPECT_FALSE(r.err.empty()) << arguments;
  }
}

}  // namespace

// --append adds the features after the layer's records, from a file or from standard input, and
// the spatial index that described the old records goes; features of another shape type or other
// properties, or a value the layer's column cannot hold, leave the layer as it was.
TEST_F(Convert, AppendAddsToTheLayerOrLeavesItAsItWas) {
  auto points = [](int from, int n, const std::string& more = "") {
    std::vector<std::string> features;
    for (int i = from; i < from + n; ++i) {
      features.push_back(feature(R"({"id":)" + std::to_string(i) + R"(,"name":"p)" +
                                     std::to_string(i) + "\"" + more + "}",
                                 R"({"type":"Point","coordinates":[)" + std::to_string(i) +
                                     ",0]}"));
    }
    return collection(features);
  };
  dir.write("a.geojson", points(0, 3));
  dir.write("b.geojson", points(3, 2));
  run(kelshp + "convert " + path("a.geojson") + " " + path("f.shp"));
  run(kelshp + "index " + path("f.shp"));
  run(kelshp + "convert --append " + path("b.geojson") + " " + path("f.shp"));
  run("cat " + path("b.geojson") + " | " + kelshp + "convert --append - " + path("f"));
  EXPECT_FALSE(std::filesystem::exists(dir.native("f.qix")));
  std::string ids = run("ogrinfo -ro -q -al " + path("f.shp") + " | grep 'id (Integer)'");
  EXPECT_EQ(ids, "  id (Integer) = 0\n  id (Integer) = 1\n  id (Integer) = 2\n"
                 "  id (Integer) = 3\n  id (Integer) = 4\n  id (Integer) = 3\n"
                 "  id (Integer) = 4\n");

  const File shp = dir.read("f.shp"), dbf = dir.read("f.dbf");
  std::pair<std::string, std::string> refused[] = {
      {collection({feature(R"({"id":9,"name":"x"})",
                           R"({"type":"LineString","coordinates":[[0,0],[1,1]]})")}),
       "the layer holds Point shapes; these are PolyLine"},
      {points(5, 1, R"(,"extra":1)"), "the layer has 2 columns; 3 were given"},
      {points(1000, 1), "feature 1: property \"id\": column 'id' (1 of 2): "},
  };
  for (const auto& [json, why] : refused) {
    SCOPED_TRACE(why);
    dir.write("c.geojson", json);
    Outcome r = execute(kelshp + "convert --append " + path("c.geojson") + " " + path("f.shp"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("f.shp"), shp);
    EXPECT_EQ(dir.read("f.dbf"), dbf);
  }
}

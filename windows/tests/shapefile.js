// Drives kelShapeLib.dll late-bound from JScript: builds a PolyLine shapefile with attributes,
// writes it, reads it back into a new object and checks every value, including text beyond
// ASCII, and checks that failures arrive as automation errors with number, source and
// description. Usage: cscript shapefile.js OUTPUT-DIRECTORY
// The last line is always "N passed, N failed"; a run without it failed.
var passed = 0, failed = 0;

function check(what, ok) {
  if (ok) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL: " + what);
  }
}

function create(name) {
  return new ActiveXObject("kelShapeLib." + name);
}

// The automation error number of what `f` throws, 0 when it throws nothing.
function errorOf(f) {
  try {
    f();
  } catch (e) {
    return e.number & 0xFFFF;
  }
  return 0;
}

function spaces(n) {
  var s = "";
  while (s.length < n) s += " ";
  return s;
}

function line(points, parts, name, lanes) {
  var shape = create("ShapeObject");
  shape.ShapeType = 3;
  for (var i = 0; i < points.length; i += 2) {
    var c = create("Coordinate");
    c.setCoordinate(points[i], points[i + 1]);
    shape.addCoord(c);
  }
  for (var j = 0; j < parts.length; j++) shape.addPart(parts[j]);
  var rec = create("Record");
  var f = create("RecordField");
  f.setRecordField("NAME", name);
  rec.addField(f);
  f = create("RecordField");
  f.setRecordField("LANES", lanes);
  rec.addField(f);
  shape.Record = rec;
  shape.computeExtents();
  return shape;
}

var dir = WScript.Arguments.Item(0);
var points = [[0.5, 1.25, 2, 3, 4.75, -1], [10, 10, 11, 12, 13, 10, 20, 20, 21, 22]];
var names = ["Caf\u00e9 \u20ac", "Stra\u00dfe \u0152"];  // all in Windows-1252

var file = create("Shapefile");
file.ShapeType = 3;
var d = create("TableDescriptor");
d.setTableDescriptor("NAME", 67, 16, 0);
file.TableDescription.addTableDescriptor(d);
d = create("TableDescriptor");
d.setTableDescriptor("LANES", 78, 3);  // precision left to its default
file.TableDescription.addTableDescriptor(d);
check("addShapeObject", file.addShapeObject(line(points[0], [], names[0], "2")) === true);
check("addShapeObject again", file.addShapeObject(line(points[1], [3], names[1], "4")) === true);
check("writeShapefile", file.writeShapefile(dir, "roads") === true);

var back = create("Shapefile");
check("readShapefile", back.readShapefile(dir, "roads.shp") === true);
check("shapes read", back.ShapeObjectCount === 2);
check("shape type read", back.ShapeType === 3);
for (var s = 0; s < 2; s++) {
  var shape = back.getShapeObject(s + 1);
  var p = points[s];
  check("coordinates of shape " + s, shape.CoordinateCount === p.length / 2);
  for (var i = 0; i < p.length / 2; i++) {
    var c = shape.getCoord(i + 1);
    check("vertex " + s + "/" + i, c.X === p[2 * i] && c.Y === p[2 * i + 1]);
  }
  var value = shape.Record.getFieldByName("NAME").value;
  check("text beyond ASCII survives, shape " + s, value === spaces(16 - names[s].length) + names[s]);
  check("LANES of shape " + s, shape.Record.getFieldByIndex(2).value === (s === 0 ? "  2" : "  4"));
}
check("parts", back.getShapeObject(2).PartCount === 2 && back.getShapeObject(2).getPart(2) === 3);
check("Item is the default member", back.getShapeObject(2).Coordinates.Item(4).X === 20);
check("Count", back.ShapeObjects.Count === 2);
var lanes = back.TableDescription.getTableDescriptorByName("LANES");
check("LANES column", lanes.fieldType === 78 && lanes.width === 3 && lanes.precision === 0);
check("one object, one identity", back.BoundingBox === back.BoundingBox);

// Strings are BSTRs: embedded NULs and characters beyond the code page go through.
var field = create("RecordField");
field.name = "a\u0000b\u4e2d";
check("embedded NUL", field.name.length === 4 && field.name.charCodeAt(1) === 0);
check("characters beyond the code page", field.name.charCodeAt(3) === 0x4e2d);

// Errors.
var err = null;
try {
  back.getShapeObject(99);
} catch (e) {
  err = e;
}
check("an error is thrown", err !== null);
check("error number", err !== null && (err.number & 0xFFFF) === 9 && (err.number >>> 16) === 0x800A);
check("error description", err !== null && err.description === "Subscript out of range");
var empty = create("ShapeObject");
check("overflow", errorOf(function () { empty.getCoord(40000); }) === 6);
check("type mismatch", errorOf(function () { empty.addCoord(create("BoundingBox")); }) === 13);
check("unknown member", errorOf(function () { empty.Colour(); }) === 438);
// JScript hands on automation's own refusal: DISP_E_BADPARAMCOUNT.
var refusal = 0;
try {
  empty.getCoord();
} catch (e) {
  refusal = e.number >>> 0;
}
check("wrong number of arguments", refusal === 0x8002000E);
check("no such class", errorOf(function () { create("Polygon"); }) === 429);
check("a missing file is false", create("Shapefile").readShapefile(dir, "none") === false);

WScript.Echo(passed + " passed, " + failed + " failed");

// Drives kelShapeLib.dll late-bound from JScript: builds the PolyLine shapefile that the other
// clients write, with text beyond ASCII, reads it back into a new object and checks every value
// as JScript sees it (strictly typed), and what JScript makes of the errors.
// Usage: cscript shapefile.js OUTPUT-DIRECTORY
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

// What `f` throws; an error numbered 0 when it throws nothing.
function thrown(f) {
  try {
    f();
  } catch (e) {
    return e;
  }
  return {number: 0};
}

function line(points, part, fields) {
  var shape = create("ShapeObject"), record = create("Record");
  shape.ShapeType = 3;
  for (var i = 0; i < points.length; i += 2) {
    var c = create("Coordinate");
    c.setCoordinate(points[i], points[i + 1]);
    shape.addCoord(c);
  }
  if (part) shape.addPart(part);
  for (var j = 0; j < fields.length; j++) {
    var f = create("RecordField");
    f.setRecordField(fields[j][0], fields[j][1]);
    record.addField(f);
  }
  shape.Record = record;
  shape.computeExtents();
  return shape;
}

var dir = WScript.Arguments.Item(0);
var points = [[0.5, 1.25, 2, 3, 4.75, -1], [10, 10, 11, 12, 13, 10, 20, 20, 21, 22]];
var names = ["Caf\u00e9 \u20ac", "Stra\u00dfe \u0152"], lanes = ["2", "4"];  // all Windows-1252
var columns = [["NAME", 67, 16], ["LANES", 78, 3]];  // precision left to its default
var file = create("Shapefile");
file.ShapeType = 3;
for (var k = 0; k < 2; k++) {
  var d = create("TableDescriptor");
  d.setTableDescriptor(columns[k][0], columns[k][1], columns[k][2]);
  file.TableDescription.addTableDescriptor(d);
  var shape = line(points[k], 3 * k, [["NAME", names[k]], ["LANES", lanes[k]]]);
  check("addShapeObject " + k, file.addShapeObject(shape) === true);
}
check("writeShapefile", file.writeShapefile(dir, "roads") === true);

var back = create("Shapefile");
check("readShapefile", back.readShapefile(dir, "roads.shp") === true);
check("shapes read", back.ShapeObjectCount === 2 && back.ShapeObjects.Count === 2);
check("shape type read", back.ShapeType === 3);
for (var s = 0; s < 2; s++) {
  var read = back.getShapeObject(s + 1), xy = [];
  for (var i = 1; i <= read.CoordinateCount; i++) xy.push(read.getCoord(i).X, read.getCoord(i).Y);
  check("vertices of shape " + s, xy.join() === points[s].join() && typeof xy[1] === "number");
  var padding = new Array(17 - names[s].length).join(" ");
  check("text beyond ASCII, shape " + s, read.Record.getFieldByName("NAME").value === padding + names[s]);
  check("LANES of shape " + s, read.Record.getFieldByIndex(2).value === "  " + lanes[s]);
}
check("parts", back.getShapeObject(2).PartCount === 2 && back.getShapeObject(2).getPart(2) === 3);
check("a list's Item", back.getShapeObject(2).Coordinates.Item(4).X === 20);
var column = back.TableDescription.getTableDescriptorByName("LANES");
check("LANES column", column.fieldType === 78 && column.width === 3 && column.precision === 0);
check("one object, one identity", back.BoundingBox === back.BoundingBox);

// Strings are BSTRs: embedded NULs and characters beyond the code page go through.
var field = create("RecordField");
field.name = "a\u0000b\u4e2d";
check("embedded NUL", field.name.length === 4 && field.name.charCodeAt(1) === 0);
check("characters beyond the code page", field.name.charCodeAt(3) === 0x4e2d);

// Errors are the library's numbers in the control facility, 0x800A, with its description; a
// wrong argument count is automation's own refusal, DISP_E_BADPARAMCOUNT.
var e = thrown(function () { back.getShapeObject(99); });
check("error 9", (e.number >>> 0) === 0x800A0009 && e.description === "Subscript out of range");
var empty = create("ShapeObject");
check("wrong number of arguments", (thrown(function () { empty.getCoord(); }).number >>> 0) === 0x8002000E);
var errors = [[function () { empty.getCoord(40000); }, 6],                // overflow
              [function () { empty.addCoord(create("BoundingBox")); }, 13],  // type mismatch
              [function () { empty.Colour(); }, 438],                     // unknown member
              [function () { create("Polygon"); }, 429]];                 // no such class
for (var n = 0; n < errors.length; n++) {
  check("error " + errors[n][1], (thrown(errors[n][0]).number & 0xFFFF) === errors[n][1]);
}
check("a missing file is false", create("Shapefile").readShapefile(dir, "none") === false);

WScript.Echo(passed + " passed, " + failed + " failed");

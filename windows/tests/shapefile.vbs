' Drives kelShapeLib.dll late-bound, as a VBScript caller does: builds a PolyLine shapefile with
' attributes, writes it, reads it back into a new object, checks every value, and checks that
' failures arrive as automation errors. Usage: cscript shapefile.vbs OUTPUT-DIRECTORY
' The last line is always "N passed, N failed"; a run without it failed.
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(what, ok)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

' The error a statement raised, after On Error Resume Next.
Function ErrorOf()
  ErrorOf = Err.Number
  Err.Clear
End Function

Function NewObject(name)
  Set NewObject = CreateObject("kelShapeLib." & name)
End Function

Function Descriptor(name, fieldType, width, precision)
  Dim d
  Set d = NewObject("TableDescriptor")
  d.setTableDescriptor name, fieldType, width, precision
  Set Descriptor = d
End Function

Function Field(name, value)
  Dim f
  Set f = NewObject("RecordField")
  f.setRecordField name, value
  Set Field = f
End Function

' A PolyLine shape from a list of x, y pairs, with part starts and a record.
Function Line(points, parts, name, lanes)
  Dim shape, c, i, rec
  Set shape = NewObject("ShapeObject")
  shape.ShapeType = 3
  For i = 0 To UBound(points) Step 2
    Set c = NewObject("Coordinate")
    c.setCoordinate points(i), points(i + 1)
    shape.addCoord c
  Next
  For i = 0 To UBound(parts)
    shape.addPart parts(i)
  Next
  Set rec = NewObject("Record")
  rec.addField Field("NAME", name)
  rec.addField Field("LANES", lanes)
  shape.Record = rec
  shape.computeExtents
  Set Line = shape
End Function

Dim dir
dir = WScript.Arguments(0)

' Write.
Dim file, ok, basepath, filename
Set file = NewObject("Shapefile")
Check "TypeName of a new Shapefile", TypeName(file) = "_Shapefile" Or TypeName(file) = "Shapefile"
file.ShapeType = 3
file.TableDescription.addTableDescriptor Descriptor("NAME", 67, 16, 0)
file.TableDescription.addTableDescriptor Descriptor("LANES", 78, 3, 0)
Check "addShapeObject returns True", file.addShapeObject(Line(Array(0.5, 1.25, 2, 3, 4.75, -1), Array(), "Ring road", "2")) = True
Check "Booleans are -1", CInt(file.addShapeObject(Line(Array(10, 10, 11, 12, 13, 10, 20, 20, 21, 22), Array(3), "Bypass", "4"))) = -1
file.addShapeObject Line(Array(7, 7, 8, 8), Array(), "Spur", "1")
Check "ShapeObjectCount", file.ShapeObjectCount = 3
Check "ShapeObjectCount is an Integer", TypeName(file.ShapeObjectCount) = "Integer"
basepath = dir
filename = "roads.SHP"
ok = file.writeShapefile(basepath, filename)
Check "writeShapefile", ok = True
Check "writeShapefile's result is a Boolean", TypeName(ok) = "Boolean"
Check "the file name comes back without .shp", filename = "roads"
Check "the base path comes back with a separator", basepath = dir & "\"

' Written again under another letter case, with one shape less: nothing of the old files stays.
file.ShapeObjects.Remove 3
Check "a list's Count", file.ShapeObjects.Count = 2
Check "written again", file.writeShapefile(dir, "ROADS.shp") = True

' Read back into a new object.
Dim back, shape, rec, i, expected, td
Set back = NewObject("Shapefile")
Check "readShapefile", back.readShapefile(dir, "Roads") = True
Check "shapes read", back.ShapeObjectCount = 2
Check "shape type read", back.ShapeType = 3
Check "file extents xMin", back.BoundingBox.xMin = 0.5
Check "file extents yMin", back.BoundingBox.yMin = -1
Check "file extents xMax", back.BoundingBox.xMax = 21
Check "file extents yMax", back.BoundingBox.yMax = 22

Set shape = back.getShapeObject(1)
expected = Array(0.5, 1.25, 2, 3, 4.75, -1)
Check "first shape's coordinates", shape.CoordinateCount = 3
For i = 1 To 3
  Check "first shape X " & i, shape.getCoord(i).X = expected(2 * i - 2)
  Check "first shape Y " & i, shape.getCoord(i).Y = expected(2 * i - 1)
Next
Check "first shape's parts", shape.PartCount = 1 And shape.getPart(1) = 0
Check "first shape's box", shape.BoundingBox.xMax = 4.75 And shape.BoundingBox.yMin = -1
Set rec = shape.Record
Check "fields read", rec.FieldCount = 2
Check "NAME read, as wide as its column", rec.getFieldByName("NAME").value = Space(7) & "Ring road"
Check "LANES read", Trim(rec.getFieldByIndex(2).value) = "2"

Set shape = back.getShapeObject(2)
expected = Array(10, 10, 11, 12, 13, 10, 20, 20, 21, 22)
Check "second shape's coordinates", shape.CoordinateCount = 5
Dim c, n
n = 0
For Each c In shape.Coordinates
  Check "second shape X " & n, c.X = expected(2 * n)
  Check "second shape Y " & n, c.Y = expected(2 * n + 1)
  n = n + 1
Next
Check "For Each visits every coordinate", n = 5
Check "second shape's parts", shape.PartCount = 2 And shape.getPart(1) = 0 And shape.getPart(2) = 3
Check "second NAME", shape.Record.getFieldByName("NAME").value = Space(10) & "Bypass"
Check "second LANES", Trim(shape.Record.getFieldByName("LANES").value) = "4"

Set td = back.TableDescription
Check "columns read", td.DescriptorCount = 2
Check "NAME column", td.getTableDescriptorByIndex(1).name = "NAME" And td.getTableDescriptorByIndex(1).fieldType = 67 And td.getTableDescriptorByIndex(1).width = 16
Check "LANES column", td.getTableDescriptorByName("LANES").fieldType = 78 And td.getTableDescriptorByName("LANES").width = 3
Check "width is a Byte", TypeName(td.getTableDescriptorByIndex(1).width) = "Byte"

' One object, one identity.
Check "a box is the same object each time", back.BoundingBox Is back.BoundingBox
Dim bare
Set bare = NewObject("ShapeObject")
Set bare.Record = Nothing
Check "a shape without record", bare.Record Is Nothing

' A folder that is not there is a failed write, not an error.
Check "writing into a missing folder", file.writeShapefile(dir & "\no\such", "roads") = False

' A file that is not there is a False, not an error.
Check "reading a missing file", NewObject("Shapefile").readShapefile(dir, "nothing-here") = False

' Errors arrive with number, source and description.
On Error Resume Next
Dim r
Set r = back.getShapeObject(99)
Check "error number", Err.Number = 9
Check "error source", Err.Source = "kelShapeLib"
Check "error description", Err.Description = "Subscript out of range"
Err.Clear
Set shape = NewObject("ShapeObject")
shape.addCoord NewObject("Coordinate")
Set r = shape.getCoord(40000)
Check "overflow", ErrorOf() = 6
shape.addCoord NewObject("BoundingBox")
Check "type mismatch", ErrorOf() = 13
r = shape.Colour
Check "unknown member", ErrorOf() = 438
Set r = shape.getCoord()
Check "wrong number of arguments", ErrorOf() = 450
Set bare = NewObject("Shapefile")
Set bare.ShapeObjects = Nothing
r = bare.ShapeObjectCount
Check "object variable not set", ErrorOf() = 91
Set r = CreateObject("kelShapeLib.Polygon")
Check "no such class", ErrorOf() = 429
On Error GoTo 0

WScript.Echo passed & " passed, " & failed & " failed"

' Drives kelShapeLib.dll late-bound, as a VBScript caller does: builds a PolyLine shapefile with
' attributes, writes it, reads it back into a new object, checks every value and the types that
' VBScript sees, and checks that failures arrive as automation errors.
' Usage: cscript shapefile.vbs OUTPUT-DIRECTORY
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

' A shape read back: its vertices, walked with For Each and by getCoord, its parts, its record.
Sub CheckShape(what, shape, points, parts, name, lanes)
  Dim c, n, i, ok
  n = 0
  ok = True
  For Each c In shape.Coordinates
    ok = ok And c.X = points(2 * n) And c.Y = points(2 * n + 1) And c Is shape.getCoord(n + 1)
    n = n + 1
  Next
  Check what & " vertices", ok And n = (UBound(points) + 1) / 2 And shape.CoordinateCount = n
  ok = shape.PartCount = UBound(parts) + 1
  For i = 0 To UBound(parts)
    ok = ok And shape.getPart(i + 1) = parts(i)
  Next
  Check what & " parts", ok
  Check what & " fields", shape.Record.FieldCount = 2
  Check what & " NAME, as wide as its column", shape.Record.getFieldByName("NAME").value = Space(16 - Len(name)) & name
  Check what & " LANES", Trim(shape.Record.getFieldByIndex(2).value) = lanes
End Sub

Dim dir, first, second
dir = WScript.Arguments(0)
first = Array(0.5, 1.25, 2, 3, 4.75, -1)
second = Array(10, 10, 11, 12, 13, 10, 20, 20, 21, 22)

' Write.
Dim file, ok, basepath, filename
Set file = NewObject("Shapefile")
Check "TypeName of a new Shapefile", TypeName(file) = "_Shapefile" Or TypeName(file) = "Shapefile"
file.ShapeType = 3
file.TableDescription.addTableDescriptor Descriptor("NAME", 67, 16, 0)
file.TableDescription.addTableDescriptor Descriptor("LANES", 78, 3, 0)
Check "addShapeObject returns True", file.addShapeObject(Line(first, Array(), "Ring road", "2")) = True
Check "Booleans are -1", CInt(file.addShapeObject(Line(second, Array(3), "Bypass", "4"))) = -1
file.addShapeObject Line(Array(7, 7, 8, 8), Array(), "Spur", "1")
Check "ShapeObjectCount, an Integer", file.ShapeObjectCount = 3 And TypeName(file.ShapeObjectCount) = "Integer"
basepath = dir
filename = "roads.SHP"
ok = file.writeShapefile(basepath, filename)
Check "writeShapefile, a Boolean", ok = True And TypeName(ok) = "Boolean"
Check "the file name comes back without .shp", filename = "roads"
Check "the base path comes back with a separator", basepath = dir & "\"

' Written again under another letter case, with one shape less: nothing of the old files stays.
file.ShapeObjects.Remove 3
Check "a list's Count", file.ShapeObjects.Count = 2
Check "written again", file.writeShapefile(dir, "ROADS.shp") = True

' Read back into a new object.
Dim back, box, td
Set back = NewObject("Shapefile")
Check "readShapefile", back.readShapefile(dir, "Roads") = True
Check "shapes read", back.ShapeObjectCount = 2 And back.ShapeType = 3
Set box = back.BoundingBox
Check "file extents", box.xMin = 0.5 And box.yMin = -1 And box.xMax = 21 And box.yMax = 22
CheckShape "first shape", back.getShapeObject(1), first, Array(0), "Ring road", "2"
Set box = back.getShapeObject(1).BoundingBox
Check "first shape's box", box.xMax = 4.75 And box.yMin = -1
CheckShape "second shape", back.getShapeObject(2), second, Array(0, 3), "Bypass", "4"
Set td = back.TableDescription
Check "columns read", td.DescriptorCount = 2
Check "NAME column", td.getTableDescriptorByIndex(1).name = "NAME" And td.getTableDescriptorByIndex(1).fieldType = 67 And td.getTableDescriptorByIndex(1).width = 16
Check "LANES column", td.getTableDescriptorByName("LANES").fieldType = 78 And td.getTableDescriptorByName("LANES").width = 3
Check "width is a Byte", TypeName(td.getTableDescriptorByIndex(1).width) = "Byte"

' One object, one identity; Nothing where an object goes.
Check "a box is the same object each time", back.BoundingBox Is back.BoundingBox
Dim bare
Set bare = NewObject("ShapeObject")
Set bare.Record = Nothing
Check "a shape without record", bare.Record Is Nothing

' A folder or a file that is not there is a False, not an error.
Check "writing into a missing folder", file.writeShapefile(dir & "\no\such", "roads") = False
Check "reading a missing file", NewObject("Shapefile").readShapefile(dir, "nothing-here") = False

' Errors arrive with number, source and description.
On Error Resume Next
Dim r, shape
Set r = back.getShapeObject(99)
Check "error 9", Err.Number = 9 And Err.Source = "kelShapeLib" And Err.Description = "Subscript out of range"
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

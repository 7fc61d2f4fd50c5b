"""Copies a polygon layer, keeping the places of at least MIN people and giving each its area.

usage: add_area.py SOURCE DESTINATION MIN   (SOURCE and DESTINATION without .shp)
"""

import os
import sys

import shapely.geometry

import kelshapelib as kel

source, destination, least = sys.argv[1], sys.argv[2], int(sys.argv[3])

layer = kel.Shapefile()
if not layer.readShapefile(os.path.dirname(source), os.path.basename(source)):
    sys.exit(f"cannot read {source}")

copy = kel.Shapefile()
copy.ShapeType = layer.ShapeType
for column in layer.TableDescription.TableDescriptors:
    copy.TableDescription.addTableDescriptor(column)
area = kel.TableDescriptor()
area.setTableDescriptor("AREA", kel.kelFieldTypeNumber, 12, 2)
copy.TableDescription.addTableDescriptor(area)

for shape in layer.ShapeObjects:
    if int(shape.Record.getFieldByName("POP").value) < least:
        continue
    field = kel.RecordField()
    field.setRecordField("AREA", f"{shapely.geometry.shape(shape).area:.2f}")
    shape.Record.addField(field)
    copy.addShapeObject(shape)

if not copy.writeShapefile(os.path.dirname(destination), os.path.basename(destination)):
    sys.exit(f"cannot write {destination}")
print(f"{copy.ShapeObjectCount} of {layer.ShapeObjectCount} places written to {copy.basepath}{copy.filename}")

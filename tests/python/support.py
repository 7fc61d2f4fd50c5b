"""Shared helpers of the Python tests: building objects in a few lines, and the tools beside
the module in the build tree."""

import os
import pathlib
import subprocess

import kelshapelib as kel

BUILD = pathlib.Path(kel.__file__).resolve().parent.parent
KELSHP = os.environ.get("KELSHP", str(BUILD / "tools" / "kelshp" / "kelshp"))
SOURCE = pathlib.Path(__file__).resolve().parents[2]


def coordinate(x, y):
    c = kel.Coordinate()
    c.setCoordinate(x, y)
    return c


def shape(kind, parts, **fields):
    """A shape of the given type from a list of parts, each a list of (x, y)."""
    s = kel.ShapeObject()
    s.ShapeType = kind
    for part in parts:
        s.addPart(s.CoordinateCount)
        for x, y in part:
            s.addCoord(coordinate(x, y))
    for name, value in fields.items():
        f = kel.RecordField()
        f.setRecordField(name, value)
        s.Record.addField(f)
    return s


def shapefile(kind, shapes, columns=()):
    """A Shapefile of the shapes, with columns given as (name, type, width)."""
    sf = kel.Shapefile()
    sf.ShapeType = kind
    for name, field_type, width in columns:
        d = kel.TableDescriptor()
        d.setTableDescriptor(name, field_type, width)
        sf.TableDescription.addTableDescriptor(d)
    for s in shapes:
        sf.addShapeObject(s)
    return sf


def kelshp(*args):
    return subprocess.run([KELSHP, *map(str, args)], check=True, capture_output=True, text=True).stdout

"""Shared helpers of the Python tests: building objects in a few lines, and the tools beside
the module in the build tree."""

import datetime
import os
import pathlib
import subprocess

import pytest

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


# --- The reader and writer over the format engine ---------------------------------------------

SAMPLES = BUILD / "sample-shapefiles"
MAKE_CORPUS = SOURCE / "tests" / "interop" / "corpus" / "make_corpus.py"
# The sample layers of Debian packages that tests/interop reads too (SampleLayers_test.cpp).
SAMPLE_LAYERS = [
    "python3-geopandas/naturalearth_lowres", "python3-geopandas/naturalearth_cities",
    "python3-geopandas/nybb", "r-cran-sf/nc", "r-cran-sf/olinda1", "r-cran-sf/storms_xyz",
    "r-cran-sf/storms_xyz_feature", "r-cran-sf/storms_xyzm", "r-cran-sf/storms_xyzm_feature",
    "r-cran-spdata/world", "r-cran-spdata/boston_tracts", "r-cran-spdata/NY8_utm18",
    "r-cran-spdata/auckland", "r-cran-spdata/baltim", "r-cran-spdata/columbus", "r-cran-spdata/eire",
    "r-cran-spdata/sids", "r-cran-spdata/wheat",
]


# The corpus layers that pyshp writes declare no code page (no .cpg, no language mark): their
# Windows-1252 text is read on a guess, which is warned of. A test of something else accepts that
# warning, and no other (a ':' in the message stands as '.', which the mark's syntax cannot hold).
PYSHP_GUESS = r".*/pyshp_\w+[.]dbf. no code page declared; the text reads as CP1252 [(]guessed[)]$"
ACCEPTS_THE_GUESS_OF_PYSHP = pytest.mark.filterwarnings(
    f"ignore:{PYSHP_GUESS}:kelshapelib.FormatWarning")


def corpus_stems():
    """The files that tests/interop/corpus/make_corpus.py makes with GDAL, shapelib and pyshp."""
    return subprocess.run(["/usr/bin/python3", str(MAKE_CORPUS), "--list"], check=True,
                          capture_output=True, text=True).stdout.split()


# Every sample layer and corpus file, as the fixture layer_path (conftest.py) names them.
LAYERS = [f"sample:{name}" for name in SAMPLE_LAYERS] + [f"corpus:{s}" for s in corpus_stems()]


def _ring(positions):
    """A line or ring as the hex of its coordinates, the same in either direction."""
    ring = tuple(tuple(float(v).hex() for v in p) for p in positions)
    return min(ring, ring[::-1])


def _polygons(geometry):
    geometry = getattr(geometry, "__geo_interface__", geometry)
    if geometry["type"] == "GeometryCollection":
        return [p for member in geometry["geometries"] for p in _polygons(member)]
    return [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]


def canonical(geometry):
    """A GeoJSON geometry mapping (or None) as a value that two readers give alike when they give
    the same vertices bit for bit (-0.0 and 0.0 differ), whatever their conventions: rings in either
    direction (RFC 7946 or the file's), polygons and holes in any order. A GeometryCollection of
    polygons, GDAL's MultiPatch, counts as the MultiPolygon of all of them."""
    if geometry is None:
        return None
    geometry = getattr(geometry, "__geo_interface__", geometry)
    kind = geometry["type"]
    if kind in ("Polygon", "MultiPolygon", "GeometryCollection"):
        polygons = sorted((_ring(p[0]), tuple(sorted(_ring(h) for h in p[1:])))
                          for p in _polygons(geometry))
        return ("MultiPolygon" if kind == "GeometryCollection" else kind), polygons
    coordinates = geometry["coordinates"]
    if kind == "Point":
        return kind, _ring([coordinates])
    if kind == "MultiLineString":
        return kind, tuple(_ring(line) for line in coordinates)
    return kind, _ring(coordinates)


def vertices(geometry):
    """Every line or ring of a geometry, or of a pyshp shape as the file holds its parts, with Z
    where there is Z, sorted: what any grouping of rings into polygons leaves alone."""
    if geometry is None or getattr(geometry, "shapeType", None) == 0:
        return None
    if hasattr(geometry, "shapeType"):  # pyshp
        z = getattr(geometry, "z", None) if geometry.shapeType in (11, 13, 15, 18, 31) else None
        points = [tuple(p) + ((z[i],) if z else ()) for i, p in enumerate(geometry.points)]
        starts = list(geometry.parts) or [0]
        return sorted(_ring(points[a:b]) for a, b in zip(starts, starts[1:] + [len(points)]))
    kind, coordinates = geometry["type"], geometry["coordinates"]
    if kind in ("Polygon", "MultiPolygon"):
        return sorted(_ring(ring) for p in _polygons(geometry) for ring in p)
    lines = {"Point": [[coordinates]], "MultiLineString": coordinates}.get(kind, [coordinates])
    return sorted(_ring(line) for line in lines)


LOGICAL = {"T": True, "t": True, "Y": True, "y": True, "F": False, "f": False, "N": False,
           "n": False, "?": None}


def as_fiona_types(properties, fields):
    """Values as the reader types them, from fiona's: GDAL gives a Logical value as its letter and
    a date as YYYY-MM-DD text. Each value with its type, so that 1 and 1.0 differ."""
    kinds = {f.name: f.type for f in fields}
    out = {}
    for name, value in properties.items():
        if value is not None and kinds.get(name) == "L":
            value = LOGICAL[value]
        elif value is not None and kinds.get(name) == "D":
            value = datetime.date.fromisoformat(value)
        out[name] = (type(value).__name__, value)
    return out


def typed(properties):
    return {name: (type(value).__name__, value) for name, value in properties.items()}

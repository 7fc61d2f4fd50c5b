"""kelshapelib.Writer and kelshapelib.write: what they write reads back the same in fiona, pyshp
and kelshapelib.open; every refusal names its row and column and leaves the old layer as it was."""

import datetime

import fiona
import pytest
import shapefile as pyshp
import shapely.geometry

import kelshapelib as kel
from support import as_fiona_types, canonical, typed, vertices

SQUARE = [(0, 0), (10, 0), (10, 10), (0, 10), (0, 0)]  # counter-clockwise, as RFC 7946 has it
HOLE = [(2, 2), (2, 4), (4, 4), (4, 2)]                # clockwise, and open
FIELDS = [("NAME", "C", 24), ("COUNT", "N", 6), ("RATIO", "N", 19, 11), ("DAY", "D"), ("OK", "L")]
ROWS = [
    ["\u0391\u03b8\u03ae\u03bd\u03b1 \u6771\u4eac \U0001f600", 42, 0.1, datetime.date(2024, 2, 29),
     True],
    [None, None, None, None, None],
    ["caf\u00e9", -7, -2.5e-05, datetime.date(1, 1, 1), False],
]


def closed(coordinates):
    return [list(ring) + ([ring[0]] if ring[0] != ring[-1] else []) for ring in coordinates]


# A shape type and the geometries written into it, one a row of ROWS (None: a null shape).
CASES = {
    "PolygonZ": [{"type": "Polygon", "coordinates": [[p + (1.5,) for p in SQUARE],
                                                     [p + (-0.0,) for p in HOLE]]},
                 None,
                 shapely.geometry.MultiPolygon([shapely.geometry.Polygon([(20, 0, 1), (21, 0, 2),
                                                                          (21, 1, 3)])] * 2)],
    "Polygon": [{"type": "MultiPolygon", "coordinates": [[SQUARE, HOLE], [[(20, 0), (21, 0),
                                                                           (21, 1)]]]},
                {"type": "Polygon", "coordinates": []}, {"type": "Polygon", "coordinates": [HOLE]}],
    "PolyLineM": [{"type": "LineString", "coordinates": [(0, 0), (5e-324, -1.7976931348623157e308)]},
                  {"type": "MultiLineString", "coordinates": [[(0, 0), (1, 1)], [], [(2, 2), (3, 1)]]},
                  None],
    "MultiPointZ": [{"type": "Point", "coordinates": (1, 2, 3)}, None,
                    {"type": "MultiPoint", "coordinates": [(1, 2, 3), (0.1, 0.2, 0.30000000000000004)]}],
    "Point": [shapely.geometry.Point(1, 2), {"type": "Point", "coordinates": (-0.0, 1e-300)}, None],
    "MultiPatch": [None, {"type": "Polygon", "coordinates": [[p + (1.5,) for p in SQUARE],
                                                             [p + (2.0,) for p in HOLE]]},
                   shapely.geometry.Polygon([(20, 0, 1), (21, 0, 2), (21, 1, 3)])],
}


def expected(geometry):
    """The geometry as it reads back: a Point in a MultiPoint layer as a MultiPoint, empty parts
    left out, rings closed, an empty geometry as a null shape."""
    g = getattr(geometry, "__geo_interface__", geometry)
    if g is None or not g["coordinates"]:
        return None
    kind, coordinates = g["type"], g["coordinates"]
    if kind == "MultiLineString":
        coordinates = [line for line in coordinates if line]
        if len(coordinates) == 1:
            kind, coordinates = "LineString", coordinates[0]
    if kind == "Polygon":
        coordinates = closed(coordinates)
    if kind == "MultiPolygon":
        coordinates = [closed(p) for p in coordinates]
    return {"type": kind, "coordinates": coordinates}


def outer_rings(geometry):
    """Whether each ring of a polygon geometry is an outer ring; None for other geometries."""
    if geometry is None or geometry["type"] not in ("Polygon", "MultiPolygon"):
        return None
    polygons = [geometry["coordinates"]] if geometry["type"] == "Polygon" else geometry["coordinates"]
    return [k == 0 for p in polygons for k in range(len(p))]


@pytest.mark.parametrize("shape_type", CASES)
def test_what_the_writer_writes_reads_back_alike_in_fiona_pyshp_and_the_reader(tmp_path, shape_type):
    path = tmp_path / "out.shp"
    with kel.Writer(path, shape_type, FIELDS, crs_wkt='GEOGCS["WGS 84"]') as writer:
        for geometry, row in zip(CASES[shape_type], ROWS):
            writer.write(geometry, dict(zip([f[0] for f in FIELDS], row)))
        assert len(writer) == 3
    shapes = [expected(g) for g in CASES[shape_type]]
    if shape_type == "MultiPointZ":  # a Point in a MultiPoint layer is a MultiPoint of one
        shapes[0] = {"type": "MultiPoint", "coordinates": [(1, 2, 3)]}
    if shape_type == "MultiPatch":  # whose polygons read back as a MultiPolygon
        shapes = [s and {"type": "MultiPolygon", "coordinates": [s["coordinates"]]} for s in shapes]
    rows = [dict(zip([f[0] for f in FIELDS], row)) for row in ROWS]
    reader = kel.open(path)
    assert (reader.shape_type.name, reader.crs_wkt, reader.fields) == (
        shape_type, 'GEOGCS["WGS 84"]', [("NAME", "C", 24, 0), ("COUNT", "N", 6, 0),
                                         ("RATIO", "N", 19, 11), ("DAY", "D", 8, 0),
                                         ("OK", "L", 1, 0)])
    assert [canonical(f.geometry) for f in reader] == [canonical(s) for s in shapes]
    assert [typed(f.properties) for f in reader] == [typed(r) for r in rows]
    with fiona.open(path) as collection:
        assert [canonical(f.geometry) for f in collection] == [canonical(s) for s in shapes]
        assert [as_fiona_types(f.properties, reader.fields) for f in collection] == [
            typed(r) for r in rows]
    with pyshp.Reader(str(path)) as peer:
        assert [vertices(s) for s in peer.shapes()] == [vertices(s) for s in shapes]
        blank = lambda v: None if v == "" else v  # pyshp's blank text
        assert [{k: blank(v) for k, v in r.as_dict().items()} for r in peer.records()] == rows
        for shape, outer in zip(peer.shapes(), [outer_rings(s) for s in shapes]):
            starts = list(shape.parts) + [len(shape.points)]
            rings = [shape.points[a:b] for a, b in zip(starts, starts[1:])]
            clockwise = [sum((x1 - x2) * (y1 + y2) for (x1, y1), (x2, y2) in zip(r, r[1:])) < 0
                         for r in rings]
            assert outer is None or clockwise == outer  # outer rings clockwise, holes not


POINT = {"type": "Point", "coordinates": (1, 2)}
LINE = {"type": "LineString", "coordinates": [(0, 0), (1, 1)]}


def writes(shape_type, fields, *records, **options):
    """Writes the records, each (geometry, properties), into a new layer at the path."""
    def act(path):
        with kel.Writer(path, shape_type, fields, **options) as writer:
            for geometry, properties in records:
                writer.write(geometry, properties)
    return act


def feature(geometry, **properties):
    return {"type": "Feature", "geometry": geometry, "properties": properties}


# What is refused, the row and the column the error names, and words of its sentence. Each
# writes a good record first, so that the refusal is row 1; a definition is refused in no row.
REFUSALS = {
    "a number too wide": (writes("Point", [("N", "N", 3)], (POINT, [1]), (POINT, [12345])),
                          1, "N", "takes 5 characters"),
    "a text too long": (writes("Point", [("NAME", "C", 3)], (POINT, ["abc"]), (POINT, {"NAME": "abcd"})),
                        1, "NAME", "takes 4 bytes"),
    "a character the encoding lacks": (
        writes("Point", [("NAME", "C", 9)], (POINT, ["\u00e9"]), (POINT, ["\u0391\u03b8"]),
               encoding="cp1252"), 1, "NAME", "which the table's encoding cannot hold"),
    "a value of another kind": (writes("Point", [("N", "N", 3)], (POINT, [1]), (POINT, [True])),
                                1, "N", "a bool (True) cannot go into a Number column"),
    "a column the layer lacks": (writes("Point", [("N", "N", 3)], (POINT, [1]), (POINT, {"M": 2})),
                                 1, "M", "no column is named 'M'"),
    "a geometry of another kind": (writes("Polygon", [], (None, None), (LINE, None)),
                                   1, None, "a LineString cannot go into a Polygon layer"),
    "Z in a type without Z": (writes("Point", [], (POINT, None),
                                     ({"type": "Point", "coordinates": (1, 2, 3)}, None)),
                              1, None, "the positions have Z values, which a Point layer does not"),
    "a bad field definition": (writes("Point", [("NAME", "C", 5), ("WHEN", "X", 5)]),
                               None, "WHEN", "none of C, N, F, L and D"),
    "a name too long": (writes("Point", [("LONGER_THAN_TEN", "C", 5)]),
                        None, "LONGER_THAN_TEN", "a name holds 10"),
    "values of two kinds in a column": (
        lambda path: kel.write(path, [feature(POINT, N=1), feature(POINT, N="one")]),
        1, "N", "it is text here and a number in row 0"),
    "a float no column holds": (lambda path: kel.write(path, [feature(POINT, X=1e300)]),
                                0, "X", "a Number column holds at most 254"),
    "shapes of two kinds": (lambda path: kel.write(path, [feature(POINT), feature(LINE)]),
                            1, None, "mix shape types: 1 Point, 1 LineString or MultiLineString"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_a_refusal_names_row_and_column_and_leaves_the_old_layer(tmp_path, case):
    act, row, column, words = REFUSALS[case]
    path = tmp_path / "layer.shp"
    kel.write(path, [feature({"type": "Point", "coordinates": (5, 5)}, OLD="old")])
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    with pytest.raises(kel.WriteError) as raised:
        act(path)
    error = raised.value
    assert (error.row, error.column, words in error.sentence) == (row, column, True), str(error)
    assert (row is None or f"row {row}: " in str(error)) and (column is None or column in str(error))
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before  # nor a temporary file


def test_write_finds_the_columns_that_hold_every_value(tmp_path):
    values = [  # NAME, N, X, DAY, OK, NONE
        ("\u0391\u03b8\u03ae\u03bd\u03b1", 42, 0.1, datetime.date(2024, 2, 29), True, None),
        (None, -7, 1 / 3, None, False, None),
        ("plain", 123456, -0.0, datetime.date(1999, 12, 31), None, None),
        ("", 0, 1e-07, None, True, None),
        ("x", None, 123456789.125, None, False, None),
        ("y", 1, 2, None, True, None),  # an int among floats is a float
    ]
    names = ["NAME", "N", "X", "DAY", "OK", "NONE"]
    features = [feature({"type": "Point", "coordinates": (i, -i, 0.5)} if i else None,
                        **dict(zip(names, row))) for i, row in enumerate(values)]
    assert kel.write(tmp_path / "a", features, crs_wkt="WKT") == 6
    twice = kel.Writer(tmp_path / "twice")  # closed again, a planning writer leaves its layer be
    twice.writerows(features)
    twice.close()
    twice.close()
    assert len(kel.open(tmp_path / "twice")) == 6
    reader = kel.open(tmp_path / "a")
    assert (reader.shape_type.name, reader.crs_wkt) == ("PointZ", "WKT")
    assert reader.fields == [("NAME", "C", 10, 0), ("N", "N", 6, 0), ("X", "N", 26, 16),
                             ("DAY", "D", 8, 0), ("OK", "L", 1, 0), ("NONE", "C", 1, 0)]
    exact = lambda props: {k: repr(float(v) if k == "X" and v is not None else v)
                           for k, v in props.items()}  # repr tells -0.0 from 0.0
    written = [exact(f["properties"]) for f in features]
    written[3]["NAME"] = "None"  # blank text reads as no value
    assert [exact(f.properties) for f in reader] == written
    # A copy, through the reader's own description and through write: the same values.
    with kel.Writer(tmp_path / "b", reader.shape_type, reader.fields, crs_wkt=reader.crs_wkt) as w:
        w.writerows(reader)
    assert kel.write(tmp_path / "c", kel.open(tmp_path / "b")) == 6
    for copy in ("b", "c"):
        again = kel.open(tmp_path / copy)
        assert [(f.geometry, exact(f.properties)) for f in again] == [
            (f.geometry, exact(f.properties)) for f in reader]


def test_cut_cuts_text_and_stars_numbers_rather_than_refuse_them(tmp_path):
    writes("Point", [("NAME", "C", 5), ("N", "N", 2)], (POINT, ["\u00e9t\u00e9 long", 123]),
           cut=True)(tmp_path / "cut")
    assert kel.open(tmp_path / "cut")[0].properties == {"NAME": "\u00e9t\u00e9", "N": None}


def test_mode_a_adds_after_the_old_records_or_leaves_the_layer_as_it_was(tmp_path):
    path = tmp_path / "layer.shp"
    kel.write(path, [feature({"type": "Point", "coordinates": (i, 0)}, N=i) for i in range(3)])
    (tmp_path / "layer.qix").write_bytes(b"old index")
    with kel.Writer(path, mode="a") as w:  # the layer's type and fields
        w.write({"type": "Point", "coordinates": (3, 1)}, {"N": 3})
    with kel.Writer(path, "Point", [("n", "N", 1)], mode="a") as w:
        w.write({"type": "Point", "coordinates": (4, 1)}, [4])
    assert [r["N"] for r in pyshp.Reader(str(path)).records()] == [0, 1, 2, 3, 4]
    assert [f["geometry"]["coordinates"] for f in fiona.open(path)][3:] == [(3.0, 1.0), (4.0, 1.0)]
    assert not (tmp_path / "layer.qix").exists()

    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    with pytest.raises(kel.WriteError, match="holds Point shapes; these are PolyLine"):
        kel.Writer(path, "PolyLine", mode="a")
    with pytest.raises(kel.WriteError, match="the layer's column 1 is 'N' of type N"):
        kel.Writer(path, "Point", [("M", "N", 3)], mode="a")
    with pytest.raises(RuntimeError), kel.Writer(path, mode="a") as w:
        w.write({"type": "Point", "coordinates": (5, 5)}, {"N": 5})
        raise RuntimeError("the caller's loop fails")
    w = kel.Writer(path, mode="a")
    w.write({"type": "Point", "coordinates": (6, 6)}, {"N": 6})
    with pytest.raises(kel.WriteError, match="row 6: "):
        w.write({"type": "Point", "coordinates": (7, 7)}, {"N": 10})  # wider than the column
    del w  # dropped without close()
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before
    with pytest.raises(ValueError, match="mode is 'w'"):
        kel.Writer(path, mode="r")

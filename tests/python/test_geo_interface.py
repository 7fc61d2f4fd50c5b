"""__geo_interface__: the GeoJSON of `kelshp dump`, taken directly by shapely and geopandas."""

import json

import geopandas
import pytest
import shapefile as pyshp  # pyshp, the peer writer
import shapely.geometry

import kelshapelib as kel
from support import kelshp, shape, shapefile

SQUARE = [(0, 0), (0, 10), (10, 10), (10, 0), (0, 0)]          # clockwise: an outer ring
HOLE = [(2, 2), (4, 2), (4, 4), (2, 4), (2, 2)]                  # counter-clockwise: a hole
FAR = [(20, 0), (20, 5), (25, 5), (25, 0), (20, 0)]
FAR_HOLE = [(21, 1), (22, 1), (22, 2), (21, 2), (21, 1)]
ISLAND = [(40, 0), (41, 0), (41, 1), (40, 1), (40, 0)]           # a hole that nothing holds

POLYGONS = [  # rings as written, the area shapely must see, the GeoJSON type
    ([SQUARE, HOLE], 96, "Polygon"),
    ([FAR_HOLE, SQUARE, FAR, HOLE], 96 + 24, "MultiPolygon"),  # holes before and after their rings
    ([ISLAND], 1, "Polygon"),
]


def peer_file(folder, kind, parts_per_shape):
    """A file written by pyshp, one record (NAME) per shape."""
    w = pyshp.Writer(str(folder / "peer"), shapeType=kind)
    w.field("NAME", "C", 12)
    for i, parts in enumerate(parts_per_shape):
        {pyshp.POLYGON: w.poly, pyshp.POLYLINE: w.line, pyshp.MULTIPOINT: lambda p: w.multipoint(p[0]),
         pyshp.POINT: lambda p: w.point(*p[0][0])}[kind](parts)
        w.record(f"shape {i + 1}")
    w.close()
    sf = kel.Shapefile()
    assert sf.readShapefile(str(folder), "peer")
    return sf


@pytest.mark.parametrize("kind, shapes", [
    (pyshp.POLYGON, [p for p, _, _ in POLYGONS]),
    (pyshp.POLYLINE, [[[(0, 0), (1, 2)]], [[(0, 0), (1, 1)], [(5, 5), (6, 5), (7, 7)]]]),
    (pyshp.MULTIPOINT, [[[(1, 2), (3, 4), (-5.5, 1e300)]]]),
    (pyshp.POINT, [[[(0.1, -0.2)]], [[(5e-324, -1.7976931348623157e308)]]]),
    (pyshp.POLYLINE, [[[(0, 0), (float("nan"), 1)]], [[(0, 0), (1, float("inf"))]]]),
])
def test_features_are_what_kelshp_dump_writes(tmp_path, kind, shapes):
    sf = peer_file(tmp_path, kind, shapes)
    dumped = json.loads(kelshp("dump", "--raw", tmp_path / "peer"))  # the model holds text
    for feature in dumped["features"]:  # what dump says of a geometry that GeoJSON cannot hold
        assert (feature.pop("kelshp:invalid", None) is None) == (feature["geometry"] is not None)
    assert json.loads(json.dumps(sf.__geo_interface__)) == dumped
    for i, feature in enumerate(dumped["features"], 1):
        assert json.loads(json.dumps(sf.getShapeObject(i).__geo_interface__)) == feature["geometry"]


def test_shapely_takes_shapes_and_groups_rings(tmp_path):
    sf = peer_file(tmp_path, pyshp.POLYGON, [p for p, _, _ in POLYGONS])
    for i, (_, area, kind) in enumerate(POLYGONS, 1):
        geometry = shapely.geometry.shape(sf.getShapeObject(i))
        assert (geometry.geom_type, geometry.area, geometry.is_valid) == (kind, area, True)
    made = shapely.geometry.shape(shape(kel.kelPolyLine, [[(0, 0), (3, 4)], [(0, 0), (0, 1)]]))
    assert (made.geom_type, made.length) == ("MultiLineString", 6)
    assert kel.ShapeObject().__geo_interface__ is None  # no vertices, no geometry


@pytest.mark.parametrize("unset, in_the_shape", [
    (lambda s, sf: setattr(s, "Parts", None), True),
    (lambda s, sf: setattr(s, "Coordinates", None), True),
    (lambda s, sf: sf.ShapeObjects.Add(None), False),  # a shape that is Nothing
])
def test_nothing_where_the_view_needs_an_object_is_error_91(unset, in_the_shape):
    s = shape(kel.kelPolyLine, [[(0, 0), (1, 1)]])
    sf = shapefile(kel.kelPolyLine, [s])
    unset(s, sf)
    for viewed in [sf, s] if in_the_shape else [sf]:
        with pytest.raises(kel.Error) as raised:
            viewed.__geo_interface__
        assert raised.value.number == 91


def test_geopandas_takes_a_shapefile_with_its_records():
    sf = shapefile(kel.kelPolygon, [shape(kel.kelPolygon, [SQUARE, HOLE], NAME="Park", KIND="green"),
                                    shape(kel.kelPolygon, [FAR], NAME="Lake", KIND="blue")])
    frame = geopandas.GeoDataFrame.from_features(sf)
    assert list(frame["NAME"]) == ["Park", "Lake"] and list(frame["KIND"]) == ["green", "blue"]
    assert list(frame.geometry.area) == [96, 25] and frame.geometry.total_bounds.tolist() == [0, 0, 25, 10]

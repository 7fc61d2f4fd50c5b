"""read_dataframe, read_arrays and write_dataframe: every sample layer and corpus file as
geopandas.read_file reads it, a frame written and read back, the arrays of a small layer, and
what they refuse."""

import datetime
import warnings

import geopandas
import numpy
import pandas
import pytest
import shapely.geometry

import kelshapelib as kel
from support import LAYERS, PYSHP_GUESS, canonical


def exactly(a, b):
    return a.equals_exact(b, 0)


def normalized(a, b):
    """Alike but for where rings start and which way they run, which a writer may change."""
    return a.normalize().equals_exact(b.normalize(), 0)


def as_polygons(a, b):
    """A MultiPatch: the same polygons, however grouped (GDAL makes a GeometryCollection)."""
    return canonical(a) == canonical(b)


def assert_same_frame(ours, theirs, layer="", same=exactly):
    """Columns, dtypes and values alike (NaN where null), the same geometries and CRS."""
    assert list(ours.columns) == list(theirs.columns), layer
    pandas.testing.assert_frame_equal(pandas.DataFrame(ours.drop(columns="geometry")),
                                      pandas.DataFrame(theirs.drop(columns="geometry")),
                                      check_exact=True, check_index_type=False)
    for i, (a, b) in enumerate(zip(ours.geometry, theirs.geometry)):
        assert (a is None) == (b is None), (layer, i)
        assert a is None or same(a, b), (layer, i, a.wkb_hex[:400], b.wkb_hex[:400])
    assert (ours.crs is None) == (theirs.crs is None)
    assert ours.crs is None or ours.crs.equals(theirs.crs, ignore_axis_order=True)


@pytest.mark.parametrize("layer", LAYERS)
def test_read_dataframe_is_read_file_and_write_dataframe_gives_it_back(layer_path, layer,
                                                                        tmp_path):
    path = layer_path(layer)
    with kel.open(path) as reader:
        encoding = reader.encoding
    theirs = geopandas.read_file(path, encoding=encoding)
    with warnings.catch_warnings():
        warnings.simplefilter("error", kel.FormatWarning)  # none of these files is irregular
        warnings.filterwarnings("ignore", PYSHP_GUESS, kel.FormatWarning)  # pyshp's guessed text
        ours = kel.read_dataframe(path)
    pandas.testing.assert_frame_equal(
        kel.read_dataframe(path, skip_geometry=True),
        geopandas.read_file(path, encoding=encoding, ignore_geometry=True), check_exact=True,
        check_index_type=False)
    multipatch = layer.endswith("multipatch")
    assert_same_frame(ours, theirs, layer, as_polygons if multipatch else exactly)
    if len(theirs) == 0 or multipatch:  # GDAL writes no MultiPatch
        return
    # A frame written reads back the same, through geopandas and through read_dataframe.
    kel.write_dataframe(theirs, tmp_path / "copy.shp", encoding=encoding)
    back = geopandas.read_file(tmp_path / "copy.shp", encoding=encoding)
    assert_same_frame(back, theirs, layer, normalized)
    theirs.to_file(tmp_path / "gdal.shp", encoding=encoding)
    assert_same_frame(kel.read_dataframe(tmp_path / "gdal.shp"),
                      geopandas.read_file(tmp_path / "gdal.shp", encoding=encoding), layer)


def test_read_arrays_gives_coordinates_offsets_and_masked_columns(tmp_path):
    path = tmp_path / "lines.shp"
    fields = [("NUM", "N", 6), ("AMOUNT", "N", 8, 2), ("DAY", "D"), ("FLAG", "L"), ("NAME", "C", 5)]
    with kel.Writer(path, "PolyLineZ", fields) as w:
        w.write({"type": "MultiLineString", "coordinates": [
            [(0, 0, 1, 10), (1, 1, 2, 11)], [(5, 5, 3, 12), (6, 6, 4, 13), (7, 7, 5, 14)]]},
            [-3, 0.5, "2024-02-29", True, "caf\u00e9"])
        w.write(None, [None] * 5)
        w.write({"type": "LineString", "coordinates": [(2, 2, 0), (3, 3, 0)]},
                [7, None, None, False, ""])
    got = kel.read_arrays(path)
    assert got["coords"].tolist() == [[0, 0, 1], [1, 1, 2], [5, 5, 3], [6, 6, 4], [7, 7, 5],
                                      [2, 2, 0], [3, 3, 0]]
    assert numpy.array_equal(got["m"], [10, 11, 12, 13, 14, numpy.nan, numpy.nan], equal_nan=True)
    assert (got["part_offsets"].tolist(), got["geometry_offsets"].tolist(),
            got["shape_types"].tolist()) == ([0, 2, 5, 7], [0, 2, 2, 3], [13, 0, 13])
    columns = {name: (str(values.dtype), values.tolist(), None if nulls is None else nulls.tolist())
               for name, (values, nulls) in got["columns"].items()}
    assert columns == {
        "NUM": ("int64", [-3, 0, 7], [False, True, False]),
        "AMOUNT": ("float64", columns["AMOUNT"][1], [False, True, True]),
        "DAY": ("datetime64[D]", [datetime.date(2024, 2, 29), None, None], [False, True, True]),
        "FLAG": ("bool", [True, False, False], [False, True, False]),
        "NAME": ("object", ["caf\u00e9", None, None], None)}
    assert numpy.array_equal(columns["AMOUNT"][1], [0.5, numpy.nan, numpy.nan], equal_nan=True)
    # Rows as a slice, an int or a range; the columns named, in their order.
    for rows, ids in [(slice(1, None), [1, 2]), (2, [0, 1]), (range(-1, 5), [2]),
                      (slice(5, 9), [])]:
        some = kel.read_arrays(path, columns=["NAME", "NUM"], rows=rows)
        assert list(some["columns"]) == ["NAME", "NUM"]
        assert some["columns"]["NUM"][0].tolist() == [[-3, 0, 7][i] for i in ids]
        assert len(some["geometry_offsets"]) == len(ids) + 1
    for bad, error in [({"rows": slice(0, 3, 2)}, ValueError), ({"rows": -1}, ValueError),
                       ({"rows": "1"}, TypeError), ({"columns": ["NOPE"]}, KeyError),
                       ({"columns": "NAME"}, TypeError)]:
        with pytest.raises(error):
            kel.read_dataframe(path, **bad)
    # Rows without a single value: float64 NaN in every column, as read_file gives them.
    assert_same_frame(kel.read_dataframe(path, rows=range(1, 2)),
                      geopandas.read_file(path, rows=slice(1, 2)))


def test_write_dataframe_takes_the_dtypes_of_a_frame_and_refuses_what_no_layer_holds(tmp_path):
    path = tmp_path / "frame.shp"
    columns = {"COUNT": pandas.array([1, None, -3], dtype="Int64"),
               "RATIO": [0.25, numpy.nan, 1e-3],
               "FLAG": [True, False, True],
               "DAY": pandas.to_datetime(["2024-02-29", None, "1999-12-31"]),
               "NAME": ["caf\u00e9", None, "x"],
               "geometry": [shapely.geometry.Point(1, 2), None, shapely.geometry.Point(3, 4)]}
    frame = geopandas.GeoDataFrame(columns, crs="EPSG:4326")
    assert kel.write_dataframe(frame, path) == 3
    with kel.open(path) as reader:
        assert [(f.name, f.type, f.decimals) for f in reader.fields] == [
            ("COUNT", "N", 0), ("RATIO", "N", 3), ("FLAG", "L", 0), ("DAY", "D", 0),
            ("NAME", "C", 0)]
        assert [f.properties for f in reader] == [
            {"COUNT": 1, "RATIO": 0.25, "FLAG": True, "DAY": datetime.date(2024, 2, 29),
             "NAME": "caf\u00e9"},
            {"COUNT": None, "RATIO": None, "FLAG": False, "DAY": None, "NAME": None},
            {"COUNT": -3, "RATIO": 0.001, "FLAG": True, "DAY": datetime.date(1999, 12, 31),
             "NAME": "x"}]
        assert [f.geometry for f in reader][1] is None
    assert geopandas.read_file(path).crs.equals(frame.crs)
    # Each refusal names the row and leaves the layer as it was.
    for column, value, said in [
            ("geometry", shapely.geometry.GeometryCollection([shapely.geometry.Point(0, 0)]),
             "geometry type 7"),
            ("DAY", pandas.Timestamp("2024-01-01 12:00"), "time of day"),
            ("NAME", b"bytes", "no column type"),
            ("geometry", shapely.geometry.LineString([(0, 0), (1, 1)]), "LineString")]:
        bad = geopandas.GeoDataFrame({**columns, column: list(columns[column][:2]) + [value]})
        with pytest.raises(kel.WriteError, match=said) as raised:
            kel.write_dataframe(bad, path)
        assert raised.value.row == 2
        assert len(kel.open(path)) == 3


@pytest.mark.parametrize("layer, selection", [
    ("sample:r-cran-sf/nc", {"bbox": (-80, 35, -78, 36)}),
    ("sample:r-cran-sf/nc", {"where": "AREA > 0.1 AND NAME <> 'Wake'"}),
    ("sample:python3-geopandas/naturalearth_cities", {"bbox": (0, 40, 30, 60),
                                                       "where": "name LIKE 'B%'"}),
])
def test_a_selection_keeps_the_records_read_file_keeps(layer_path, layer, selection):
    path = layer_path(layer)
    ours = kel.read_dataframe(path, **selection)
    assert 0 < len(ours) < len(kel.open(path))
    assert_same_frame(ours, geopandas.read_file(path, **selection), layer)
    arrays = kel.read_arrays(path, columns=[], **selection)
    assert len(arrays["shape_types"]) == len(ours)

"""read_dataframe, read_arrays and write_dataframe: every sample layer and corpus file as
geopandas.read_file reads it, a frame written and read back, the arrays of a small layer, and
what they refuse."""

import warnings

import geopandas
import numpy
import pandas
import pytest
import shapely.geometry
import shapely.wkb

import kelshapelib as kel
from support import LAYERS, canonical


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
        ours = kel.read_dataframe(path)
    multipatch = layer.endswith("multipatch")
    assert_same_frame(ours, theirs, layer, as_polygons if multipatch else exactly)
    if len(theirs) == 0 or multipatch:  # GDAL writes no MultiPatch
        return
    # A frame written reads back the same, through geopandas and through read_dataframe.
    kel.write_dataframe(theirs, tmp_path / "copy.shp", encoding=encoding)
    back = geopandas.read_file(tmp_path / "copy.shp", encoding=encoding)
    assert_same_frame(back, theirs, layer, normalized)
    theirs.to_file(tmp_path / "gdal.shp", encoding=encoding)
    assert_same_frame(kel.read_dataframe(tmp_path / "gdal.shp"), geopandas.read_file(tmp_path / "gdal.shp", encoding=encoding), layer)

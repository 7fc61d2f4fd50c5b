"""Selection: box queries on every sample layer and corpus file keep the records GDAL's spatial
filter keeps, a table of filters the records `ogr2ogr -where` keeps, faults are refused with
their place, and kelshp selects as the module does."""

import glob
import json
import re
import shutil
import subprocess
import warnings

import pytest
from osgeo import gdal, ogr

import kelshapelib as kel
from support import ACCEPTS_THE_GUESS_OF_PYSHP, BUILD, KELSHP, LAYERS, SOURCE

gdal.UseExceptions()


def gdal_ids(path, bbox=None, where=None):
    source = ogr.Open(str(path))
    layer = source.GetLayer(0)
    if bbox is not None:
        layer.SetSpatialFilterRect(*bbox)
    if where is not None:
        layer.SetAttributeFilter(where)
    return [f.GetFID() for f in layer]


def our_ids(path, **selection):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", kel.FormatWarning)
        with kel.open(path, **selection) as reader:
            return [f.id for f in reader]


def boxes(bounds):
    """Boxes over a layer's extent: within it, across its corner, a thin strip, all of it, and
    beside it. Points between two ends are weighed, so that no width overflows."""
    x0, y0, x1, y1 = bounds
    x = lambda f: x0 * (1 - f) + x1 * f  # noqa: E731
    y = lambda f: y0 * (1 - f) + y1 * f  # noqa: E731
    return [(x(.4), y(.4), x(.6), y(.6)), (x(-.1), y(-.1), x(.5), y(.5)),
            (x(.3), y(0), x(.31), y(1)), (x(.05), y(.7), x(.95), y(.72)), (x0, y0, x1, y1),
            (x(.2), y(.2), x(.2), y(.2))]


@ACCEPTS_THE_GUESS_OF_PYSHP
@pytest.mark.parametrize("layer", LAYERS)
def test_box_queries_keep_what_gdal_keeps(layer_path, layer, tmp_path):
    """Without an index and with the .qix `kelshp index` writes, which GDAL reads too."""
    path = layer_path(layer)
    for part in path.parent.glob(glob.escape(path.stem) + ".*"):
        shutil.copy(part, tmp_path)
    indexed = tmp_path / path.name
    index = kelshp("index", indexed)
    assert index.returncode == 0, index.stderr
    with kel.open(path) as reader:
        bounds = reader.bounds
    for box in boxes(bounds):
        want = gdal_ids(path, bbox=box)
        assert our_ids(path, bbox=box) == want, box
        assert our_ids(indexed, bbox=box) == gdal_ids(indexed, bbox=box) == want, box



def test_a_stale_index_is_warned_once_and_the_layer_walked(layer_path, tmp_path):
    path = layer_path("sample:r-cran-sf/nc")
    for part in path.parent.glob("nc.*"):
        shutil.copy(part, tmp_path)
    kelshp("index", tmp_path / "nc.shp")
    qix = bytearray((tmp_path / "nc.qix").read_bytes())
    qix[8] = 99  # the count of another generation of the layer
    (tmp_path / "nc.qix").write_bytes(qix)
    for box in (-80, 35, -78, 36.5), (-75.9, 33.9, -75.8, 34):  # some records, none (sea)
        with warnings.catch_warnings(record=True) as heard:
            warnings.simplefilter("always")
            with kel.open(tmp_path / "nc.shp", bbox=box) as reader:
                ids = [f.id for f in reader]
        assert ids == gdal_ids(path, bbox=box) and (len(ids) > 0) == (box[0] == -80)
        assert [str(w.message) for w in heard] == [
            f"{tmp_path / 'nc.qix'}: offset 8: the spatial index is not read: it indexes 99 "
            "records, and the layer has 100"]



def test_the_sbn_files_esri_wrote_are_read(tmp_path):
    """Two layers that r-cran-rgdal ships with ESRI's .sbn: one laid out as GDAL reads it, and one
    older (bins depth first, more nodes than the count gives), which GDAL 3.6 refuses and walks."""
    cache = BUILD / "sample-indexed"
    subprocess.run([SOURCE / "scripts" / "fetch-sample-shapefiles", cache, "r-cran-rgdal"],
                   check=True, capture_output=True)
    for name in "cities", "kiritimati_primary_roads":
        path = cache / "r-cran-rgdal" / f"{name}.shp"
        assert path.with_suffix(".sbn").exists() and not path.with_suffix(".qix").exists()
        with kel.open(path) as reader:
            bounds = reader.bounds
        for box in boxes(bounds) + [(bounds[0], bounds[1], bounds[0] + 1, bounds[1] + 1)]:
            with warnings.catch_warnings(record=True) as heard:
                warnings.simplefilter("always")
                with kel.open(path, bbox=box) as reader:
                    ids = [f.id for f in reader]
            assert not [w for w in heard if "spatial index" in str(w.message)]
            assert ids == gdal_ids(path, bbox=box), box


# (layer, filter): nc has real, integer and text columns; the corpus a date, a logical, numbers
# and text beyond ASCII with blanks around it, and rows of nulls (pyshp_nullshape).
FILTERS = [("sample:r-cran-sf/nc", w) for w in [
    "AREA > 0.1", "AREA >= 0.114", "AREA < 0.05", "AREA <= 0.05 OR AREA >= 0.2", "AREA <> 0.114",
    "AREA != 0.114", "CRESS_ID = 5", "CRESS_ID IN (1, 3, 99)", "CRESS_ID NOT IN (1, 3)",
    "BIR74 BETWEEN 1000 AND 2000", "BIR74 NOT BETWEEN 1000 AND 20000", "NAME = 'Ashe'",
    "name = 'ashe'", "NAME < 'b'", "NAME > 'W'", "NAME LIKE 'A%'", "NAME LIKE 'a%'",
    "NAME ILIKE 'a%'", "NAME LIKE '%on'", "NAME LIKE '_a%'", "NAME NOT LIKE '%e%'",
    "FIPS LIKE '370_1'", "NAME IN ('Ashe', 'wake', 'Nowhere')", "\"NAME\" = 'Wake'",
    "NOT (AREA > 0.1 AND BIR74 < 5000)", "(AREA > 0.1 OR SID74 = 0) AND NOT NAME LIKE 'C%'",
    "SID74 = 0 AND SID79 = 0", "AREA > '0.1'", "BIR74 > 1.5e4", "CNTY_ > -1", "NAME IS NULL",
    "NAME IS NOT NULL", "NWBIR74 >= 0 AND BIR79 > 10000"]] + [("corpus:pyshp_nullshape", w) for w in [
        "DAY = '2024-01-31'", "DAY > '2000/01/01'", "DAY BETWEEN '1999-1-1' AND '2000-12-31'",
        "DAY IS NULL", "NOT DAY < '2000-01-01'", "COUNT < 0", "COUNT IS NOT NULL AND AMOUNT > 1",
        "NAME = 'padded'", "NOT (COUNT = 42)", "EXACTLY_10 = ''", "FLAG = 't'",
        "NOT (FLAG = 'T')", "NOT (DAY = '2000-01-01' AND COUNT = 42)",
        "NOT (DAY NOT IN ('2024-01-31')) OR COUNT IS NULL", "NAME NOT LIKE 'x%'",
        "NOT (DAY BETWEEN '1999-1-1' AND '2000-12-31')",
    ]]


def test_filters_keep_what_gdal_keeps(layer_path):
    assert len(FILTERS) >= 30
    for layer, where in FILTERS:
        path = layer_path(layer)
        assert our_ids(path, where=where) == gdal_ids(path, where=where), (layer, where)


# A filter that cannot be read, and the character its fault lies at.
REFUSED = [
    ("POP > 1000", 0, "no column POP"), ("NAME = ", 7, "ends"), ("NAME = 'Ashe", 7, "quote"),
    ("AREA > 'x'", 7, "no number"), ("NAME > 5", 7, "compares text with a number"),
    ("(AREA > 1", 9, "')'"), ("AREA > 1 NAME = 'a'", 9, "AND, OR"), ("AREA ~ 1", 5, "'~'"),
    ("NAME NOT = 'a'", 9, "LIKE, ILIKE, IN or BETWEEN"), ("AREA LIKE 'a%'", 0, "text only"),
    ("AREA IS 5", 8, "NULL"), ("AREA IN 1", 8, "'('"), ("'é' = NAMEX", 6, "no column NAMEX"),
    ("(" * 100000, 100, "nests more than 100"),
]


def test_faults_are_refused_with_their_place(layer_path):
    path = layer_path("sample:r-cran-sf/nc")
    for where, at, said in REFUSED:
        with pytest.raises(ValueError, match=f"at character {at}: .*{re.escape(said)}"):
            kel.open(path, where=where)
    # Long chains of OR and AND are no deeper than one of each.
    chain = " OR ".join(["CRESS_ID = 5"] * 1000000) + " AND " + " AND ".join(["AREA > 0"] * 9)
    assert our_ids(path, where=chain, columns=[]) == gdal_ids(path, where="CRESS_ID = 5")
    for selection in [dict(columns=["NAME", "NOPE"]), dict(bbox=(1, 0, 0, 1)), dict(bbox=(1, 2))]:
        with pytest.raises(ValueError):
            kel.open(path, **selection)


def kelshp(*args):
    return subprocess.run([KELSHP, *map(str, args)], capture_output=True, text=True)


def test_kelshp_selects_as_the_module(layer_path, tmp_path):
    path = layer_path("sample:r-cran-sf/nc")
    box, where = (-80, 35, -78, 36.5), "BIR74 > 2000 AND NAME NOT LIKE 'W%'"
    with kel.open(path, bbox=box, columns=["fips", "NAME"], where=where) as reader:
        want = [(f.id, f.properties) for f in reader.iter(2, 90)]
    assert 5 < len(want) < 50
    options = ["--bbox", ",".join(map(str, box)), "--select", "fips,NAME", "--where", where,
               "--rows", "2:90"]
    dumped = json.loads(kelshp("dump", *options, path).stdout)["features"]
    assert [f["properties"] for f in dumped] == [p for _, p in want]
    converted = tmp_path / "out.geojson"
    assert kelshp("convert", *options, path, converted).returncode == 0
    assert json.loads(converted.read_text())["features"] == dumped
    assert kelshp("copy", *options, path, tmp_path / "copy").returncode == 0
    with kel.open(tmp_path / "copy.shp") as copy:
        assert [f.properties for f in copy] == [p for _, p in want]
        assert [f.geometry for f in copy] == [kel.open(path)[i].geometry for i, _ in want]
    for bad, said in [(["--where", "NAME = "], "at character 7"), (["--bbox", "1,2,3"], "--bbox"),
                      (["--rows", "a:"], "--rows"), (["--select", "NOPE"], "no column NOPE")]:
        run = kelshp("dump", *bad, path)
        assert run.returncode != 0 and said in run.stderr and run.stdout == "", bad

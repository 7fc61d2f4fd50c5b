"""Coordinate reference systems through PROJ: kelshp's info, dump and convert and the Python
reader and writer keep a sample layer's system both ways, name it in GeoJSON as GDAL does,
transform coordinates as ogr2ogr does, and never put a WGS 84 .prj on coordinates that cannot be
degrees."""

import json
import subprocess

import geopandas
import pyproj
import pytest
from osgeo import ogr, osr

import kelshapelib as kel
from support import KELSHP, SAMPLE_LAYERS, SAMPLES, SOURCE

osr.UseExceptions()
WARNING = "RFC 7946 readers take them for WGS 84"


@pytest.fixture(scope="module")
def sample():
    subprocess.run([str(SOURCE / "scripts" / "fetch-sample-shapefiles"), str(SAMPLES)],
                   check=True, capture_output=True)
    return lambda name: SAMPLES / f"{name}.shp"


def run(*args, status=0):
    done = subprocess.run([KELSHP, *map(str, args)], capture_output=True, text=True)
    assert done.returncode == status, done.stderr
    return done


def srs_of(path):
    """The system GDAL reads at path (a layer or a GeoJSON file), or None."""
    source = ogr.Open(str(path))  # held while its layer is used
    srs = source.GetLayer().GetSpatialRef()
    return srs and srs.ExportToWkt()


def same(a, b):
    x, y = osr.SpatialReference(), osr.SpatialReference()
    x.ImportFromWkt(a)
    y.ImportFromWkt(b)
    return bool(x.IsSame(y, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES"]))


@pytest.mark.parametrize("layer", SAMPLE_LAYERS)
def test_shapefile_to_geojson_and_back_keeps_the_system(sample, tmp_path, layer):
    source = sample(layer)
    there, back = tmp_path / "there.geojson", tmp_path / "back.shp"
    warned = run("convert", source, there).stderr
    member = json.loads(there.read_text()).get("crs")
    run("convert", there, back)
    theirs = srs_of(source)
    reader = kel.open(source)
    if theirs is None:
        # No .prj: WGS 84 only for coordinates that can be degrees (|x| <= 180, |y| <= 90).
        xmin, ymin, xmax, ymax = reader.bounds
        degrees = max(abs(xmin), abs(xmax)) <= 180 + 1e-9 and max(abs(ymin), abs(ymax)) <= 90
        assert (member, WARNING in warned) == (None, False)
        assert back.with_suffix(".prj").exists() == degrees
        return
    wgs84 = pyproj.CRS(reader.crs).equals("EPSG:4326", ignore_axis_order=True)
    assert (member is None, warned.count(WARNING)) == (wgs84, 0 if wgs84 else 1)
    code = pyproj.CRS(reader.crs).to_epsg()
    if member and code:  # GDAL's name for it
        assert member == {"type": "name",
                          "properties": {"name": f"urn:ogc:def:crs:EPSG::{code}"}}
    assert same(srs_of(there), theirs), "GDAL reads another system in the GeoJSON"
    assert same(srs_of(back), theirs), "the .prj written back is another system"
    info = run("info", source).stdout
    assert f"projection  {pyproj.CRS(reader.crs).name}" in info
    assert (f"(EPSG:{code})" in info) == (code is not None)


def coordinates(geojson):
    """Each feature's positions, sorted (rings may be turned round)."""
    def flat(c):
        return [tuple(c[:2])] if isinstance(c[0], float | int) else [p for x in c for p in flat(x)]
    return [sorted(flat(f["geometry"]["coordinates"])) for f in geojson["features"]]


def close(ours, theirs):
    assert len(ours) == len(theirs)
    for a, b in zip(ours, theirs):
        assert len(a) == len(b)
        assert max(max(abs(p[0] - q[0]), abs(p[1] - q[1])) for p, q in zip(a, b)) < 1e-9


@pytest.mark.parametrize("layer", ["python3-geopandas/nybb", "r-cran-sf/nc"])
def test_to_crs_gives_the_coordinates_ogr2ogr_gives(sample, tmp_path, layer):
    gdal = tmp_path / "gdal.geojson"
    subprocess.run(["ogr2ogr", "-f", "GeoJSON", "-t_srs", "EPSG:4326", gdal, sample(layer)],
                   check=True)
    theirs = coordinates(json.loads(gdal.read_text()))
    for args in (["dump", "--to-crs", "EPSG:4326"], ["dump", "--rfc7946"]):
        ours = json.loads(run(*args, sample(layer)).stdout)
        assert "crs" not in ours
        close(coordinates(ours), theirs)
    # The other way: GeoJSON in the layer's own system, with its "crs" member, into WGS 84.
    there, back = tmp_path / "there.geojson", tmp_path / "back.shp"
    run("convert", sample(layer), there)
    run("convert", "--to-crs", "EPSG:4326", there, back)
    assert same(srs_of(back), srs_of(gdal))
    close(coordinates(json.loads(run("dump", back).stdout)), theirs)


@pytest.mark.parametrize("given, kept", [
    ("EPSG:2263", "EPSG:2263"), ("urn:ogc:def:crs:EPSG::4267", "EPSG:4267"),
    (pyproj.CRS("EPSG:2263").to_wkt(), "EPSG:2263"),              # WKT2
    (pyproj.CRS("EPSG:2263").to_wkt("WKT1_GDAL"), "EPSG:2263"),
    (pyproj.CRS("EPSG:4267").to_wkt("WKT1_ESRI"), "EPSG:4267"),
    (pyproj.CRS("EPSG:2263").to_json(), "EPSG:2263"),             # PROJJSON
    (pyproj.CRS("EPSG:32618"), "EPSG:32618"),                     # a pyproj CRS
], ids=["code", "urn", "wkt2", "wkt1", "esri", "projjson", "pyproj"])
def test_writer_writes_any_system_as_a_prj_that_geopandas_reads_back(tmp_path, given, kept):
    path = tmp_path / "w.shp"
    with kel.Writer(path, "Point", [("N", "N", 4)], crs=given) as w:
        w.write({"type": "Point", "coordinates": [1.0, 2.0]}, [1])
    assert geopandas.read_file(path).crs == kept
    assert kel.open(path).crs == kept


@pytest.mark.parametrize("layer", ["python3-geopandas/nybb", "r-cran-sf/nc",
                                   "r-cran-spdata/NY8_utm18", "r-cran-sf/olinda1"])
def test_a_geodataframe_written_reads_back_with_its_system(sample, tmp_path, layer):
    frame = geopandas.read_file(sample(layer))
    ours = geopandas.GeoDataFrame.from_features(kel.open(sample(layer)),
                                                crs=kel.open(sample(layer)).crs)
    assert ours.crs == frame.crs
    kel.write(tmp_path / "out.shp", frame)
    assert geopandas.read_file(tmp_path / "out.shp").crs == frame.crs


def test_projected_coordinates_without_a_member_get_no_prj(sample, tmp_path):
    eire = tmp_path / "eire.geojson"
    run("convert", sample("r-cran-spdata/eire"), eire)
    warned = run("convert", eire, tmp_path / "back.shp").stderr
    assert not (tmp_path / "back.prj").exists()
    assert "coordinates that cannot be WGS 84 longitudes and latitudes; no .prj" in warned
    failed = run("convert", "--to-crs", "EPSG:4326", eire, tmp_path / "t.shp", status=1).stderr
    assert "the coordinates' system is unknown" in failed
    assert not (tmp_path / "t.shp").exists()


@pytest.mark.parametrize("args, said", [
    (["dump", "--to-crs", "EPSG:99999999", "nybb"], "--to-crs: PROJ reads no coordinate "),
    (["dump", "--to-crs", "", "nybb"], "--to-crs: the coordinate reference system is empty"),
    (["dump", "--to-crs", "EPSG:4326", "--rfc7946", "nybb"], "exclude each other"),
    (["dump", "--rfc7946", "eire"], "eire.shp has no .prj file"),
    (["convert", "--rfc7946", "crs.geojson", "out.shp"], "--rfc7946 is for shapefile to GeoJSON"),
    (["convert", "crs.geojson", "out.shp"], "its \"crs\" member: PROJ reads no coordinate"),
], ids=["unknown", "empty", "both", "no-prj", "rfc7946-in", "member"])
def test_refusals_say_why(sample, tmp_path, args, said):
    (tmp_path / "crs.geojson").write_text(
        '{"type":"FeatureCollection","crs":{"type":"name","properties":{"name":"nowhere"}},'
        '"features":[]}')
    names = {"nybb": sample("python3-geopandas/nybb"), "eire": sample("r-cran-spdata/eire")}
    args = [names.get(a, tmp_path / a if a.endswith(("json", ".shp")) else a) for a in args]
    done = subprocess.run([KELSHP, *map(str, args)], capture_output=True, text=True)
    assert done.returncode in (1, 2) and said in done.stderr and not done.stdout
    assert not (tmp_path / "out.shp").exists()
    with pytest.raises(ValueError, match="crs: PROJ reads no coordinate reference system"):
        kel.Writer(tmp_path / "w.shp", "Point", [("N", "N", 4)], crs="nowhere")

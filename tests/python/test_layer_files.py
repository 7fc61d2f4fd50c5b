"""The files of a layer as the file system holds them: a FIFO, socket or device in the place of
any of them is refused at once by every reader, and companions are found whatever their letter
case. Every command runs under a timeout, so that a reader that blocks fails instead of hanging."""

import os
import socket
import subprocess
import sys

import pytest
import shapefile as pyshp

import kelshapelib as kel
from support import KELSHP

OPEN = "import kelshapelib, sys; kelshapelib.open(sys.argv[1])"
# Every reading entry point: kelshp's commands and the Python reader, given the layer's stem.
READERS = {
    "info": lambda d: [KELSHP, "info", d / "a"],
    "dump": lambda d: [KELSHP, "dump", d / "a"],
    "check": lambda d: [KELSHP, "check", d / "a"],
    "copy": lambda d: [KELSHP, "copy", d / "a", d / "out"],
    "render": lambda d: [KELSHP, "render", d / "a", "-o", d / "a.svg"],
    "convert": lambda d: [KELSHP, "convert", d / "a.shp", d / "a.geojson"],
    "open": lambda d: [sys.executable, "-c", OPEN, d / "a.shp"],
}


def run(command, **kwargs):
    return subprocess.run(list(map(str, command)), capture_output=True, text=True, timeout=20,
                          **kwargs)


def write_layer(stem, names=None):
    """A point layer of two records with a column, its files renamed as `names` ({".shp": ...})."""
    with pyshp.Writer(str(stem), shapeType=pyshp.POINT) as w:
        w.field("NAME", "C", 10)
        for i in range(2):
            w.point(i, i)
            w.record(f"p{i}")
    for ext in (".prj", ".cpg"):
        stem.with_suffix(ext).write_text("UTF-8" if ext == ".cpg" else 'GEOGCS["x"]')
    for ext, name in (names or {}).items():
        os.rename(stem.with_suffix(ext), stem.parent / name)


def special(path, kind):
    path.unlink(missing_ok=True)
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "socket":
        s = socket.socket(socket.AF_UNIX)
        s.bind(str(path))
        return s
    else:
        os.symlink(kind, path)
    return None


SPECIAL = [(ext, "fifo") for ext in (".shp", ".shx", ".dbf", ".prj", ".cpg")] + [
    (".shx", "/dev/zero"), (".dbf", "socket"), (".prj", "/dev/null")]


@pytest.mark.parametrize("ext,kind", SPECIAL)
@pytest.mark.parametrize("reader", READERS)
def test_a_special_file_in_a_layer_is_refused_at_once(tmp_path, ext, kind, reader):
    write_layer(tmp_path / "a")
    held = special(tmp_path / f"a{ext}", kind)
    r = run(READERS[reader](tmp_path))
    if held:
        held.close()
    assert r.returncode != 0, r
    said = r.stderr + r.stdout
    assert f"a{ext}: " in said and "not a regular file" in said and "no such" not in said, r
    assert not (tmp_path / "out.shp").exists()


@pytest.mark.parametrize("kind", ["fifo", "/dev/zero"])
def test_geojson_input_must_be_a_regular_file_or_standard_input(tmp_path, kind):
    special(tmp_path / "in.geojson", kind)
    r = run([KELSHP, "convert", tmp_path / "in.geojson", tmp_path / "out.shp"])
    assert r.returncode == 1 and "in.geojson: not a regular file" in r.stderr, r
    collection = ('{"type":"FeatureCollection","features":[{"type":"Feature","properties":'
                  '{"N":1},"geometry":{"type":"Point","coordinates":[1,2]}}]}')
    r = run([KELSHP, "convert", "-", tmp_path / "out.shp"], input=collection)
    assert r.returncode == 0, r
    assert [f.properties for f in kel.open(tmp_path / "out.shp")] == [{"N": 1}]


# The main file as named, its companions in other letter cases: the engine reads them all, and a
# copy takes the table, under the copy's own stem with lower-case extensions.
CASES = [{".shp": "H_CASE.SHP", ".shx": "h_case.shx", ".dbf": "H_Case.Dbf"},
         {".shp": "a.shp", ".shx": "A.Shx", ".dbf": "a.DBF", ".prj": "A.prj", ".cpg": "a.CpG"}]


@pytest.mark.parametrize("names", CASES)
def test_companions_are_found_whatever_their_letter_case(tmp_path, names):
    write_layer(tmp_path / "a", names)
    main = tmp_path / names[".shp"]
    with kel.open(main) as layer:
        assert [f.properties for f in layer] == [{"NAME": "p0"}, {"NAME": "p1"}]
        assert (layer.crs_wkt is not None) == (".prj" in names)
    r = run([KELSHP, "copy", main, tmp_path / "Copy"])
    assert r.returncode == 0 and r.stderr == "", r
    expected = {"Copy.shp", "Copy.shx", "Copy.dbf"} | {"Copy" + e for e in (".prj", ".cpg")
                                                       if e in names}
    assert {p.name for p in tmp_path.glob("Copy.*")} == expected
    assert [r.record for r in pyshp.Reader(str(tmp_path / "Copy")).shapeRecords()] == [["p0"],
                                                                                        ["p1"]]


def test_names_that_are_no_utf8_are_found_only_as_spelt(tmp_path):
    write_layer(tmp_path / os.fsdecode(b"b\xff"), {".dbf": os.fsdecode(b"b\xfe.dbf")})
    with kel.open(tmp_path / os.fsdecode(b"b\xff.shp")) as layer:
        assert [f.properties for f in layer] == [{}, {}]


def test_companions_that_differ_only_in_letter_case_are_refused(tmp_path):
    write_layer(tmp_path / "a", {".shp": "A.SHP", ".dbf": "a.Dbf"})
    (tmp_path / "a.dBf").write_bytes((tmp_path / "a.Dbf").read_bytes())
    for reader in ("info", "copy", "open"):
        r = run(READERS[reader](tmp_path))
        assert r.returncode != 0 and "a.Dbf" in r.stderr and "a.dBf" in r.stderr, r

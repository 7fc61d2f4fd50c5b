"""Layers inside zip archives: a zip of each sample layer reads as the layer itself through every
door (kelshp, kelshapelib.open by path, and the files handed in as file objects or bytes);
hostile archives, built byte by byte, are refused with their reason in bounded memory; and the
archives written here open in GDAL and pyshp."""

import io
import os
import struct
import subprocess
import zipfile
import zlib

import pytest
import shapefile as pyshp
from osgeo import ogr

import kelshapelib as kel
from support import KELSHP, SAMPLES, SAMPLE_LAYERS, SOURCE, kelshp

EXTENSIONS = (".shp", ".shx", ".dbf", ".prj", ".cpg")


def files_of(stem):
    return [stem + e for e in EXTENSIONS if os.path.exists(stem + e)]


def read_all(reader):
    # repr: NaN measures compare equal as text.
    return repr((reader.shape_type, reader.fields, reader.encoding, reader.crs_wkt,
                 reader.__geo_interface__))


@pytest.fixture(scope="module")
def samples():
    subprocess.run([str(SOURCE / "scripts" / "fetch-sample-shapefiles"), str(SAMPLES)], check=True,
                   capture_output=True)
    return [str(SAMPLES / layer) for layer in SAMPLE_LAYERS]


def test_sample_layers_read_from_an_archive_as_unpacked(samples, tmp_path):
    for stem in samples:
        name = os.path.basename(stem)
        archive = tmp_path / (name + ".zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for f in files_of(stem):
                z.write(f, "inner/dir/" + os.path.basename(f))
            z.writestr(f"__MACOSX/inner/dir/._{name}.shp", b"a resource fork, no layer")
        with kel.open(stem) as unpacked:
            expected = read_all(unpacked)
        handed = {e[1:]: open(stem + e, "rb") for e in EXTENSIONS if os.path.exists(stem + e)}
        handed["dbf"] = handed["dbf"].read()  # bytes as well as file objects
        for source in (archive, f"{archive}/inner/dir/{name}.shp", f"{archive}/inner/dir/{name}"):
            with kel.open(source) as r:
                assert read_all(r) == expected, source
        with kel.open(**handed) as r:
            assert read_all(r) == expected, name
        for f in handed.values():
            if not isinstance(f, bytes):
                f.close()
        assert kelshp("dump", archive) == kelshp("dump", stem), name
        assert kelshp("info", archive).split("\n")[1:] == kelshp("info", stem).split("\n")[1:]
        for source, copy in ((archive, tmp_path / "from-zip"), (stem, tmp_path / "from-files")):
            subprocess.run([KELSHP, "copy", source, copy], check=True, capture_output=True)
        for e in (".shp", ".shx", ".dbf"):
            assert (tmp_path / ("from-zip" + e)).read_bytes() == (
                tmp_path / ("from-files" + e)).read_bytes(), name + e


def local_header(name, method, flags, crc, packed, size):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x21, crc, packed, size,
                       len(name), 0) + name


def archive_bytes(members):
    """A zip of (name, stored bytes, method, flags, stated size), each header as given."""
    body, central = b"", b""
    for name, data, method, flags, size in members:
        name = name.encode()
        crc = zlib.crc32(data if method == 0 else b"")
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0, 0x21,
                               crc, len(data), size, len(name), 0, 0, 0, 0, 0, len(body)) + name
        body += local_header(name, method, flags, crc, len(data), size) + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central),
                      len(body), 0)
    return body + central + end


def deflated_zeros(n):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = bytes(1 << 20)
    return b"".join(z.compress(chunk) for _ in range(n >> 20)) + z.flush()


NC = str(SAMPLES / "r-cran-sf" / "nc")
GIB = 1 << 30
# Each hostile archive, as (what it is, its members, the reason it is refused for).
HOSTILE = [
    ("inflates past its stated size", lambda: [("nc.shp", deflated_zeros(256 << 20), 8, 0, 1000)],
     "inflates to more than the 1000 bytes it states"),
    ("states more than a member may take", lambda: [("nc.shp", deflated_zeros(1 << 20), 8, 0,
                                                     3 * GIB)],
     "more than the 1073741824 a member may take in memory"),
    ("states more than 1000 to 1", lambda: [("nc.shp", deflated_zeros(1 << 20), 8, 0, GIB)],
     "more than 1000 to 1: a zip bomb"),
    ("an encrypted member", lambda: [("nc.shp", open(NC + ".shp", "rb").read(), 0, 1,
                                      os.path.getsize(NC + ".shp"))],
     "the member is encrypted"),
    ("a name that climbs out", lambda: [("../nc.shp", open(NC + ".shp", "rb").read(), 0, 0,
                                         os.path.getsize(NC + ".shp"))],
     "../nc.shp: the name climbs out of the archive"),
    ("an absolute name", lambda: [("/tmp/nc.shp", open(NC + ".shp", "rb").read(), 0, 0,
                                   os.path.getsize(NC + ".shp"))],
     "/tmp/nc.shp: the name climbs out of the archive"),
    ("two layers", lambda: [(n, open(NC + ".shp", "rb").read(), 0, 0,
                             os.path.getsize(NC + ".shp")) for n in ("a/nc.shp", "b/nc.shp")],
     "the archive holds 2 layers (a/nc.shp, b/nc.shp): name one, as"),
]


@pytest.mark.parametrize("what, members, reason", HOSTILE, ids=[h[0] for h in HOSTILE])
def test_hostile_archives_are_refused_with_their_reason_in_bounded_memory(samples, tmp_path, what,
                                                                         members, reason):
    archive = tmp_path / "hostile.zip"
    archive.write_bytes(archive_bytes(members()))
    with pytest.raises(kel.FormatError, match=reason.replace("(", r"\(").replace(")", r"\)")):
        kel.open(archive)
    run = subprocess.run(["/usr/bin/time", "-f", "%M", KELSHP, "info", str(archive)],
                         capture_output=True, text=True, timeout=60)
    *told, peak = run.stderr.splitlines()
    assert run.returncode == 1 and reason in "\n".join(told)
    assert int(peak) < 64 * 1024, f"{what}: {peak} KiB at the peak"


def pyshp_records(source):
    with pyshp.Reader(source) as r:
        return [(tuple(s.points), tuple(rec)) for s, rec in zip(r.shapes(), r.records())]


def gdal_names(path):
    ds = ogr.Open(path)
    return [f.GetField("NAME") for f in ds.GetLayer(0)]


def write_with_writer(out, tmp):
    with kel.open(NC) as source, kel.Writer(out, source.shape_type, source.fields,
                                            crs_wkt=source.crs_wkt) as w:
        w.writerows(source)


def convert_from_geojson(out, tmp):
    kelshp("convert", NC + ".shp", tmp / "nc.geojson")
    kelshp("convert", tmp / "nc.geojson", out)
    os.remove(tmp / "nc.geojson")


WRITERS = {
    "kelshp copy": lambda out, tmp: kelshp("copy", NC + ".shp", out),
    "kelshp convert": convert_from_geojson,
    "kelshapelib.write": lambda out, tmp: kel.write(out, kel.open(NC), crs_wkt=kel.open(NC).crs_wkt),
    "kelshapelib.Writer": write_with_writer,
}


@pytest.mark.parametrize("writer", WRITERS)
def test_archives_written_here_open_in_gdal_and_pyshp(samples, tmp_path, writer):
    out = tmp_path / "out.zip"
    out.write_bytes(b"the old archive, replaced whole")
    WRITERS[writer](str(out), tmp_path)
    assert os.listdir(tmp_path) == ["out.zip"]  # nothing left beside it
    written = [e for e in EXTENSIONS if e != ".cpg" or writer != "kelshp copy"]  # nc has none
    assert sorted(zipfile.ZipFile(out).namelist()) == sorted("out" + e for e in written)
    source = pyshp_records(NC + ".shp")
    assert [p for p, _ in pyshp_records(str(out))] == [p for p, _ in source]
    assert gdal_names(f"/vsizip/{out}") == [rec[4] for _, rec in source]
    with kel.open(out) as r:
        assert len(r) == 100


def test_a_read_error_names_the_member_and_bytes_are_taken_as_files(samples):
    data = io.BytesIO(open(NC + ".shp", "rb").read()[:60])
    data.name = "nc-in-memory.shp"
    with pytest.raises(kel.FormatError, match="fewer than its 100-byte header") as e:
        kel.open(shp=data)
    assert e.value.file == "nc-in-memory.shp"
    with pytest.raises(TypeError, match="bytes or a file object opened in binary mode"):
        kel.open(shp=io.StringIO("text"))
    for both_or_neither in ({"path": NC, "shp": b""}, {"dbf": b""}):
        with pytest.raises(TypeError, match="takes either a path or the files"):
            kel.open(**both_or_neither)

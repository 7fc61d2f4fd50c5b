"""kelshapelib.open: every sample layer and corpus file read as fiona and pyshp read them and into
geopandas as geopandas.read_file reads them; the reader as a sequence; broken files."""

import datetime
import json
import os
import pathlib
import struct
import subprocess
import warnings

import fiona
import geopandas
import pandas
import pytest
import shapefile as pyshp
import shapely.geometry
from osgeo import ogr

import kelshapelib as kel
from support import (ACCEPTS_THE_GUESS_OF_PYSHP, KELSHP, LAYERS, LOGICAL, as_fiona_types,
                     canonical, kelshp, typed, vertices)


@pytest.mark.parametrize("layer", LAYERS)
def test_reads_as_fiona_and_pyshp(layer_path, layer):
    path = layer_path(layer)
    with warnings.catch_warnings(record=True) as told:
        warnings.simplefilter("always")
        with kel.open(path) as reader:
            ours = list(reader)
            fields, encoding, shape_type = reader.fields, reader.encoding, reader.shape_type
    # None of these files is irregular, but pyshp declares no code page (no .cpg, no language
    # mark): the Windows-1252 it was asked to write is guessed where the text is not all ASCII.
    guessed = layer.startswith("corpus:pyshp_") and len(ours) > 0
    assert [str(w.message) for w in told] == [
        f"{path.with_suffix('.dbf')}: no code page declared; the text reads as CP1252 (guessed)"
    ] * guessed
    # Where a table names no encoding GDAL hands its bytes on undecoded; both read it as we do.
    with fiona.open(path, encoding=encoding) as collection:
        theirs = list(collection)
        assert [f.name for f in fields] == list(collection.schema["properties"])
    assert [f.id for f in ours] == list(range(len(theirs)))
    for a, b in zip(ours, theirs):
        assert canonical(a.geometry) == canonical(b.geometry), a.id
        assert typed(a.properties) == as_fiona_types(b.properties, fields), a.id
    if shape_type.name != "MultiPatch":  # which pyshp gives as parts, and we as triangles
        with pyshp.Reader(str(path), encoding=encoding) as peer:
            assert [vertices(f.geometry) for f in ours] == [vertices(s) for s in peer.shapes()]


@ACCEPTS_THE_GUESS_OF_PYSHP
@pytest.mark.parametrize("layer", LAYERS)
def test_geopandas_takes_the_reader_as_read_file_reads_the_layer(layer_path, layer):
    path = layer_path(layer)
    reader = kel.open(path)
    theirs = geopandas.read_file(path, encoding=reader.encoding)
    if len(reader) == 0:  # from_features cannot make a frame of no features with a CRS
        assert len(theirs) == 0
        return
    ours = geopandas.GeoDataFrame.from_features(reader, crs=reader.crs)
    assert sorted(ours.columns) == sorted(theirs.columns)
    for field in reader.fields:
        a, b = ours[field.name], theirs[field.name]
        if field.type in "LD":  # bool and datetime.date, where fiona gives text
            a = a.map(lambda v: None if pandas.isna(v) else v).astype(object)
            b = b.map(lambda v: None if pandas.isna(v) else
                      as_fiona_types({field.name: v}, [field])[field.name][1]).astype(object)
        pandas.testing.assert_series_equal(a, b, check_exact=True)
    assert ours.crs == theirs.crs
    shapes = lambda frame: [canonical(g and shapely.geometry.mapping(g)) for g in frame.geometry]
    assert shapes(ours) == shapes(theirs)


@ACCEPTS_THE_GUESS_OF_PYSHP
@pytest.mark.parametrize("layer", LAYERS)
def test_a_writer_of_the_readers_fields_copies_the_layer(layer_path, layer, tmp_path):
    """The copy of doc/python.md: every value the reader hands out goes back into its column, and
    the copy reads back with the same values and nulls here, in GDAL and in pyshp."""
    copy = tmp_path / "copy.shp"
    with kel.open(layer_path(layer)) as reader:
        with kel.Writer(copy, reader.shape_type, reader.fields, encoding=reader.encoding,
                        crs_wkt=reader.crs_wkt) as writer:
            writer.writerows(reader)
        ours = [typed(f.properties) for f in reader]
        fields, encoding = reader.fields, reader.encoding
    with kel.open(copy) as back:
        assert [typed(f.properties) for f in back] == ours
    rows = [[value for _, value in row.values()] for row in ours]
    source = ogr.Open(str(copy))
    gdal = [[f.GetField(i) for i in range(len(fields))] for f in source.GetLayer(0)]
    with pyshp.Reader(str(copy), encoding=encoding) as peer:
        pyshp_rows = [list(r) for r in peer.iterRecords()]
    for name, theirs in (("GDAL", gdal), ("pyshp", pyshp_rows)) if fields else ():
        for i, (values, row) in enumerate(zip(rows, theirs, strict=True)):
            assert [peer_value(f, v) for f, v in zip(fields, row, strict=True)] == values, (name, i)


def peer_value(field, value):
    """A value as GDAL or pyshp gives it, as the engine types it: a blank is None, a Logical
    letter a bool, a date text a date; a number compares equal either way."""
    if isinstance(value, str):
        value = value.strip() or None
        if value is not None and field.type == "L":
            value = LOGICAL[value]
        elif value is not None and field.type == "D":
            value = datetime.date.fromisoformat(value.replace("/", "-"))
    return value


def small_layer(folder, n=3):
    """PointZ records with a Number and a Character column, written through the engine."""
    path = folder / "small.shp"
    with kel.Writer(path, "PointZ", [("N", "N", 4), ("NAME", "C", 8)], crs_wkt="WKT") as w:
        for i in range(n):
            w.write({"type": "Point", "coordinates": (i, -i, 0.5)}, [i, f"caf\u00e9 {i}"])
    return path


def test_the_reader_is_a_sequence_of_features(tmp_path):
    path = small_layer(tmp_path)
    with kel.open(path) as reader:
        assert (len(reader), [f.id for f in reader], reader[-1].id, reader[0].properties) == (
            3, [0, 1, 2], 2, {"N": 0, "NAME": "caf\u00e9 0"})
        assert reader[1].geometry == {"type": "Point", "coordinates": (1.0, -1.0, 0.5)}
        assert reader[1].__geo_interface__ == {"type": "Feature", "id": 1,
                                               "geometry": reader[1].geometry,
                                               "properties": {"N": 1, "NAME": "caf\u00e9 1"}}
        assert [f.id for f in reader[::-2]] == [2, 0]
        for start, stop, ids in [(1, None, [1, 2]), (-1, None, [2]), (0, 2, [0, 1]), (5, 9, [])]:
            assert [f.id for f in reader.iter(start, stop)] == ids
        for i in (3, -4, 2**70):
            with pytest.raises(IndexError):
                reader[i]
        collection = reader.__geo_interface__
        assert collection["type"] == "FeatureCollection"
        assert collection["features"] == [f.__geo_interface__ for f in reader]
        assert (reader.shape_type, reader.shape_type.code, reader.bounds) == (
            ("PointZ", 11), 11, (0.0, -2.0, 2.0, 0.0))
        assert reader.fields == [("N", "N", 4, 0), ("NAME", "C", 8, 0)]
        assert (reader.encoding, reader.crs_wkt) == ("UTF-8", "WKT")
        walk = iter(reader)
        next(walk)
    assert reader.closed
    for use in (len, lambda r: r[0], lambda r: r.fields, lambda r: next(walk)):
        with pytest.raises(ValueError):
            use(reader)


def test_open_takes_any_path_and_an_encoding(tmp_path):
    path = small_layer(tmp_path)
    for given in (str(path), str(path)[:-4], os.fsencode(path), pathlib.Path(str(path)[:-4])):
        assert len(kel.open(given)) == 3
    latin = kel.open(path, encoding="latin-1")
    assert (latin.encoding, latin[0].properties["NAME"]) == ("ISO-8859-1", "caf\u00c3\u00a9 0")
    with pytest.raises(LookupError):
        kel.open(path, encoding="no-such-encoding")
    with pytest.raises(FileNotFoundError) as missing:
        kel.open(tmp_path / "missing")
    assert missing.value.filename == str(tmp_path / "missing.shp")
    path.write_bytes(b"\0" * 100)
    with pytest.raises(kel.FormatError) as raised:
        kel.open(path)
    error = raised.value
    assert isinstance(error, kel.Error) and (error.file, error.offset, error.record) == (
        str(path), 0, None)
    assert str(error) == f"{path}: offset 0: {error.sentence}" and "9994" in error.sentence


def test_an_undeclared_code_page_is_guessed_and_said_unless_given(tmp_path):
    """capitals as DOS 850 holds them, no .cpg and no language mark: read through Python and
    every reading command of kelshp, with the guess said once, or in the encoding given."""
    names = ["Bel\u00e9m", "\u00c6r\u00f8sk\u00f8bing"]
    path = tmp_path / "capitals.shp"
    with kel.Writer(path, "Point", [("NAME", "C", 12)], encoding="cp850") as w:
        for name in names:
            w.write({"type": "Point", "coordinates": (0, 0)}, [name])
    (tmp_path / "capitals.cpg").unlink()
    guess = "no code page declared; the text reads as CP850 (guessed)"
    for given in (None, "cp850", "cp1252"):
        with warnings.catch_warnings(record=True) as told:
            warnings.simplefilter("always")
            read = [f.properties["NAME"] for f in kel.open(path, encoding=given)]
        assert [str(w.message) for w in told] == ([f"{path.with_suffix('.dbf')}: {guess}"]
                                                   if given is None else [])
        dump = subprocess.run([KELSHP, "dump", path] + (["--encoding", given] if given else []),
                              capture_output=True, text=True, check=True)
        assert dump.stderr == (f"kelshp: {path.with_suffix('.dbf')}: {guess}\n" if given is None
                               else "")
        want = [n.encode("cp850").decode(given or "cp850") for n in names]
        assert read == want and [f["properties"]["NAME"] for f in
                                 json.loads(dump.stdout)["features"]] == want
    # Every reading command takes --encoding, which quiets the guess; a copy's .cpg names it.
    for command in (["info", path], ["check", path], ["render", path, "-o", tmp_path / "c.svg"],
                    ["convert", path, tmp_path / "c.geojson"], ["copy", path, tmp_path / "copy"]):
        ran = subprocess.run([KELSHP, command[0], "--encoding", "cp850", *command[1:]],
                             capture_output=True, text=True)
        assert (ran.returncode, ran.stderr) == (0, ""), command
    assert "encoding    CP850" in kelshp("info", "--encoding", "850", path)
    assert (tmp_path / "copy.cpg").read_text() == "850"
    refused = subprocess.run([KELSHP, "dump", "--encoding", "utf-16", path], capture_output=True,
                             text=True)
    assert refused.returncode == 2 and "ASCII" in refused.stderr


def test_what_a_file_holds_wrong_is_warned_and_read_past(tmp_path):
    path = small_layer(tmp_path, 14)
    shp = bytearray(path.read_bytes())
    shx = path.with_suffix(".shx").read_bytes()
    third = 2 * struct.unpack(">i", shx[100 + 8 * 2:100 + 8 * 2 + 4])[0] + 8  # its contents
    shp[third:third + 4] = struct.pack("<i", 99)  # record 2: no shape type
    path.write_bytes(shp)
    dbf = bytearray(path.with_suffix(".dbf").read_bytes())
    header, length = struct.unpack("<HH", dbf[8:12])
    for row in range(14):  # every N value "abcd"
        dbf[header + row * length + 1:header + row * length + 5] = b"abcd"
    path.with_suffix(".dbf").write_bytes(dbf)
    with warnings.catch_warnings(record=True) as told:
        warnings.simplefilter("always")
        features = list(kel.open(path))
    assert [f.geometry is None for f in features[:4]] == [False, False, True, False]
    assert {f.properties["N"] for f in features} == {None}
    assert all(issubclass(w.category, kel.FormatWarning) for w in told)
    assert len(told) == 11 and "no more warnings" in str(told[-1].message)  # ten, then that
    record = [w.message for w in told if w.message.record == 2 and w.message.file == str(path)]
    assert len(record) == 1 and record[0].offset == third
    assert str(told[0].message).startswith(f"{path.with_suffix('.dbf')}: offset ")
    with warnings.catch_warnings():
        warnings.simplefilter("error", kel.FormatWarning)
        reader = kel.open(path)
        with pytest.raises(kel.FormatWarning):
            reader[0]

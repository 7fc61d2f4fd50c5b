"""Readers, writers and the object model's wrappers shared by threads, re-entered from the
callbacks of their own calls, and interrupted: each call gets its own records, a record is
written whole or refused, nothing touches freed memory, and Ctrl-C leaves the old layer."""

import contextlib
import gc
import os
import signal
import subprocess
import sys
import textwrap
import threading

import pytest

import kelshapelib as kel
from support import shape, shapefile

IN_USE = "in use by another call"


@contextlib.contextmanager
def racy(callback=None, threshold=20):
    """Threads switched as often as the interpreter can, and a Python callback at (nearly) every
    collection, which lets the interpreter switch in the middle of any allocation. The callback
    calls `callback` once armed: the with block's first statement arms it, allocating nothing
    the collector watches."""
    interval, thresholds, armed = sys.getswitchinterval(), gc.get_threshold(), []
    sys.setswitchinterval(1e-6)
    gc.set_threshold(threshold)
    gc.callbacks.append(lambda phase, info: callback and armed and callback())
    try:
        yield armed
    finally:
        gc.callbacks.pop()
        gc.set_threshold(*thresholds)
        sys.setswitchinterval(interval)


def run_threads(count, work):
    errors = []

    def guarded(t):
        try:
            work(t)
        except BaseException as e:  # noqa: BLE001 - handed to the test's thread
            errors.append(e)

    threads = [threading.Thread(target=guarded, args=(t,)) for t in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]


def line(k, n=8):
    """A line whose every coordinate tells its record."""
    return {"type": "LineString", "coordinates": [(float(k), float(i)) for i in range(n)]}


def write_layer(path, count, first=0):
    with kel.Writer(path, "PolyLine", [("K", "N", 9)]) as w:
        for k in range(first, first + count):
            w.write(line(k, 2 + k % 7), {"K": k})


class Number:
    """A number that Python code gives, as numpy's do: the interpreter may switch threads in it."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return float(self.value)


def test_threads_reading_one_reader_each_get_their_own_records(tmp_path):
    write_layer(tmp_path / "a", 300)
    expected = [{"type": "LineString", "coordinates": tuple(
        tuple(p) for p in line(k, 2 + k % 7)["coordinates"])} for k in range(300)]
    with kel.open(tmp_path / "a") as reader, racy():
        def work(t):
            kept = [reader[k] for _ in range(60) for k in range(300)]  # kept: collections run
            kept += list(reader.iter(t, t + 40))
            for i, f in enumerate(kept):
                k = i % 300 if i < 18000 else t + i - 18000
                assert (f.properties["K"], f.geometry) == (k, expected[k]), (t, i)

        run_threads(6, work)


def test_threads_writing_one_writer_write_every_record_whole(tmp_path):
    with racy(), kel.Writer(tmp_path / "w", "PolyLine", [("K", "N", 9), ("L", "N", 9)]) as w:
        def work(t):
            first = t * 6000
            for k in range(first, first + 5000):
                w.write(line(k, 20), [Number(k), Number(k)])
            w.writerows([{"geometry": line(k, 20), "properties": {"K": Number(k), "L": k}}
                         for k in range(first + 5000, first + 6000)])

        run_threads(4, work)
    with kel.open(tmp_path / "w") as r:
        assert sorted(f.properties["K"] for f in r) == list(range(24000))
        for f in r:
            assert {p[0] for p in f.geometry["coordinates"]} == {f.properties["K"]} == {
                f.properties["L"]}


def test_closing_in_another_thread_waits_for_the_calls_in_progress(tmp_path):
    write_layer(tmp_path / "r", 50)
    for _ in range(20):
        reader = kel.open(tmp_path / "r")
        w = kel.Writer(tmp_path / "c", "PolyLine", [("K", "N", 9)])
        read = []

        def work(t):
            try:
                while t == 0 and len(read) < 5:
                    pass
                if t == 0:
                    w.close()
                    reader.close()
                for k in range(50):
                    w.write(line(k), [k])
                    read.append(reader[k].properties["K"])
            except ValueError as e:  # once closed; never a crash or a half record
                assert "closed" in str(e)

        with racy():
            run_threads(3, work)
        with kel.open(tmp_path / "c") as r:
            assert 5 <= len(r) <= 100
            for f in r:
                assert {p[0] for p in f.geometry["coordinates"]} == {f.properties["K"]}


def closing(w):
    """A geometry, a number and a mapping that close the writer while it converts them."""

    class Geometry:
        @property
        def __geo_interface__(self):
            w.close()
            return line(1)

    class Number:
        def __float__(self):
            w.close()
            return 1.0

    class Row(dict):
        def items(self):
            w.close()
            return super().items()

    return [(Geometry(), None), (line(1), {"V": Number()}), (line(1), Row(V=2.0))]


@pytest.mark.parametrize("case", range(3))
def test_closing_a_writer_from_its_own_write_is_refused(tmp_path, case):
    write_layer(tmp_path / "old", 3)
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    w = kel.Writer(tmp_path / "old", "PolyLine", [("V", "N", 9, 2)])
    geometry, properties = closing(w)[case]
    for call in (lambda: w.write(geometry, properties),
                 lambda: w.writerows([{"geometry": geometry, "properties": properties}])):
        with pytest.raises(kel.WriteError, match=IN_USE):
            call()
        assert not w.closed and len(w) == 0
    w.write(line(5), [5.0])
    with pytest.raises(kel.WriteError, match=IN_USE):
        with w:  # the refusal leaves the with block by an exception: the new layer is dropped
            w.write(geometry, properties)
    assert w.closed and {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before


def test_reentering_a_reader_from_its_own_read_is_refused(tmp_path):
    write_layer(tmp_path / "a", 200)
    reader = kel.open(tmp_path / "a")
    refused = []

    def callback():
        try:
            reader.close()
        except RuntimeError as e:
            refused.append(str(e))

    everything = slice(None)
    with racy(callback, threshold=5) as armed:
        armed.append(True)
        features = reader[everything]
    assert refused and all(IN_USE in s for s in refused)
    assert [f.properties["K"] for f in features] == list(range(200))


def test_object_model_list_emptied_while_python_walks_it():
    sf = shapefile(kel.kelPolyLine,
                   [shape(kel.kelPolyLine, [[(k, 0), (k, 1)]]) for k in range(300)])
    shapes = sf.ShapeObjects

    def callback():
        while shapes.Count > 1:
            shapes.Remove(shapes.Count)

    with racy(callback, threshold=5) as armed:
        armed.append(True)
        walked = sf.__geo_interface__  # the shapes as they were when the walk began
    assert [f["geometry"]["coordinates"][0][0] for f in walked["features"]] == list(range(300))
    assert shapes.Count == 1


CHILD = textwrap.dedent("""
    import sys, kelshapelib as kel
    feature = {"geometry": {"type": "Point", "coordinates": (1.0, 2.0)}, "properties": {"K": 1}}
    features = [feature] * 20_000_000
    try:
        with kel.Writer(sys.argv[1], "Point", [("K", "N", 9)]) as w:
            print("writing", flush=True)
            try:
                w.writerows(features)
            except KeyboardInterrupt:
                print("interrupted", len(w), flush=True)
                raise
        print("finished")
    except KeyboardInterrupt:
        print("abandoned", w.closed)
""")


def test_ctrl_c_in_writerows_raises_in_the_with_block_and_keeps_the_old_layer(tmp_path):
    write_layer(tmp_path / "old", 3)
    before = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    child = subprocess.Popen([sys.executable, "-c", CHILD, str(tmp_path / "old")],
                             stdout=subprocess.PIPE, text=True, env=os.environ)
    assert child.stdout.readline() == "writing\n"
    threading.Timer(0.2, os.kill, (child.pid, signal.SIGINT)).start()
    out, _ = child.communicate(timeout=120)
    words = out.split()
    assert words[::2] == ["interrupted", "abandoned"] and words[3] == "True", out
    assert 0 < int(words[1]) < 20_000_000
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == before


class Failing:
    def __float__(self):
        raise ValueError("no number")

    def __index__(self):
        raise ValueError("no index")


class BadText(int):
    def __str__(self):
        raise ValueError("no text")


@pytest.mark.parametrize("field,value", [
    (("L", "L"), "\ud800"), (("C", "C", 9), "\ud800"), (("N", "N", 9), Failing()),
    (("C", "C", 9), BadText(3)), (("D", "D"), "\ud800"),
], ids=["surrogate-L", "surrogate-C", "float", "str", "surrogate-D"])
def test_every_value_the_writer_cannot_convert_is_a_write_error(tmp_path, field, value):
    with kel.Writer(tmp_path / "v", "Point", [("A", "N", 3), field]) as w:
        w.write(None, [1, None])
        for row in ([1, value], {"A": 1, field[0]: value}):
            with pytest.raises(kel.WriteError) as e:
                w.write(None, row)
            assert (e.value.row, e.value.column) == (1, field[0])
    with pytest.raises(kel.WriteError, match="surrogate"):
        with kel.Writer(tmp_path / "v", "Point", [("A", "N", 3)]) as w:
            w.write({"type": "Po\ud800int", "coordinates": (1, 2)})

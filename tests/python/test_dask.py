"""kelshapelib.dask on a local cluster of two worker processes: many small layers and one large
one read in partitions give what one process reads."""

import subprocess
import sys

import numpy
import pandas
import pytest
from dask.distributed import Client, LocalCluster

import kelshapelib as kel
import kelshapelib.dask
from support import SOURCE

FIELDS = [("NUM", "N", 9), ("AMOUNT", "N", 12, 2), ("DAY", "D"), ("FLAG", "L"), ("NAME", "C", 8)]


def points(path, n, seed):
    """n PointZ records; every fifth has no values, and every seventh a null shape."""
    with kel.Writer(path, "PointZ", FIELDS) as w:
        for i in range(n):
            k = i + seed
            shape = {"type": "Point", "coordinates": (k % 1000 * 0.5, k // 1000 * 0.25, 1.0)}
            values = [k, k % 97 * 0.25, f"2024-01-{k % 28 + 1:02}", k % 2 == 0, f"n{k % 10}"]
            w.write(None if i % 7 == 3 else shape, [None] * 5 if i % 5 == 4 else values)
    return path


def facts(rows, num, amount, days, flags, names, xy):
    """Rows, the sum of each number, the count of each column's values and the bounds."""
    return {"rows": rows, "NUM": num.sum(), "AMOUNT": amount.sum(), "DAY": days.count(),
            "FLAG": flags.sum(), "NAME": names.count(), "xmin": xy[:, 0].min(initial=numpy.inf),
            "ymin": xy[:, 1].min(initial=numpy.inf), "xmax": xy[:, 0].max(initial=-numpy.inf),
            "ymax": xy[:, 1].max(initial=-numpy.inf)}


def summary(frame):
    """A partition's facts, its points' X and Y from their WKB."""
    xy = numpy.array([numpy.frombuffer(b, "<f8", 2, 5) for b in frame.geometry if b is not None])
    return pandas.DataFrame([facts(len(frame), frame.NUM, frame.AMOUNT, frame.DAY, frame.FLAG,
                                   frame.NAME, xy.reshape(-1, 2))])


def combined(parts):
    return parts.agg({"rows": "sum", "NUM": "sum", "AMOUNT": "sum", "DAY": "sum", "FLAG": "sum",
                      "NAME": "sum", "xmin": "min", "ymin": "min", "xmax": "max", "ymax": "max"})


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster:
        with Client(cluster) as c:
            yield c


@pytest.mark.parametrize("count, n, rows_per_partition",
                         [(100, 50, None), (1, 1_000_000, 150_000)])
def test_partitions_on_two_workers_read_what_one_process_reads(tmp_path, client, count, n,
                                                                rows_per_partition):
    paths = [points(tmp_path / f"layer{i}.shp", n + i, seed=i) for i in range(count)]
    frame = kelshapelib.dask.read_dataframe(paths, rows_per_partition=rows_per_partition)
    assert frame.npartitions == count * (-(-n // rows_per_partition) if rows_per_partition else 1)
    assert list(frame.columns) == [f[0] for f in FIELDS] + ["geometry"]
    got = combined(frame.map_partitions(summary, meta=summary(frame._meta)).compute())
    expected = []
    for path in paths:
        one = kel.read_dataframe(path, skip_geometry=True)
        xy = kel.read_arrays(path, columns=[])["coords"][:, :2]
        expected.append(facts(len(one), one.NUM, one.AMOUNT, one.DAY, one.FLAG == "T", one.NAME,
                              xy))
    assert got.to_dict() == combined(pandas.DataFrame(expected)).to_dict()
    # A partition becomes a GeoDataFrame whose geometries are the layer's.
    first = kelshapelib.dask.to_geodataframe(frame.get_partition(0).compute())
    assert list(first.geometry[:8].to_wkb()) == list(
        kel.read_dataframe(paths[0], rows=8).geometry.to_wkb())


def test_the_worked_example_of_the_docs_runs(tmp_path):
    page = (SOURCE / "doc" / "dask.md").read_text()
    (tmp_path / "example.py").write_text(page.split("```python\n")[1].split("```")[0])
    printed = subprocess.run([sys.executable, "example.py"], cwd=tmp_path, check=True,
                             capture_output=True, text=True).stdout.split("\n")
    rain = pandas.concat([kel.read_dataframe(tmp_path / f"rain{k}.shp", skip_geometry=True).RAIN
                          for k in range(10)])
    assert (printed[0], float(printed[1])) == ("20", pytest.approx(rain.mean()))
    assert printed[2].split()[0] == str((rain > 20).sum())

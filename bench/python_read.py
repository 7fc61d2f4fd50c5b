#!/usr/bin/python3
"""Times reading a layer like the benchmark's W2 (32,000 PolyLines of 100 vertices in two parts,
with a Character, a Number and a Date column) into GeoJSON-like features from Python:
kelshapelib.open against fiona and pyshp, and GeoDataFrame.from_features(reader) against
geopandas.read_file. Then data frames: kelshapelib.read_dataframe of W2 and of P1 (1,000,000
Points with 5 columns) against geopandas.read_file and GDAL's GetArrowStreamAsNumPy (the same
columns and WKB), with the peak memory of a process that reads the frame beside the frame's own
size; write_dataframe of W2 against GeoDataFrame.to_file; and kelshapelib.dask reading W2 in 4
partitions on 2 worker processes against one read_dataframe. Prints the median of each, in the
CPU time of the process (which the other work of a shared machine does not lengthen; every
contender reads on one thread; Dask in wall time), and the ratios. A benchmark, not a test.

    PYTHONPATH=build/python bench/python_read.py [DIR] [--repeat N]

DIR (default: a new temporary folder) receives w2.shp and p1.shp, written by kelshapelib once.
"""
import argparse
import array
import datetime
import json
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile
import time

import fiona
import geopandas
import shapefile as pyshp

import kelshapelib as kel


def make_w2(path):
    rng = random.Random(1)
    with kel.Writer(path, "PolyLine", [("NAME", "C", 20), ("VALUE", "N", 12, 3), ("DAY", "D")]) as w:
        for i in range(32000):
            x, y = rng.uniform(-170, 170), rng.uniform(-80, 80)
            line = []
            for _ in range(100):
                x += rng.uniform(-0.01, 0.01)
                y += rng.uniform(-0.01, 0.01)
                line.append((x, y))
            day = datetime.date(1990 + i % 35, 1 + i % 12, 1 + i % 28)
            w.write({"type": "MultiLineString", "coordinates": [line[:50], line[50:]]},
                    [f"feature {i}", (i % 100000) * 0.125 - 50.0, day])


def make_p1(path):
    fields = [("NAME", "C", 12), ("COUNT", "N", 9), ("VALUE", "N", 12, 3), ("DAY", "D"),
              ("OK", "L")]
    with kel.Writer(path, "Point", fields) as w:
        write = w.write
        for i in range(1_000_000):
            write({"type": "Point", "coordinates": (i % 1000 * 0.01, i // 1000 * 0.01)},
                  [f"p{i % 1000}", i, i % 977 * 0.125, datetime.date(2000 + i % 20, 1, 1),
                   i % 3 == 0])


def median(repeat, run):
    times = []
    for _ in range(repeat):
        start = time.process_time()
        run()
        times.append(time.process_time() - start)
    return statistics.median(times)


def kel_features(path):
    with kel.open(path) as reader:
        return [feature.__geo_interface__ for feature in reader]


def fiona_features(path):
    with fiona.open(path) as collection:
        return list(collection)  # fiona's own features, GeoJSON-like already


def pyshp_features(path):
    with pyshp.Reader(path) as reader:
        return [record.__geo_interface__ for record in reader.iterShapeRecords()]


def objects_alone(path):
    """The same number of (x, y) tuples, 32,000 times two lines of 50, made by CPython's own zip
    over arrays of doubles: what making the objects costs, whoever makes them."""
    xy = array.array("d", range(100))
    xs, ys = xy[:50], xy[50:]
    return [tuple(zip(xs, ys)) for _ in range(64000)]


def kel_frame(path):
    with kel.open(path) as reader:
        return geopandas.GeoDataFrame.from_features(reader, crs=reader.crs_wkt)


def gdal_arrow(path):
    """The columns and the WKB of every record as numpy arrays, by GDAL's Arrow stream."""
    from osgeo import gdal
    gdal.UseExceptions()
    dataset = gdal.OpenEx(str(path))
    batches = list(dataset.GetLayer(0).GetArrowStreamAsNumPy(options=["USE_MASKED_ARRAYS=NO"]))
    return batches


def kel_dataframe(path):
    return kel.read_dataframe(path)


def kel_wkb(path):
    """What GDAL's Arrow stream gives: the columns as numpy arrays and the WKB of each record."""
    with kel.open(path) as reader:
        return reader._columns(None, 0, len(reader), "wkb", False)


def peak_memory(path):
    """In a process of its own, in MB: how far its resident memory rose while it read the frame,
    and how much of it the frame holds once read. (VmHWM: a child's getrusage peak starts at its
    parent's.)"""
    script = f"""
import json, geopandas, numpy, pandas, shapely, kelshapelib
def status(key):
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith(key + ":"))
before = status("VmRSS")
frame = kelshapelib.read_dataframe({str(path)!r})
print(json.dumps([(status("VmHWM") - before) / 1024, (status("VmRSS") - before) / 1024]))
"""
    out = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True,
                         text=True).stdout
    return json.loads(out)


def dask_seconds(path, repeat):
    """Wall time of W2 in 4 partitions computed on 2 worker processes, against one read_dataframe
    (wall time too)."""
    import pandas
    import kelshapelib.dask
    from dask.distributed import Client, LocalCluster
    n = len(kel.open(path))
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster):
        frame = kelshapelib.dask.read_dataframe([path], rows_per_partition=-(-n // 4))
        frame.compute()  # the workers warm
        def parts():
            start = time.perf_counter()
            count = lambda part: pandas.Series([len(kelshapelib.dask.to_geodataframe(part))])
            frame.map_partitions(count, meta=(None, "int64")).compute()
            return time.perf_counter() - start
        dask = statistics.median(parts() for _ in range(repeat))
    def one():
        start = time.perf_counter()
        kel.read_dataframe(path)
        return time.perf_counter() - start
    return dask, statistics.median(one() for _ in range(repeat))


def frames_report(folder, repeat):
    w2, p1 = folder / "w2.shp", folder / "p1.shp"
    if not p1.exists():
        make_p1(p1)
    for name, path in [("W2", w2), ("P1", p1)]:
        ours = median(repeat, lambda: kel_dataframe(path))
        theirs = median(max(1, repeat // 2), lambda: geopandas.read_file(path))
        arrow = median(repeat, lambda: gdal_arrow(path))
        wkb = median(repeat, lambda: kel_wkb(path))
        grown, own = peak_memory(path)
        print(f"{name} into a GeoDataFrame: read_dataframe {ours:.3f} s, read_file {theirs:.3f} s "
              f"({ours / theirs:.2f}x), GDAL GetArrowStreamAsNumPy {arrow:.3f} s "
              f"({ours / arrow:.2f}x; the same columns and WKB {wkb:.3f} s, {wkb / arrow:.2f}x); "
              f"peak memory {grown:.0f} MB for a frame that holds {own:.0f} MB ({grown / own:.2f}x)")
    frame = kel.read_dataframe(w2)
    ours = median(repeat, lambda: kel.write_dataframe(frame, folder / "w2_kel.shp"))
    theirs = median(max(1, repeat // 2), lambda: frame.to_file(folder / "w2_gpd.shp"))
    print(f"W2 written: write_dataframe {ours:.3f} s, to_file {theirs:.3f} s "
          f"({ours / theirs:.2f}x)")
    dask, one = dask_seconds(w2, repeat)
    print(f"W2 in 4 partitions on 2 Dask worker processes, made GeoDataFrames there: {dask:.3f} s "
          f"wall, one read_dataframe {one:.3f} s ({dask / one:.2f}x)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir", nargs="?")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--frames", action="store_true", help="the data frames only")
    args = parser.parse_args()
    folder = pathlib.Path(args.dir or tempfile.mkdtemp(prefix="kel-python-bench-"))
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / "w2.shp"
    if not path.exists():
        make_w2(path)
    if args.frames:
        frames_report(folder, args.repeat)
        return
    assert len(kel_features(path)) == len(fiona_features(path)) == len(pyshp_features(path))

    features = {name: median(args.repeat, lambda run=run: run(path)) for name, run in
                [("kelshapelib", kel_features), ("fiona", fiona_features),
                 ("pyshp", pyshp_features), ("(the tuples alone)", objects_alone)]}
    frames = {name: median(args.repeat, lambda run=run: run(path)) for name, run in
              [("kelshapelib", kel_frame), ("geopandas", geopandas.read_file)]}
    print(f"W2 ({path}): {args.repeat} runs each, medians of CPU time")
    for name, seconds in features.items():
        print(f"  features   {name:18} {seconds:7.3f} s")
    for name, seconds in frames.items():
        print(f"  data frame {name:18} {seconds:7.3f} s")
    ours = features["kelshapelib"]
    print(f"kelshapelib / fiona {ours / features['fiona']:.2f}, / pyshp "
          f"{ours / features['pyshp']:.2f}, / the tuples alone "
          f"{ours / features['(the tuples alone)']:.2f}; from_features / read_file "
          f"{frames['kelshapelib'] / frames['geopandas']:.2f}")
    frames_report(folder, args.repeat)


if __name__ == "__main__":
    main()

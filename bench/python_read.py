#!/usr/bin/python3
"""Times reading a layer like the benchmark's W2 (32,000 PolyLines of 100 vertices in two parts,
with a Character, a Number and a Date column) into GeoJSON-like features from Python:
kelshapelib.open against fiona and pyshp, and GeoDataFrame.from_features(reader) against
geopandas.read_file. Prints the median of each, in the CPU time of the process (which the other
work of a shared machine does not lengthen; every contender reads on one thread), and the
ratios. A benchmark, not a test.

    PYTHONPATH=build/python bench/python_read.py [DIR] [--repeat N]

DIR (default: a new temporary folder) receives w2.shp, written by kelshapelib.Writer once.
"""
import argparse
import array
import datetime
import pathlib
import random
import statistics
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dir", nargs="?")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    folder = pathlib.Path(args.dir or tempfile.mkdtemp(prefix="kel-python-bench-"))
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / "w2.shp"
    if not path.exists():
        make_w2(path)
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


if __name__ == "__main__":
    main()

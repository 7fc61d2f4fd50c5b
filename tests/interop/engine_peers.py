#!/usr/bin/python3
"""Reads layers that the format engine wrote with GDAL, shapelib (shpdump, dbfdump) and pyshp, and
holds each reading against what the engine was given.

    engine_peers.py LAYER.shp EXPECTED.json [LAYER.shp EXPECTED.json ...]

EXPECTED.json, written by tests/interop/EngineWritten_test.cpp: the layer's shape type and
encoding, its columns as [name, letter, width, decimals], and its records, each with its shape
type, part starts, vertices as [x, y, z?, m?] (the Z of the Z types, the M of the records that hold
M values; null for "no measure") and its values, null for none.

Every peer must give every vertex bit for bit and every value typed as its column says; ogrinfo
must read the layer without a word on standard error. The differences of the peers that are theirs
and not the file's: GDAL gives a MultiPatch no M values, and a Logical value as its letter.
Prints what differs and exits with 1 when anything does.
"""
import datetime
import json
import re
import subprocess
import sys

import shapefile
from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.SetConfigOption('OGR_ORGANIZE_POLYGONS', 'SKIP')

NO_MEASURE = -1e38
POINT_TYPES = {1, 8, 11, 18, 21, 28}
Z_TYPES = {11, 13, 15, 18, 31}
M_TYPES = {21, 23, 25, 28}


def kind(column):
    _, letter, _, decimals = column
    if letter == 'N' and decimals == 0:
        return 'i'
    return {'C': 's', 'N': 'r', 'F': 'r', 'L': 'b', 'D': 'd'}[letter]


def value(k, v):
    """A value as a token all peers agree on: s TEXT, i INT, r REPR, b 0/1, d YYYYMMDD, - null."""
    if isinstance(v, str):
        v = v.strip()
        if v == '' or (k == 'b' and v == '?'):
            return '-'
        if k == 'b':
            return 'b1' if v in 'TtYy' else 'b0'
        if k == 'd':
            return 'd' + re.sub('[^0-9]', '', v)
    if v is None:
        return '-'
    if isinstance(v, (datetime.date, tuple)):
        y, m, d = (v.year, v.month, v.day) if isinstance(v, datetime.date) else v[:3]
        return 'd%04d%02d%02d' % (y, m, d)
    if k == 'b':
        return 'b1' if v else 'b0'
    if k == 'i':
        return 'i%d' % int(v)
    if k == 'r':
        return 'r' + repr(float(v))
    return 's' + v


def vertex(coordinates):
    """[x, y, z?, m?], every number as its bits and "no measure" (an M below -1e38) as None."""
    return [None if c is None or (i >= 2 and c < NO_MEASURE) else float(c).hex()
            for i, c in enumerate(coordinates)]


def canonical(features, keep_m=True):
    out = []
    for f in features:
        if f['shape'] is None:
            out.append({'shape': None, 'values': f['values']})
            continue
        vertices = [vertex(v if keep_m or len(v) < 4 else v[:3]) for v in f['shape']['v']]
        out.append({'shape': {'parts': f['shape']['parts'], 'v': vertices}, 'values': f['values']})
    return out


def expected(plan):
    kinds = [kind(c) for c in plan['columns']]
    features = []
    for r in plan['records']:
        values = [value(k, v if not isinstance(v, list) else tuple(v)) for k, v in zip(kinds, r['values'])]
        shape = None if r['type'] == 0 else {'parts': r['parts'], 'v': r['v']}
        features.append({'shape': shape, 'values': values})
    return features


def gdal_read(path, plan):
    """GDAL's reading, polygons left as their rings: it says so on standard error, and only what
    ogrinfo says counts."""
    gdal.PushErrorHandler('CPLQuietErrorHandler')
    kinds = [kind(c) for c in plan['columns']]
    source = ogr.Open(path)
    layer = source.GetLayer(0)
    features = []
    for f in layer:
        values = []
        for i, k in enumerate(kinds):
            if not f.IsFieldSetAndNotNull(i):
                values.append('-')
            elif k == 'd':
                values.append(value(k, tuple(f.GetFieldAsDateTime(i)[:3])))
            else:
                values.append(value(k, f.GetField(i)))
        g = f.GetGeometryRef()
        if g is None:
            features.append({'shape': None, 'values': values})
            continue
        leaves = []

        def walk(h):
            name = h.GetGeometryName()
            if name in ('POINT', 'LINESTRING', 'LINEARRING'):
                leaves.append(h)
            else:
                for j in range(h.GetGeometryCount()):
                    walk(h.GetGeometryRef(j))
        walk(g)
        vertices, parts = [], []
        for leaf in leaves:
            parts.append(len(vertices))
            for j in range(leaf.GetPointCount()):
                v = [leaf.GetX(j), leaf.GetY(j)]
                if g.Is3D():
                    v.append(leaf.GetZ(j))
                if g.IsMeasured():
                    v.append(leaf.GetM(j))
                vertices.append(v)
        if plan['type'] in POINT_TYPES:
            parts = []
        features.append({'shape': {'parts': parts, 'v': vertices}, 'values': values})
    gdal.PopErrorHandler()
    return features


def pyshp_read(path, plan):
    kinds = [kind(c) for c in plan['columns']]
    reader = shapefile.Reader(path, encoding=plan['encoding'])
    features = []
    for shape_record in reader.iterShapeRecords():
        s = shape_record.shape
        values = [value(k, v) for k, v in zip(kinds, shape_record.record)]
        if s.shapeType == 0:
            features.append({'shape': None, 'values': values})
            continue
        vertices = [list(p) for p in s.points]
        if plan['type'] in Z_TYPES:
            for v, z in zip(vertices, s.z):
                v.append(z)
        m = getattr(s, 'm', [])
        if len(m) == len(vertices):
            for v, x in zip(vertices, m):
                v.append(x)
        parts = [] if plan['type'] in POINT_TYPES else list(s.parts)
        features.append({'shape': {'parts': parts, 'v': vertices}, 'values': values})
    return features


def shapelib_read(path, plan):
    kinds = [kind(c) for c in plan['columns']]
    shapes = []
    for line in subprocess.run(['shpdump', '-precision', '17', path], check=True,
                               capture_output=True, text=True).stdout.splitlines():
        head = re.match(r'Shape:\d+ \((\w+)\)', line)
        point = re.match(r'\s*(\+)?\s*\(([^)]*)\)', line)
        if head:
            shapes.append(None if head.group(1) == 'NullShape' else {'parts': [], 'v': []})
        elif point and shapes and shapes[-1] is not None:
            numbers = [float(n) for n in point.group(2).split(',')]
            shape = shapes[-1]
            if plan['type'] not in POINT_TYPES and (not shape['v'] or point.group(1)):
                shape['parts'].append(len(shape['v']))
            t = plan['type']
            keep = numbers[:2] + (numbers[2:3] if t in Z_TYPES else [])
            if t in Z_TYPES | M_TYPES and len(numbers) > 3:
                keep.append(numbers[3])
            shape['v'].append(keep)
    dbf = path[:-4] + '.dbf'
    rows = []
    out = subprocess.run(['dbfdump', '-m', '-r', dbf], check=True, capture_output=True).stdout
    for line in out.split(b'\n'):
        if line.startswith(b'Record: '):
            rows.append([])
        elif rows and b':' in line:
            rows[-1].append(line[line.index(b':') + 1:].decode(plan['encoding']))
    if len(rows) < len(shapes):  # dbfdump prints nothing of a table without columns
        rows = [[] for _ in shapes]
    return [{'shape': s, 'values': [value(k, v) for k, v in zip(kinds, row)]}
            for s, row in zip(shapes, rows)]


def compare(peer, path, got, want):
    problems = []
    if len(got) != len(want):
        problems.append('%s: %s: %d features, not %d' % (peer, path, len(got), len(want)))
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            problems.append('%s: %s: feature %d:\n  read    %s\n  written %s' % (peer, path, i, g, w))
    return problems


def main(args):
    problems = []
    for path, spec_path in zip(args[0::2], args[1::2]):
        with open(spec_path) as f:
            plan = json.load(f)
        want = expected(plan)
        err = subprocess.run(['ogrinfo', '-ro', '-al', '-q', path], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE).stderr.decode(errors='replace')
        if err:
            problems.append('ogrinfo: %s: %s' % (path, err.strip()))
        multipatch = plan['type'] == 31
        for peer, read in (('GDAL', gdal_read), ('pyshp', pyshp_read), ('shapelib', shapelib_read)):
            keep_m = not (multipatch and peer == 'GDAL')
            problems += compare(peer, path, canonical(read(path, plan), keep_m),
                                canonical(want, keep_m))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

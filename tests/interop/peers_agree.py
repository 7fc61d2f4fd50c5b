#!/usr/bin/python3
"""Reads a shapefile with pyshp, with shapelib's shpdump and dbfdump, and with GDAL, and exits
with 1 and what differs unless all three give the same records: every X, Y and Z (and M, but
from GDAL, which drops a MultiPatch's) bit for bit, and every value, typed as its column says.

    peers_agree.py LAYER.shp

The format engine is held to GDAL's reading elsewhere (EngineReading.h), so a layer the engine
wrote that passes here reads alike in all four.
"""
import datetime
import re
import subprocess
import sys

import shapefile
from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.SetConfigOption('OGR_ORGANIZE_POLYGONS', 'SKIP')
NUMBER = r'-?[0-9.e+\-]+|-?inf|nan'


def token(letter, v):
    """A value as all readers agree on it; None for none."""
    if isinstance(v, bytes):
        v = v.decode(ENCODING)
    if isinstance(v, str):
        v = v.strip()
        if v == '' or v == '?' or set(v) == {'*'}:
            return None
    if v is None:
        return None
    if letter in 'NF':
        return float(v)
    if letter == 'L':
        return v in (True, 1) or str(v)[:1] in 'TtYy'
    if letter == 'D':
        return v.strftime('%Y%m%d') if isinstance(v, datetime.date) else re.sub('[^0-9]', '', v)
    return v


def pyshp(path):
    r = shapefile.Reader(path, encoding=ENCODING)
    letters = [f[1] for f in r.fields[1:]]
    out = []
    for s, rec in zip(r.iterShapes(), r.iterRecords()):
        z = list(getattr(s, 'z', [])) if s.shapeType in (11, 13, 15, 18, 31) else []
        xyz = [tuple(p) + ((z[i],) if z else ()) for i, p in enumerate(s.points)]
        out.append((xyz, [token(l, v) for l, v in zip(letters, rec)]))
    return letters, out


def shapelib(path, letters, z):
    text = subprocess.run(['shpdump', '-precision', '17', path], capture_output=True, text=True,
                          check=True).stdout
    shapes = re.split(r'\nShape:\d+ ', text)[1:]
    vertices = []
    for block in shapes:
        points = re.findall(r'^\s+(?:\+ )?\((%s),(%s), (%s)' % (NUMBER, NUMBER, NUMBER), block, re.M)
        vertices.append([tuple(float(c) for c in p[:3 if z else 2]) for p in points])
    raw = subprocess.run(['dbfdump', '-m', '-r', path[:-4] + '.dbf'], capture_output=True,
                         check=True).stdout
    rows = [re.findall(rb'^[^:\n]+: (.*)$', r, re.M) for r in raw.split(b'\nRecord: ')[1:]]
    return [(v, [token(l, x) for l, x in zip(letters, row)]) for v, row in zip(vertices, rows)]


def gdal_reading(path, letters, z):
    source = ogr.Open(path)  # the layer lives only as long as its source
    layer = source.GetLayer(0)
    # GDAL hands text over in UTF-8 when it knows the table's encoding, as the bytes it holds if not.
    recoded = bool(layer.GetMetadataItem('SOURCE_ENCODING', 'SHAPEFILE'))
    out = []
    for f in layer:
        g = f.GetGeometryRef()
        points = []
        def walk(g):
            if g.GetGeometryCount() == 0:
                points.extend(g.GetPoint(i)[:3 if z else 2] for i in range(g.GetPointCount()))
            for m in g:
                walk(m)
        if g is not None and not g.IsEmpty():
            walk(g)
        text = lambda i: bytes(f.GetFieldAsBinary(i)).decode('utf-8' if recoded else ENCODING)
        values = [token(l, text(i) if l == 'C' else f.GetField(i))
                  if f.IsFieldSetAndNotNull(i) else None for i, l in enumerate(letters)]
        out.append((points, values))
    return out


if __name__ == '__main__':
    path = sys.argv[1]
    ENCODING = 'utf-8'
    try:
        ENCODING = open(path[:-4] + '.cpg').read().strip() or 'utf-8'
    except OSError:
        ENCODING = 'cp1252'
    kind = shapefile.Reader(path).shapeType
    letters, ours = pyshp(path)
    z = kind in (11, 13, 15, 18, 31)
    readings = {'shapelib': shapelib(path, letters, z)}
    if kind != 31:  # GDAL reads a MultiPatch as triangles
        readings['GDAL'] = gdal_reading(path, letters, z)
    differ = 0
    for name, theirs in readings.items():
        for i, (a, b) in enumerate(zip(ours, theirs)):
            if a != b:
                differ += 1
                print(f'{path}: record {i}: pyshp reads {a}, {name} {b}')
        if len(ours) != len(theirs):
            differ += 1
            print(f'{path}: pyshp reads {len(ours)} records, {name} {len(theirs)}')
    sys.exit(1 if differ else 0)

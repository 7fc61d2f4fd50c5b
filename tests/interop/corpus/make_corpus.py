#!/usr/bin/python3
"""Writes one shapefile of the interop corpus with one of three writers that share no code with
the library: GDAL (ogr2ogr from GeoJSON or CSV written here), shapelib's command-line tools and
pyshp. Every writer gets the same shapes and rows, so the corpus differs only by writer.

    make_corpus.py DIR STEM    makes DIR/STEM.shp, .shx and .dbf
    make_corpus.py --list      prints the stems, one a line

The stems are WRITER_KIND, plus gdal_many (30,000 points through CSV), gdal_nocolumns (no
records and no columns) and pyshp_nullshape (a null shape second); then the same shapes with Z
and M values and a null shape second, as pyshp writes every Z and M type and MultiPatches (with
two F columns) and GDAL the types it is asked for (SHPT), and gdal_utf8, text beyond one code
page in a UTF-8 table.
Nothing depends on the clock or on chance, except the date each writer stamps into the table.
Run it with Debian's /usr/bin/python3, which has pyshp.
"""
import datetime
import json
import os
import subprocess
import sys

import shapefile  # pyshp

MAX = 1.7976931348623157e308
BIG_LINE = [(i * 0.5, (i * 7) % 13) for i in range(30000)]  # one shape of 30,000 vertices

# Each feature is a list of parts; a polygon is a list of polygons, each its outer ring
# (clockwise, as shapefiles run them) and its holes (counter-clockwise).
SHAPES = {
    'point': [[[(MAX, 5e-324)]], [[(-MAX, -0.0)]],
              [[(2.2250738585072014e-308, 0.30000000000000004)]], [[(-179.99999999999997, 1e-7)]]],
    'multipoint': [[[(MAX, -MAX), (5e-324, -5e-324)]], [[(5, 6)]],
                   [[(1 / 3, 2 / 3), (1 / 3, 2 / 3)]]],
    'line': [[[(0, 0), (1, 1)], [(2, 2), (3, 3), (4, 4)], [(-1e-300, 1e300), (0.1, 0.2)]],
             [BIG_LINE], [[(-MAX, 0), (MAX, 0)]]],
    'polygon': [
        [[[(0, 0), (0, 10), (10, 10), (10, 0), (0, 0)], [(2, 2), (4, 2), (4, 4), (2, 4), (2, 2)]]],
        [[[(20, 20), (20, 21), (21, 21), (20, 20)]],
         [[(30, 30), (30, 40), (40, 40), (40, 30), (30, 30)],
          [(32, 32), (34, 32), (34, 34), (32, 32)]]],
        [[[(0.1, 0.2), (-179.99999999999997, 1e-7), (1.5, -3.25), (0.1, 0.2)]]]],
    'empty': [],
}
SHAPE_TYPES = {'point': 1, 'line': 3, 'polygon': 5, 'multipoint': 8, 'empty': 5}

# NAME Character, COUNT Number without decimals, AMOUNT Number with 3, DAY Date, FLAG Logical,
# then a name of exactly 10 characters and a longer one that every writer cuts to LONGER_THA.
COLUMNS = ['NAME', 'COUNT', 'AMOUNT', 'DAY', 'FLAG', 'EXACTLY_10', 'LONGER_THAN_TEN']
ROWS = [
    ('Caf\u00e9 \u00df \u20ac \u0153 \u017d', 42, 3.25, datetime.date(2024, 1, 31), True, 'ten',
     'x'),
    ('', None, None, None, None, '  ', None),
    ('  padded  ', -7, -0.0005, datetime.date(1999, 12, 1), False, 'abcdefghij', ' y'),
    ('\u00c9t\u00e9', 0, 1e6, datetime.date(2000, 2, 29), True, '', 'z'),
]


# Z and M values, taken in turn: the ends of the double range, -0.0, subnormals, and None, a
# missing M, which pyshp writes as "no data" (-1e39). The first vertex of a file has an M, or GDAL
# would read the whole file without.
ZS = [1.5, -0.0, 1e300, 5e-324, -MAX, 0.30000000000000004, 8848.86]
MS = [2.5, None, -1e-300, MAX, 0.0, 1e38, -7.25]

# Every part type of a MultiPatch: a triangle strip, an outer ring with its hole and a fan; a
# strip too short for a triangle and rings grouped by first ring and ring; a hole before its
# outer ring. Z on every vertex, M on the first patch's.
SQUARE = [(0, 0), (0, 5), (5, 5), (5, 0), (0, 0)]
HOLE = [(1, 1), (2, 1), (2, 2), (1, 1)]
FAN = [(0, 0), (1, 0), (0.5, 1), (0, 1e-310)]
STRIP = [(0, 0), (1, 0), (0, 1), (1, 1), (2, -0.0)]
PATCHES = [([STRIP, SQUARE, HOLE, FAN], [0, 2, 3, 1]),
           ([STRIP[:2], SQUARE, HOLE, [(x + 9, y) for x, y in SQUARE]], [0, 4, 5, 5]),
           ([HOLE, SQUARE], [3, 2])]


def rows(n):
    return [ROWS[i % len(ROWS)] for i in range(n)]


def with_zm(vertices, first, z, m):
    """(x, y) pairs with Z and M values from the lists, the first taken at `first`; a closed
    ring stays closed."""
    out = [(x, y) + ((ZS[(first + k) % len(ZS)],) if z else ()) +
           ((MS[(first + k) % len(MS)],) if m else ()) for k, (x, y) in enumerate(vertices)]
    if len(out) > 2 and vertices[0] == vertices[-1]:
        out[-1] = out[0]
    return out


def flat_parts(kind, feature):
    return [ring for polygon in feature for ring in polygon] if kind == 'polygon' else feature


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def gdal(out, kind, encoding='CP1252', names=None):
    if kind == 'empty':  # GeoJSON holds no columns without features; a CSV header does
        return gdal_csv(out, ['WKT'] + COLUMNS, [],
                        ['-nlt', 'MULTIPOLYGON', '-oo', 'KEEP_GEOM_COLUMNS=NO'])
    geometry = {'point': lambda f: {'type': 'Point', 'coordinates': f[0][0]},
                'multipoint': lambda f: {'type': 'MultiPoint', 'coordinates': f[0]},
                'line': lambda f: {'type': 'MultiLineString', 'coordinates': f},
                'polygon': lambda f: {'type': 'MultiPolygon', 'coordinates': f}}
    features = [{'type': 'Feature', 'geometry': geometry[kind](f),
                 'properties': {c: (v.isoformat() if isinstance(v, datetime.date) else v)
                                for c, v in zip(COLUMNS, row)}}
                for f, row in zip(SHAPES[kind], rows(len(SHAPES[kind])))]
    for feature, name in zip(features, names or []):
        feature['properties']['NAME'] = name
    source = out + '.geojson'
    with open(source, 'w', encoding='utf-8') as f:
        json.dump({'type': 'FeatureCollection', 'features': features}, f)
    # GDAL has no Logical column of its own and writes booleans as Number 1.
    nlt = {'point': 'POINT', 'multipoint': 'MULTIPOINT', 'line': 'MULTILINESTRING'}
    ogr2ogr(out, source, ['-nlt', nlt.get(kind, 'MULTIPOLYGON')], encoding)


def gdal_utf8(out):
    # Greek, Japanese, an emoji (four bytes) and a combining accent, which no code page holds.
    gdal(out, 'point', 'UTF-8',
         ['\u0391\u03b8\u03ae\u03bd\u03b1 \u6771\u4eac', '\U0001f600', 'e\u0301\u00e9', '\u20ac'])


def gdal_nocolumns(out):
    # Without features a GeoJSON source has no columns, and GDAL writes a table of none.
    with open(out + '.geojson', 'w', encoding='utf-8') as f:
        json.dump({'type': 'FeatureCollection', 'features': []}, f)
    ogr2ogr(out, out + '.geojson', ['-nlt', 'POINT'])


def gdal_csv(out, header, lines, options):
    with open(out + '.csv', 'w', encoding='utf-8') as f:
        f.write(','.join(header) + '\n')
        f.writelines(line + '\n' for line in lines)
    ogr2ogr(out, out + '.csv', options)


def gdal_many(out):
    lines = ('%r,%r,n%d,%d,%r' % (i / 1000 - 15, (i * 7919 % 30000) / 3, i, i, i / 7)
             for i in range(30000))
    gdal_csv(out, ['X', 'Y', 'NAME', 'NUM', 'AMOUNT'], lines,
             ['-oo', 'X_POSSIBLE_NAMES=X', '-oo', 'Y_POSSIBLE_NAMES=Y', '-oo', 'AUTODETECT_TYPE=YES',
              '-oo', 'KEEP_GEOM_COLUMNS=NO'])


def ogr2ogr(out, source, options, encoding='CP1252'):
    # Without ENCODING GDAL writes the UTF-8 bytes into the table.
    run(['ogr2ogr', '-f', 'ESRI Shapefile', '-lco', 'ENCODING=' + encoding] + options +
        [out + '.shp', source])
    os.remove(source)


def gdal_zm(out, kind, shpt):
    """Through GDAL's own API, which takes M values, unlike GeoJSON: a null shape second."""
    from osgeo import ogr
    z, m = 'Z' in shpt, shpt.endswith('M')
    ogr.UseExceptions()
    source = ogr.GetDriverByName('ESRI Shapefile').CreateDataSource(out + '.shp')
    layer = source.CreateLayer(os.path.basename(out), None, ogr.wkbUnknown,
                               ['SHPT=' + shpt, 'ENCODING=CP1252'])
    for name, field_type in [('NAME', ogr.OFTString), ('COUNT', ogr.OFTInteger),
                             ('AMOUNT', ogr.OFTReal), ('DAY', ogr.OFTDate)]:
        layer.CreateField(ogr.FieldDefn(name, field_type))

    def geometry(wkb_type, parts):
        g = ogr.Geometry(wkb_type)
        for p in parts:
            for v in p:
                measure = (-1e39 if v[-1] is None else v[-1]) if m else None
                if z and m:
                    g.AddPointZM(v[0], v[1], v[2], measure)
                elif z:
                    g.AddPoint(v[0], v[1], v[2])
                else:
                    g.AddPointM(v[0], v[1], measure)
        return g

    def collection(wkb_type, member_type, members):
        g = ogr.Geometry(wkb_type)
        for member in members:
            g.AddGeometry(member_type(member))
        return g

    ring = lambda r: geometry(ogr.wkbLinearRing, [r])
    polygon = lambda rings: collection(ogr.wkbPolygon, ring, rings)
    make = {'point': lambda f: geometry(ogr.wkbPoint, f),
            'multipoint': lambda f: collection(ogr.wkbMultiPoint,
                                               lambda v: geometry(ogr.wkbPoint, [[v]]), f[0]),
            'line': lambda f: collection(ogr.wkbMultiLineString,
                                         lambda p: geometry(ogr.wkbLineString, [p]), f),
            'polygon': lambda f: collection(ogr.wkbMultiPolygon, polygon, f)}[kind]
    first = 0
    for i, (feature, row) in enumerate(zip(SHAPES[kind], rows(len(SHAPES[kind])))):
        f = ogr.Feature(layer.GetLayerDefn())
        for c, v in zip(['NAME', 'COUNT', 'AMOUNT', 'DAY'], row):
            if isinstance(v, datetime.date):
                f.SetField(c, v.year, v.month, v.day, 0, 0, 0, 0)
            elif v is not None:
                f.SetField(c, v)
        if i != 1:
            nested = feature if kind == 'polygon' else [feature]
            zm = [[with_zm(part, first + 3 * k, z, m) for k, part in enumerate(poly)]
                  for poly in nested]
            first += 1
            f.SetGeometry(make(zm if kind == 'polygon' else zm[0]))
        layer.CreateFeature(f)
    source = None


def shapelib(out, kind):
    # dbfcreate knows Character (-s) and Number (-n) columns only; dbfadd fills an empty Number
    # with asterisks and takes Windows-1252 bytes straight from the command line.
    run(['shpcreate', out, {'point': 'point', 'multipoint': 'multipoint', 'line': 'arc'}.get(
        kind, 'polygon')])
    run(['dbfcreate', out, '-s', 'NAME', '20', '-n', 'COUNT', '6', '0', '-n', 'AMOUNT', '12', '3',
         '-s', 'EXACTLY_10', '10', '-s', 'LONGER_THAN_TEN', '4'])
    for feature, row in zip(SHAPES[kind], rows(len(SHAPES[kind]))):
        vertices = []
        for k, part in enumerate(flat_parts(kind, feature)):
            vertices += (['+'] if k else []) + [repr(v) for xy in part for v in xy]
        run(['shpadd', out] + vertices)
        values = [row[0], row[1], row[2], row[5], row[6]]
        run([b'dbfadd', out.encode()] + [('' if v is None else str(v)).encode('cp1252')
                                          for v in values])


def pyshp(out, kind, null_at=None):
    w = shapefile.Writer(out, shapeType=SHAPE_TYPES[kind], encoding='cp1252')
    for c in [('NAME', 'C', 20), ('COUNT', 'N', 6), ('AMOUNT', 'N', 12, 3), ('DAY', 'D'),
              ('FLAG', 'L'), ('EXACTLY_10', 'C', 10), ('LONGER_THAN_TEN', 'C', 4)]:
        w.field(*c)
    for i, (feature, row) in enumerate(zip(SHAPES[kind], rows(len(SHAPES[kind])))):
        parts = [list(part) for part in flat_parts(kind, feature)]
        if i == null_at:
            w.null()
        elif kind == 'point':
            w.point(*parts[0][0])
        elif kind == 'multipoint':
            w.multipoint(parts[0])
        elif kind == 'line':
            w.line(parts)
        else:
            w.poly(parts)
        w.record(*row)
    w.close()


def pyshp_zm(out, kind, z, m):
    """Every Z and M type, and MultiPatch; a null shape second and two F columns."""
    code = {'point': 1, 'multipoint': 8, 'line': 3, 'polygon': 5, 'multipatch': 31}[kind]
    code += 0 if kind == 'multipatch' else 10 if z else 20
    w = shapefile.Writer(out, shapeType=code, encoding='cp1252')
    for c in [('NAME', 'C', 20), ('COUNT', 'N', 6), ('AMOUNT', 'N', 12, 3), ('DAY', 'D'),
              ('FLAG', 'L'), ('RATIO', 'F', 19, 11), ('WHOLE', 'F', 8, 0)]:
        w.field(*c)
    features = PATCHES if kind == 'multipatch' else SHAPES[kind]
    first = 0
    for i, (feature, row) in enumerate(zip(features, rows(len(features)))):
        if i == 1:
            w.null()
        elif kind == 'multipatch':
            parts, types = feature
            w.multipatch([with_zm(p, first + 3 * k, True, i == 0) for k, p in enumerate(parts)],
                         partTypes=types)
        else:
            parts = [with_zm(p, first + 3 * k, z, True)
                     for k, p in enumerate(flat_parts(kind, feature))]
            first += 1
            suffix = 'z' if z else 'm'
            if kind == 'point':
                getattr(w, 'point' + suffix)(*parts[0][0])
            elif kind == 'multipoint':
                getattr(w, 'multipoint' + suffix)(parts[0])
            else:
                getattr(w, {'line': 'line', 'polygon': 'poly'}[kind] + suffix)(parts)
        w.record(*row[:5], *[(0.125, 12), (None, None), (-2.5e-5, -7), (1234.5, 0)][i % 4])
    w.close()


STEMS = {'%s_%s' % (writer, kind): (lambda out, f=f, kind=kind: f(out, kind))
         for writer, f in (('gdal', gdal), ('shapelib', shapelib), ('pyshp', pyshp))
         for kind in SHAPES}
STEMS['gdal_many'] = gdal_many
STEMS['gdal_nocolumns'] = gdal_nocolumns
STEMS['pyshp_nullshape'] = lambda out: pyshp(out, 'point', null_at=1)  # the second record
for kind in ('point', 'multipoint', 'line', 'polygon'):
    for suffix, z in (('z', True), ('m', False)):
        STEMS['pyshp_%s%s' % (kind, suffix)] = lambda out, kind=kind, z=z: pyshp_zm(out, kind, z, True)
STEMS['pyshp_multipatch'] = lambda out: pyshp_zm(out, 'multipatch', True, True)
for kind, dims, shpt in (('point', 'z', 'POINTZ'), ('multipoint', 'm', 'MULTIPOINTM'),
                         ('line', 'zm', 'ARCZM'), ('polygon', 'z', 'POLYGONZ')):
    STEMS['gdal_' + kind + dims] = lambda out, kind=kind, shpt=shpt: gdal_zm(out, kind, shpt)
STEMS['gdal_utf8'] = gdal_utf8

if __name__ == '__main__':
    if sys.argv[1:] == ['--list']:
        print('\n'.join(STEMS))
    elif len(sys.argv) == 3 and sys.argv[2] in STEMS:
        STEMS[sys.argv[2]](os.path.join(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)

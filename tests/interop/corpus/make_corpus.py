#!/usr/bin/python3
"""Writes one shapefile of the interop corpus with one of three writers that share no code with
the library: GDAL (ogr2ogr from GeoJSON or CSV written here), shapelib's command-line tools and
pyshp. Every writer gets the same shapes and rows, so the corpus differs only by writer.

    make_corpus.py DIR STEM    makes DIR/STEM.shp, .shx and .dbf
    make_corpus.py --list      prints the stems, one a line

The stems are WRITER_KIND, plus gdal_many (30,000 points through CSV), gdal_nocolumns (no
records and no columns) and pyshp_nullshape (a null shape second).
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


def rows(n):
    return [ROWS[i % len(ROWS)] for i in range(n)]


def flat_parts(kind, feature):
    return [ring for polygon in feature for ring in polygon] if kind == 'polygon' else feature


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def gdal(out, kind):
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
    source = out + '.geojson'
    with open(source, 'w', encoding='utf-8') as f:
        json.dump({'type': 'FeatureCollection', 'features': features}, f)
    # GDAL has no Logical column of its own and writes booleans as Number 1.
    nlt = {'point': 'POINT', 'multipoint': 'MULTIPOINT', 'line': 'MULTILINESTRING'}
    ogr2ogr(out, source, ['-nlt', nlt.get(kind, 'MULTIPOLYGON')])


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


def ogr2ogr(out, source, options):
    # Without ENCODING GDAL writes the UTF-8 bytes into the table.
    run(['ogr2ogr', '-f', 'ESRI Shapefile', '-lco', 'ENCODING=CP1252'] + options +
        [out + '.shp', source])
    os.remove(source)


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


STEMS = {'%s_%s' % (writer, kind): (lambda out, f=f, kind=kind: f(out, kind))
         for writer, f in (('gdal', gdal), ('shapelib', shapelib), ('pyshp', pyshp))
         for kind in SHAPES}
STEMS['gdal_many'] = gdal_many
STEMS['gdal_nocolumns'] = gdal_nocolumns
STEMS['pyshp_nullshape'] = lambda out: pyshp(out, 'point', null_at=1)  # the second record

if __name__ == '__main__':
    if sys.argv[1:] == ['--list']:
        print('\n'.join(STEMS))
    elif len(sys.argv) == 3 and sys.argv[2] in STEMS:
        STEMS[sys.argv[2]](os.path.join(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)

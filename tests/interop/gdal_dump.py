#!/usr/bin/python3
"""Prints what GDAL reads from a shapefile, with GDAL's own settings, in lines that
tests/support/EngineReading.h parses:

    gdal_dump.py [--typed] [--encoding E] PATH

Text is decoded as the .cpg file or the language driver mark says (--encoding E sets
SHAPE_ENCODING to E instead), values typed as GDAL types them, and every coordinate with the
dimensions GDAL gives it:

    encoding NAME                             the encoding GDAL read the table in, - for none
    column NAMEHEX WIDTH PRECISION KIND       KIND s String, i Integer, l Integer64, r Real, d Date
    feature NAME DIMS LEAVES                  NAME the geometry's WKT name or none; DIMS xy, xyz,
                                              xym or xyzm; LEAVES lines of these:
    part X Y [Z] [M] ...                      a leaf's vertices: a point's, a multipoint's, a line,
                                              a ring (a triangle's included), in GDAL's order
    values VALUE ...                          s and the UTF-8 bytes in hex, i INT, r REAL,
                                              d YEAR-MONTH-DAY, - null

Doubles are printed with repr(), which reads back to the very same double. Polygon rings are not
regrouped into outer rings and holes, so they come in file order. Every reading is typed; --typed
is taken and changes nothing.
"""
import sys

from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.SetConfigOption('OGR_ORGANIZE_POLYGONS', 'SKIP')

KINDS = {ogr.OFTInteger: 'i', ogr.OFTInteger64: 'l', ogr.OFTReal: 'r', ogr.OFTDate: 'd'}


def leaves(g):
    if g.GetGeometryCount() == 0 or ogr.GT_Flatten(g.GetGeometryType()) == ogr.wkbMultiPoint:
        points = [g] if g.GetGeometryCount() == 0 else list(g)
        return [[p.GetPointZM(i) for p in points for i in range(p.GetPointCount())]]
    return [leaf for member in g for leaf in leaves(member)]


def value(f, i, kind):
    if not f.IsFieldSetAndNotNull(i):
        return '-'
    if kind == 's':
        return 's' + bytes(f.GetFieldAsBinary(i)).hex()
    if kind == 'd':
        return 'd%d-%d-%d' % tuple(f.GetFieldAsDateTime(i)[:3])
    return kind + repr(f.GetField(i))


def dump(path, out):
    source = ogr.Open(path)  # the layer lives only as long as its source
    layer = source.GetLayer(0)
    out.write('encoding %s\n' % (layer.GetMetadataItem('SOURCE_ENCODING', 'SHAPEFILE') or '-'))
    defn = layer.GetLayerDefn()
    kinds = []
    for i in range(defn.GetFieldCount()):
        d = defn.GetFieldDefn(i)
        kinds.append(KINDS.get(d.GetType(), 's'))
        out.write('column %s %d %d %s\n' % (d.GetName().encode().hex(), d.GetWidth(),
                                            d.GetPrecision(), kinds[-1]))
    for f in layer:
        g = f.GetGeometryRef()
        ls = leaves(g) if g is not None and not g.IsEmpty() else []
        dims = 'xy' + ('z' if g is not None and g.Is3D() else '') + (
            'm' if g is not None and g.IsMeasured() else '')
        out.write('feature %s %s %d\n' % (g.GetGeometryName() if g is not None else 'none', dims,
                                          len(ls)))
        axes = [0, 1] + ([2] if 'z' in dims else []) + ([3] if 'm' in dims else [])
        for leaf in ls:
            out.write('part ' + ' '.join(repr(v[a]) for v in leaf for a in axes) + '\n')
        out.write(' '.join(['values'] + [value(f, i, k) for i, k in enumerate(kinds)]) + '\n')


if __name__ == '__main__':
    args = [a for a in sys.argv[1:] if a != '--typed']
    gdal.SetConfigOption('SHAPE_ENCODING', args[1] if args[0] == '--encoding' else None)
    dump(args[-1], sys.stdout)

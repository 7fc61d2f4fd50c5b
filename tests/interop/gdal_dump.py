#!/usr/bin/python3
"""Prints what GDAL reads from a shapefile, in lines the interop tests parse:

    column NAMEHEX WIDTH PRECISION KIND      one per column; KIND s, i, r or d
    feature TYPE PARTS                        TYPE the shapefile type of the geometry, 0 for none
    part X Y X Y ...                          PARTS of these, vertices in file order
    values VALUE ...                          s followed by hex bytes, i INT, r REAL, d YYYYMMDD, - null

Doubles are printed with repr(), which reads back to the very same double. Text is the table's
bytes as they lie (GDAL trims the blanks around them): the library reads every table as
Windows-1252 whatever a .cpg or language byte says, so the bytes are what both sides must agree
on. Polygon rings are not regrouped into outer rings and holes, so they come in file order.
"""
import sys

from osgeo import gdal, ogr

gdal.UseExceptions()
gdal.SetConfigOption('SHAPE_ENCODING', '')
gdal.SetConfigOption('OGR_ORGANIZE_POLYGONS', 'SKIP')

SHAPE_TYPES = {ogr.wkbPoint: 1, ogr.wkbLineString: 3, ogr.wkbMultiLineString: 3,
               ogr.wkbPolygon: 5, ogr.wkbMultiPolygon: 5, ogr.wkbMultiPoint: 8}
KINDS = {ogr.OFTInteger: 'i', ogr.OFTInteger64: 'i', ogr.OFTReal: 'r', ogr.OFTDate: 'd'}


def parts(g):
    t = ogr.GT_Flatten(g.GetGeometryType())
    if t in (ogr.wkbPoint, ogr.wkbLineString, ogr.wkbLinearRing):
        return [g.GetPoints()]
    if t == ogr.wkbMultiPoint:  # a multipoint is one part, as in the file
        return [[p for point in g for p in point.GetPoints()]]
    return [p for member in g for p in parts(member)]


def value(f, i, kind):
    if kind == 's':
        return 's' + bytes(f.GetFieldAsBinary(i)).hex()
    if not f.IsFieldSetAndNotNull(i):
        return '-'
    if kind == 'd':
        return 'd%04d%02d%02d' % tuple(f.GetFieldAsDateTime(i)[:3])
    return kind + repr(f.GetField(i))


def dump(path, out):
    source = ogr.Open(path)  # the layer lives only as long as its source
    layer = source.GetLayer(0)
    defn = layer.GetLayerDefn()
    kinds = []
    for i in range(defn.GetFieldCount()):
        d = defn.GetFieldDefn(i)
        kinds.append(KINDS.get(d.GetType(), 's'))
        out.write('column %s %d %d %s\n' % (d.GetName().encode().hex(), d.GetWidth(),
                                            d.GetPrecision(), kinds[-1]))
    for f in layer:
        g = f.GetGeometryRef()
        ps = parts(g) if g is not None else []
        out.write('feature %d %d\n' % (SHAPE_TYPES.get(ogr.GT_Flatten(g.GetGeometryType()), -1)
                                       if g is not None else 0, len(ps)))
        for p in ps:
            out.write('part ' + ' '.join('%r %r' % (v[0], v[1]) for v in p) + '\n')
        out.write(' '.join(['values'] + [value(f, i, k) for i, k in enumerate(kinds)]) + '\n')


if __name__ == '__main__':
    dump(sys.argv[1], sys.stdout)

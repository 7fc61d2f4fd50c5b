"""Holds a FeatureCollection read back from a shapefile against the GeoJSON it was converted from.

    convert_compare.py SOURCE BACK [KIND]

BACK is the GeoJSON that `kelshp convert` made of the shapefile, or the shapefile itself, which
GDAL then reads (through its API, which hands on every double as it lies). Every coordinate must
be the same double (Python reads JSON numbers as exactly as C++ does), with no measure given (a
PointZ record has room for one: null), every property the same value of the same kind (a number,
text, true or false, null), and a polygon's rings the source's rings run the way the reader gives
them: kelshp as RFC 7946 has them (outer rings counter-clockwise, holes clockwise), GDAL as the
shapefile holds them (the other way round). GDAL 3.6 reads a Logical column as the text T, F or ?, taken here for true, false and null.
With KIND (point, multipoint, line, polygon, null), BACK holds only the source's features of that
kind, as `--split-types` writes them.
"""
import json
import sys

KINDS = {None: "null", "Point": "point", "MultiPoint": "multipoint", "LineString": "line",
         "MultiLineString": "line", "Polygon": "polygon", "MultiPolygon": "polygon"}


def area2(ring):
    return sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:]))


def oriented(polygon, outer_counter_clockwise):
    rings = []
    for i, ring in enumerate(polygon):
        counter_clockwise = (i == 0) == outer_counter_clockwise
        rings.append(ring if (area2(ring) > 0) == counter_clockwise else ring[::-1])
    return rings


def expected(geometry, rfc):
    if geometry is None:
        return None
    kind, coordinates = geometry["type"], geometry["coordinates"]
    if kind in ("MultiLineString", "MultiPolygon") and len(coordinates) == 1:
        kind, coordinates = kind[5:], coordinates[0]  # a shapefile tells one from the other not
    if kind == "Polygon":
        coordinates = oriented(coordinates, rfc)
    elif kind == "MultiPolygon":
        coordinates = [oriented(p, rfc) for p in coordinates]
    return {"type": kind, "coordinates": coordinates}


def flat(nested):
    return [v for x in nested for v in flat(x)] if isinstance(nested, list) else [nested]


def typed(value):
    """The value with its kind, so that true is not 1 and 1 is 1.0."""
    kind = {bool: "bool", int: "number", float: "number", str: "text"}.get(type(value), value)
    return (kind, value)


GDAL_TYPES = {"POINT": "Point", "MULTIPOINT": "MultiPoint", "LINESTRING": "LineString",
              "MULTILINESTRING": "MultiLineString", "POLYGON": "Polygon",
              "MULTIPOLYGON": "MultiPolygon"}


def gdal_coordinates(g):
    if g.GetGeometryName() == "POINT":
        return list(g.GetPoint() if g.Is3D() else g.GetPoint_2D())
    if g.GetGeometryName() in ("LINESTRING", "LINEARRING"):
        return [list(p) for p in g.GetPoints()]
    return [gdal_coordinates(g.GetGeometryRef(i)) for i in range(g.GetGeometryCount())]


def logical_columns(dbf_path):
    """The names of the table's L columns, which its header tells and GDAL does not."""
    with open(dbf_path, "rb") as f:
        header = f.read()
    header = header[:int.from_bytes(header[8:10], "little")]
    descriptors = [header[i:i + 32] for i in range(32, len(header) - 1, 32)]
    return {d[:11].rstrip(b"\0").decode() for d in descriptors if d[11:12] == b"L"}


def gdal_features(path):
    from osgeo import ogr
    ogr.UseExceptions()
    source = ogr.Open(path)  # the layer lives only as long as its source
    layer = source.GetLayer(0)
    dates = {layer.GetLayerDefn().GetFieldDefn(i).GetName() for i in range(layer.GetLayerDefn().GetFieldCount())
             if layer.GetLayerDefn().GetFieldDefn(i).GetType() == ogr.OFTDate}
    logical = logical_columns(path[:-4] + ".dbf")
    features = []
    for f in layer:
        g = f.GetGeometryRef()
        geometry = g and {"type": GDAL_TYPES[g.GetGeometryName()], "coordinates": gdal_coordinates(g)}
        properties = {k: v.replace("/", "-") if k in dates and v else v for k, v in f.items().items()}
        properties.update({k: {"T": True, "F": False}.get(properties[k]) for k in logical})
        features.append({"geometry": geometry, "properties": properties})
    return features


def main(source_path, ours_path, kind=None):
    reader = "gdal" if ours_path.endswith(".shp") else "kelshp"
    source = json.load(open(source_path, encoding="utf-8"))["features"]
    if kind is not None:
        source = [f for f in source if KINDS[f["geometry"] and f["geometry"]["type"]] == kind]
    ours = gdal_features(ours_path) if reader == "gdal" else json.load(open(ours_path, encoding="utf-8"))["features"]
    assert len(ours) == len(source), (len(ours), len(source))
    for i, (theirs, mine) in enumerate(zip(source, ours)):
        where = f"{ours_path}: feature {i + 1}"
        geometry = {k: mine["geometry"][k] for k in ("type", "coordinates")} if mine["geometry"] else None
        assert geometry == expected(theirs["geometry"], reader == "kelshp"), where
        assert all(m is None for m in flat(mine.get("measures"))), where  # no measures
        names = set(theirs["properties"] or {}) | set(mine["properties"])
        got = {n: typed(mine["properties"].get(n)) for n in names}
        want = {n: typed((theirs["properties"] or {}).get(n)) for n in names}
        assert got == want, (where, got, want)


if __name__ == "__main__":
    main(*sys.argv[1:])

// The module's data frame functions, read_arrays, read_dataframe and write_dataframe, and its
// submodule kelshapelib.dask: Python over the bulk reader and writer (python/Columns.cpp,
// Writer._write_frame), defined in the module so that they pickle by name into Dask's workers.
// numpy, pandas, geopandas and dask are imported only when a function needs them.

#include <pybind11/eval.h>

#include "python/Engine.h"

namespace kelpy::engine {

namespace {

constexpr const char* kFrames = R"py(
def _row_range(rows, n):
    """The records [start, stop) that `rows` selects of n: None for all, an int for the first
    that many, or a slice or range of step 1."""
    if rows is None:
        return 0, n
    if isinstance(rows, bool) or not isinstance(rows, (int, slice, range)):
        raise TypeError(f"rows is an int, a slice or a range, not {type(rows).__name__}")
    if isinstance(rows, int):
        if rows < 0:
            raise ValueError(f"rows={rows}: a number of rows is not negative")
        return 0, min(rows, n)
    if rows.step not in (None, 1):
        raise ValueError(f"rows={rows!r}: the rows are a range of step 1")
    start, stop, _ = slice(rows.start, rows.stop).indices(n)
    return start, max(start, stop)


def _selected(reader, columns, rows, geometry, letters):
    if isinstance(columns, str):
        raise TypeError("columns is a list of names, not a str")
    start, stop = _row_range(rows, len(reader))
    return reader._columns(None if columns is None else list(columns), start, stop, geometry,
                           letters)


def read_arrays(path, columns=None, bbox=None, where=None, rows=None, skip_geometry=False,
                encoding=None):
    """read_arrays(path, columns=None, bbox=None, where=None, rows=None, skip_geometry=False, encoding=None) -> dict

    A layer's records as numpy arrays, without a Python object per value or vertex (text aside).
    Returns a dict:

    - "columns": {name: (values, nulls)}: N and F columns as int64 (no decimals, at most 18
      digits) or float64, D as datetime64[D], L as bool, with a bool array that is True where
      the field holds no value (the value there is 0, NaN, NaT or False); C and other columns as
      an object array of str, None where there is no value, and nulls None.
    - "coords": the vertices as one (n, 2) float64 array, (n, 3) for the Z types; "m": their M
      values (NaN for none) for the types with M, else None.
    - "part_offsets": int64, part k's vertices are coords[part_offsets[k]:part_offsets[k + 1]]
      (the points of a Point or MultiPoint record are one part; a Polygon's parts are its rings as
      the file holds them, not grouped); "geometry_offsets": int64, record i's parts are
      geometry_offsets[i] to geometry_offsets[i + 1] (none for a null shape).
    - "shape_types": int32, each record's shape type code (0 for a null shape).
    - "shape_type", "crs", "crs_wkt", "encoding": the layer's, as a Reader gives them.

    columns names the columns to read (all when None), rows the records of the file (None for
    all, an int for the first that many, or a slice or range), of which bbox and where keep
    those open keeps; skip_geometry leaves the geometry arrays out; encoding is open's. The
    layer is read as open reads it, with the same warnings."""
    with open(path, bbox=bbox, where=where, encoding=encoding) as reader:
        got = _selected(reader, columns, rows, "none" if skip_geometry else "arrays", False)
        got["columns"] = {name: (values, nulls) for name, _, values, nulls in got["columns"]}
        got.update(shape_type=reader.shape_type, crs=reader.crs, crs_wkt=reader.crs_wkt,
                   encoding=reader.encoding)
    return got


def _read_file_column(kind, values, nulls):
    """A column as geopandas.read_file gives it: numbers as int64, or float64 with NaN where
    there is no value; dates as "YYYY-MM-DD" str and logical values as their letter; a column
    of rows without a single value as float64 NaN, whatever its type; one of no rows as
    objects."""
    import numpy
    if nulls is None:
        nulls = numpy.equal(values, None)
    if len(values) == 0:
        return numpy.empty(0, dtype=object)
    if nulls.all():
        return numpy.full(len(values), numpy.nan)
    if kind == "int64" and not nulls.any():
        return values
    if kind in ("int64", "float64"):
        values = values.astype("float64")
        values[nulls] = numpy.nan
        return values
    if kind.startswith("datetime64"):
        values = numpy.datetime_as_string(values).astype(object)
    values[nulls] = numpy.nan
    return values


def read_dataframe(path, columns=None, bbox=None, where=None, rows=None, skip_geometry=False,
                   encoding=None):
    """read_dataframe(path, columns=None, bbox=None, where=None, rows=None, skip_geometry=False, encoding=None) -> Any

    The layer as a geopandas.GeoDataFrame, or a pandas.DataFrame with skip_geometry=True, with
    the columns, dtypes and values geopandas.read_file gives: N and F columns as int64, or as
    float64 with NaN where a field holds no value; text, dates ("YYYY-MM-DD") and logical values
    (their letter) as str, NaN where there is none; a column with no value at all as None
    objects. The geometries are shapely's, made from WKB in bulk; the CRS is the reader's crs.
    Arguments as read_arrays'."""
    import numpy
    import pandas
    with open(path, bbox=bbox, where=where, encoding=encoding) as reader:
        got = _selected(reader, columns, rows, "none", True)
        crs = reader.crs
        if not skip_geometry:
            # The geometries a few thousand at a time: their WKB and the geometries made of it
            # are not all held at once.
            start, stop = _row_range(rows, len(reader))
            geometries = [_geometries(reader._columns([], k, min(k + _CHUNK, stop), "wkb",
                                                      False)["wkb"])
                          for k in range(start, stop, _CHUNK)]
    data = {name: _read_file_column(kind, values, nulls)
            for name, kind, values, nulls in got["columns"]}
    frame = pandas.DataFrame(data, index=pandas.RangeIndex(got["count"]), columns=list(data))
    if skip_geometry:
        return frame
    import geopandas
    geometry = geopandas.GeoSeries(geopandas.array.GeometryArray(
        numpy.concatenate(geometries) if geometries else numpy.empty(0, dtype=object)), crs=crs)
    return geopandas.GeoDataFrame(frame, geometry=geometry, crs=crs)


_CHUNK = 4096


def _geometries(wkb):
    """An object array of the geometries of WKB bytes (None for none), made in bulk: by shapely
    2's from_wkb, else one at a time as fast as shapely 1 makes them."""
    import numpy
    import shapely
    if hasattr(shapely, "from_wkb"):
        return shapely.from_wkb(wkb)
    make = _shapely1_factory()
    return numpy.fromiter((None if b is None else make(b) for b in wkb), dtype=object,
                          count=len(wkb))


def _from_wkb(wkb, crs=None):
    """A GeoSeries of WKB bytes."""
    import geopandas
    return geopandas.GeoSeries(geopandas.array.GeometryArray(_geometries(wkb)), crs=crs)


def _shapely1_factory():
    """A function that makes a shapely 1.8 geometry of WKB that _columns wrote. Measured on
    points, the public ways take 14 us (shapely.wkb.loads, geopandas.array.from_wkb) to 17 us (a
    WKBReader) a geometry; shapely's own factory asks GEOS for the type and Z and imports its
    class each time. Here the WKB's header tells both, and GEOS is asked once: 5 us. A GEOS reader
    holds its input while it reads, and ctypes lets go of the GIL: each thread has its own."""
    if _made:
        return _made[0]
    import threading
    from shapely import geometry
    from shapely.geometry.base import BaseGeometry
    from shapely.geos import lgeos
    classes = {1: geometry.Point, 2: geometry.LineString, 3: geometry.Polygon,
               4: geometry.MultiPoint, 5: geometry.MultiLineString, 6: geometry.MultiPolygon}
    read = lgeos._lgeos.GEOSWKBReader_read_r
    handle = lgeos.geos_handle
    new = BaseGeometry.__new__
    local = threading.local()

    def make(b):
        reader = getattr(local, "reader", None)
        if reader is None:
            reader = local.reader = lgeos.GEOSWKBReader_create()
        if type(b) is not bytes:
            raise TypeError(f"a geometry is WKB bytes or None, not {type(b).__name__}")
        g = read(handle, reader, b, len(b))
        if not g:
            raise ValueError("GEOS cannot read the WKB")
        code = int.from_bytes(b[1:5], "little")
        ob = new(classes[code & 0xFF])
        # What shapely 1.8's geom_factory sets; __setattr__ would warn of each.
        ob.__dict__.update(__geom__=g, __p__=None, _ndim=3 if code >> 31 else 2,
                           _is_empty=False)
        return ob
    _made.append(make)
    return make


_made = []


def _wkb_of(geometries):
    """The WKB of each geometry, None for None: shapely 2's to_wkb, else one GEOS writer a
    thread (shapely 1.8's .wkb makes one a geometry, which takes twice the time)."""
    import numpy
    import shapely
    geometries = numpy.asarray(geometries, dtype=object)
    if hasattr(shapely, "to_wkb"):
        return list(shapely.to_wkb(geometries, output_dimension=3))
    if not _writers:
        import threading
        from shapely.geos import WKBWriter, lgeos
        local = threading.local()

        def write(g):
            writer = getattr(local, "writer", None)
            if writer is None:
                writer = local.writer = WKBWriter(lgeos)
            return writer.write(g)
        _writers.append(write)
    write = _writers[0]
    return [None if g is None else write(g) for g in geometries]


_writers = []


def _frame_column(series):
    """A column of a frame as the writer takes it: int64, float64, bool, datetime64[D] or
    objects (None for no value)."""
    import numpy
    import pandas
    values = series.to_numpy()
    kind = values.dtype.kind
    if kind == "i" or (kind == "u" and (len(values) == 0 or values.max() < 2**63)):
        return values.astype("int64")
    if kind == "f":
        return values.astype("float64")
    if kind == "b":
        return values
    if kind == "M":
        days = values.astype("datetime64[D]")
        if not (~numpy.isnat(values) & (days != values)).any():
            return days
        values = series.astype(object).to_numpy()  # Timestamps, which a time of day refuses
    values = values.astype(object)
    values[pandas.isna(series).to_numpy()] = None
    return values


def write_dataframe(frame, path, shape_type=None, encoding="utf-8", crs_wkt=None, cut=False,
                    wide_integers_as_text=False, crs=None):
    """write_dataframe(frame, path, shape_type=None, encoding="utf-8", crs_wkt=None, cut=False, wide_integers_as_text=False, crs=None) -> int

    Writes a geopandas.GeoDataFrame (or a pandas.DataFrame, whose rows have no geometry) as a
    new layer at path, all of it or, on any error, none of it; returns the number of records.
    The geometries go as WKB and the columns as numpy arrays, planned as kelshapelib.write plans
    features: the same shape type, columns, names and refusals (NaN, None and NaT are no
    value). The .prj file is crs_wkt or crs when given, else the frame's CRS, in the ESRI dialect
    of WKT. Other arguments as write's."""
    geometry = getattr(frame, "_geometry_column_name", None)
    if geometry is not None and geometry not in frame.columns:
        geometry = None
    names = [name for name in frame.columns if name != geometry]
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"a column's name is a str, not {type(name).__name__}")
    if geometry is None:
        wkb = [None] * len(frame)
    else:
        wkb = _wkb_of(frame[geometry].values)
        if crs_wkt is None and crs is None:
            crs = getattr(frame, "crs", None)
    writer = Writer(path, shape_type, None, encoding, crs_wkt, cut, wide_integers_as_text, crs)
    writer._write_frame(wkb, names, [_frame_column(frame[name]) for name in names])
    return len(frame)
)py";

constexpr const char* kDask = R"py(
"""Layers read by Dask: kelshapelib.dask.read_dataframe(paths) is a dask.dataframe.DataFrame
whose partitions are row ranges of the layers, each read by random access through the layer's
index in the worker that computes it. Geometries come as WKB bytes (a column "geometry"), which
to_geodataframe turns into shapely geometries; dask, pandas and geopandas are imported when
used."""

# A column's dtype in a partition, the same in every partition: nullable integers and logical
# values, NaN and NaT for no float or date.
_DTYPES = {"int64": "Int64", "float64": "float64", "datetime64[D]": "datetime64[ns]",
           "bool": "boolean", "object": "object"}


def _frame(got):
    import pandas
    data = {}
    for name, kind, values, nulls in got["columns"]:
        if nulls is None:
            data[name] = pandas.Series(values, dtype="object")
        elif kind in ("int64", "bool"):
            data[name] = pandas.arrays.IntegerArray(values, nulls) if kind == "int64" else \
                pandas.arrays.BooleanArray(values, nulls)
        else:
            data[name] = pandas.Series(values).astype(_DTYPES[kind])
    data["geometry"] = pandas.Series(got["wkb"], dtype="object") if "wkb" in got else \
        pandas.Series([], dtype="object")
    n = len(data["geometry"])
    return pandas.DataFrame(data, index=pandas.RangeIndex(n))


def read_partition(part, columns=None, bbox=None, where=None, encoding=None):
    """read_partition(part, columns=None, bbox=None, where=None, encoding=None) -> Any

    One partition as a pandas.DataFrame: part is (path, start, stop), the records start to
    stop - 1 of the layer at path that bbox and where keep; the columns as read_dataframe has
    them, and "geometry" as WKB bytes (None for a null shape)."""
    path, start, stop = part
    with kelshapelib.open(path, bbox=bbox, where=where, encoding=encoding) as reader:
        return _frame(reader._columns(columns, start, stop, "wkb", False))


def partitions(paths, rows_per_partition=None):
    """partitions(paths, rows_per_partition=None) -> list

    The (path, start, stop) ranges that read_dataframe reads: each layer whole, or in ranges of
    rows_per_partition records."""
    if isinstance(paths, (str, bytes)) or hasattr(paths, "__fspath__"):
        paths = [paths]
    if rows_per_partition is not None and rows_per_partition < 1:
        raise ValueError(f"rows_per_partition={rows_per_partition}: at least 1")
    parts = []
    for path in paths:
        with kelshapelib.open(path) as reader:
            n = len(reader)
        step = rows_per_partition or max(n, 1)
        parts.extend((path, start, min(start + step, n)) for start in range(0, max(n, 1), step))
    return parts


def read_dataframe(paths, rows_per_partition=None, columns=None, bbox=None, where=None,
                   encoding=None):
    """read_dataframe(paths, rows_per_partition=None, columns=None, bbox=None, where=None, encoding=None) -> Any

    A dask.dataframe.DataFrame of the layers at paths (one path or many, all with the same
    columns): a partition per layer, or per rows_per_partition records of a layer. Columns as
    the first layer has them (or those named): N and F as Int64 (nullable) or float64 (NaN for
    no value), D as datetime64[ns] (NaT), L as boolean (nullable), text as str objects (None);
    then "geometry", the shapes as WKB bytes. Each partition is read where it is computed, and
    keeps the records that bbox and where keep, as open has them."""
    import dask.dataframe
    parts = partitions(paths, rows_per_partition)
    with kelshapelib.open(parts[0][0], encoding=encoding) as reader:
        meta = _frame(reader._columns(None if columns is None else list(columns), 0, 0, "wkb",
                                      False))
    return dask.dataframe.from_map(read_partition, parts, columns=None if columns is None else
                                   list(columns), bbox=bbox, where=where, encoding=encoding,
                                   meta=meta, enforce_metadata=False)


def to_geodataframe(partition, crs=None):
    """to_geodataframe(partition, crs=None) -> Any

    A partition (or any frame with a "geometry" column of WKB) as a geopandas.GeoDataFrame,
    its geometries made in bulk; crs as geopandas takes it (a reader's crs)."""
    import geopandas
    frame = partition.drop(columns="geometry")
    geometry = kelshapelib._from_wkb(partition["geometry"].to_numpy(), crs)
    geometry.index = frame.index
    return geopandas.GeoDataFrame(frame, geometry=geometry, crs=crs)
)py";

}  // namespace

void bindFrames(py::module_& module) {
  py::exec(kFrames, module.attr("__dict__"));
  // kelshapelib.dask, a module of its own that `import kelshapelib.dask` finds in sys.modules.
  py::module_ dask = module.def_submodule("dask");
  dask.attr("__name__") = "kelshapelib.dask";
  dask.attr("kelshapelib") = module;  // not imported: the module is being made
  py::exec(kDask, dask.attr("__dict__"));
  py::module_::import("sys").attr("modules")["kelshapelib.dask"] = dask;
}

}  // namespace kelpy::engine

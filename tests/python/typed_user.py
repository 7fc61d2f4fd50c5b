"""A script as a user with a type checker writes it; mypy --strict checks it against the stubs."""

import kelshapelib as kel


def count_points(path: str, name: str) -> int:
    sf = kel.Shapefile()
    if not sf.readShapefile(path, name):
        failure = sf.last_failure
        raise SystemExit(failure.sentence if failure else "unreadable")
    total = 0
    for i in range(1, sf.ShapeObjectCount + 1):
        shape = sf.getShapeObject(i)
        total += shape.CoordinateCount
    box = sf.BoundingBox
    width: float = box.xMax - box.xMin
    return total + int(width * 0)


def describe() -> str:
    d = kel.TableDescriptor()
    d.setTableDescriptor("NAME", kel.kelFieldTypeCharacter, 20)
    return f"{kel.__version__}: {d.name} {d.width}"


def engine_copy(source: str, target: str) -> int:
    with kel.open(source) as reader:
        kind = reader.shape_type
        names = [field.name for field in reader.fields]
        with kel.Writer(target, kind, reader.fields, crs_wkt=reader.crs_wkt) as writer:
            for feature in reader:
                writer.write(feature.geometry, feature.properties)
        return len(names) + kind.code + kel.write(target, list(reader.iter(0, 1)))

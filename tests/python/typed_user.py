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

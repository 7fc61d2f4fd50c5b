"""The classes as scripts see them: generated from the type library, sharing references with the
library, converting values as automation does, raising kelshapelib.Error."""

import gc
import inspect
import os
import re
import subprocess
import sys

import pytest

import kelshapelib as kel
from support import coordinate, kelshp, shape, shapefile

MEMBER = re.compile(r'\[id\(0x[0-9a-f]+\)(?:, (propget|propput|propputref))?, helpstring\("([^"\n]*)"\)\]\n\s+HRESULT (\w+)\((.*)\);')
PARAMETER = re.compile(r'\[([^\]]*)\] [^,]*?(\w+)(?:, |$)')


def interfaces():
    """Each interface of `kelshp typelib` with its class help and members (name -> kind, help)."""
    listing = kelshp("typelib")
    for block in re.finditer(r'helpstring\("([^"\n]*)"\)\]\n\s+interface _(\w+) : IDispatch \{(.*?)\};', listing, re.S):
        members = {}
        for kind, help_, name, parameters in MEMBER.findall(block.group(3)):
            # A method's parameters, with whether each is optional; a property's value is no parameter.
            taken = [(p, "optional" in a) for a, p in PARAMETER.findall(parameters) if "retval" not in a]
            members.setdefault(name, (kind or "method", help_, taken if not kind else None))
        yield block.group(2), block.group(1), members


def test_every_class_and_member_of_the_type_library_is_there_with_its_help():
    classes = list(interfaces())
    assert [c[0] for c in classes] == ["BoundingBox", "Coordinate", "ShapeObject", "Record", "RecordField",
                                       "TableDescriptor", "TableDescription", "Shapefile"]
    for name, documentation, members in classes:
        cls = getattr(kel, name)
        assert cls.__doc__ == documentation
        for member, (kind, help_, parameters) in members.items():
            attribute = cls.__dict__[member]
            assert isinstance(attribute, property) == (kind != "method"), (name, member)
            assert attribute.__doc__.endswith("\n\n" + help_), (name, member)
            if parameters is not None:
                signature = list(inspect.signature(attribute).parameters.values())[1:]
                assert [(p.name, p.default is not p.empty) for p in signature] == parameters, (name, member)
        # Nothing beyond the type library, except the written-back paths, the last failure and
        # the reading and writing of one path.
        public = {a for a in cls.__dict__ if not a.startswith("_")}
        extra = {"basepath", "filename", "last_failure", "read", "write"} if name == "Shapefile" else set()
        assert public - set(members) == extra


def test_enumerations_and_their_constants():
    assert kel.kelPolyLine == kel.ShapeTypeConstants.kelPolyLine == 3
    assert {c.name: int(c) for c in kel.FieldTypeConstants} == {
        "kelFieldTypeCharacter": 67, "kelFieldTypeDate": 68, "kelFieldTypeLogical": 76, "kelFieldTypeNumber": 78}
    s = kel.ShapeObject()
    s.ShapeType = kel.kelPolygon
    assert s.ShapeType is kel.ShapeTypeConstants.kelPolygon
    s.ShapeType = 13  # a type the enumeration does not name stays a number
    assert s.ShapeType == 13 and not isinstance(s.ShapeType, kel.ShapeTypeConstants)


def test_an_object_is_shared_not_copied_and_lives_while_python_holds_it():
    sf = kel.Shapefile()
    a, b = sf.BoundingBox, sf.BoundingBox
    assert a is b
    a.xMin = -7.5
    assert b.xMin == -7.5 and sf.BoundingBox.xMin == -7.5
    # A setter stores the caller's object itself.
    box = kel.BoundingBox()
    s = shape(kel.kelPolyLine, [[(0, 0), (1, 1)]], NAME="a")
    s.BoundingBox = box
    box.setBoundingBox(1, 2, 3, 4)
    assert s.BoundingBox is box and (s.BoundingBox.xMax, s.BoundingBox.yMax) == (3, 4)
    c = coordinate(1, 2)
    s.addCoord(c)
    s.getCoord(3).X = 9
    assert c.X == 9 and s.Coordinates[3] is c
    sf = shapefile(kel.kelPolyLine, [s])
    c, record = s.getCoord(2), s.Record
    del s, sf
    gc.collect()
    assert (c.X, c.Y) == (1, 1) and record.getFieldByName("NAME").value == "a"
    # A shape put into a file outlives the list that held it, once the file lets go.
    sf = shapefile(kel.kelPoint, [shape(kel.kelPoint, [[(5, 6)]])])
    kept = sf.getShapeObject(1)
    sf.ShapeObjects = kel.Shapefile().ShapeObjects
    del sf
    gc.collect()
    assert kept.getCoord(1).Y == 6


def test_a_chain_of_many_nested_lists_ends_without_a_crash():
    # Each list holds the next: ending the first ends them all, one after another.
    script = """if True:
        import kelshapelib as kel
        fields = head = kel.Record().Fields
        for _ in range(150_000):
            inner = kel.Record().Fields
            fields.Add(inner)
            fields = inner
        del fields, inner, head
        print("ended")"""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert (done.returncode, done.stdout) == (0, "ended\n"), done.stderr


@pytest.mark.parametrize("name", ["Collection", "BoundingBox", "Coordinate", "ShapeObject", "Record",
                                  "RecordField", "TableDescriptor", "TableDescription", "Shapefile"])
def test_a_wrapper_made_without_init_raises_type_error(name):
    cls = getattr(kel, name)
    blank = cls.__new__(cls)  # holds no library object
    uses = [lambda: kel.Record().Fields.Add(blank)]  # as an argument
    for member, value in vars(cls).items():
        if isinstance(value, property) and member not in ("basepath", "filename"):
            uses.append(lambda m=member: getattr(blank, m))
            if value.fset:
                uses.append(lambda m=member: setattr(blank, m, 1))
        elif callable(value) and not member.startswith("_"):
            arguments = ["out"] if member == "write" else []  # the one member that needs one
            uses.append(lambda m=member, a=arguments: getattr(blank, m)(*a))
    if name == "Collection":
        uses += [lambda: len(blank), lambda: blank[1], lambda: list(blank)]
    for use in uses:
        with pytest.raises(TypeError, match="made without __init__"):
            use()


@pytest.mark.parametrize("call, number", [
    (lambda: kel.ShapeObject().getCoord(1), 9),                 # subscript out of range
    (lambda: kel.ShapeObject().getCoord(40000), 6),             # overflow of a 16-bit index
    (lambda: kel.ShapeObject().addCoord(kel.BoundingBox()), 13),  # an object of another class
    (lambda: kel.ShapeObject().addCoord([1, 2]), 13),           # no value the library knows
    (lambda: kel.ShapeObject().addCoord(), 450),                # too few arguments
    (lambda: kel.Coordinate().setCoordinate(1, 2, 3), 450),     # too many
    (lambda: kel.TableDescriptor().setTableDescriptor(width=3), 449),  # a required one left out
    (lambda: kel.TableDescriptor().setTableDescriptor("A", size=3), 448),
    (lambda: setattr(kel.Shapefile(), "ShapeObjectCount", 1), 438),  # a read-only property
    (lambda: kel.Coordinate().setCoordinate("east", 1), 13),
])
def test_errors_carry_number_and_description(call, number):
    with pytest.raises(kel.Error) as raised:
        call()
    e = raised.value
    assert isinstance(e, Exception) and e.number == number and e.source == "kelShapeLib"
    assert e.description and str(e) == f"{e.description} (error {number})"


def test_values_convert_as_automation_converts_them_and_optional_arguments_take_defaults():
    d = kel.TableDescriptor()
    d.setTableDescriptor("NAME")
    assert (d.fieldType, d.width, d.precision) == (kel.kelFieldTypeCharacter, 0, 0)
    d.setTableDescriptor("AREA", kel.kelFieldTypeNumber, precision=3)  # by name
    assert (d.name, d.fieldType, d.width, d.precision) == ("AREA", kel.kelFieldTypeNumber, 0, 3)
    f = kel.RecordField()
    f.setRecordField("EMPTY")
    assert (f.name, f.value) == ("EMPTY", "")
    assert "fieldType: FieldTypeConstants = kelFieldTypeCharacter" in kel.TableDescriptor.setTableDescriptor.__doc__
    c = kel.Coordinate()
    c.setCoordinate("12.5", True)  # text that spells a number, a Boolean is -1
    assert (c.X, c.Y) == (12.5, -1.0)
    s = shape(kel.kelMultiPoint, [[(0, 0), (1, 1), (2, 2)]])
    assert s.getCoord(2.5) is s.getCoord(1.5) is s.getCoord(2)  # rounds half to even
    f.value = "Straße €"
    assert f.value == "Straße €" and isinstance(f.value, str)


def test_collections_are_one_based_python_sequences():
    s = shape(kel.kelMultiPoint, [[(0, 0), (1, 1), (2, 2)]])
    coords = s.Coordinates
    assert len(coords) == coords.Count == 3
    assert [c.X for c in coords] == [0, 1, 2]
    assert coords[1] is coords.Item(1) is s.getCoord(1)
    with pytest.raises(kel.Error) as raised:
        coords[0]
    assert raised.value.number == 9
    coords.Remove(1)
    assert s.CoordinateCount == 2 and list(s.Parts) == [0]
    coords.Add("text")  # a list holds any value
    assert coords[3] == "text"


def test_reading_and_writing_return_bools_or_raise_the_reason_for_one_path(tmp_path):
    sf = shapefile(kel.kelPoint, [shape(kel.kelPoint, [[(1, 2)]], NAME="x")], [("NAME", kel.kelFieldTypeCharacter, 5)])
    assert sf.basepath is None and sf.filename is None
    assert sf.writeShapefile(str(tmp_path), "Points.SHP") is True
    assert (sf.basepath, sf.filename) == (str(tmp_path) + "\\", "Points")
    assert sorted(p.name for p in tmp_path.iterdir()) == ["Points.dbf", "Points.shp", "Points.shx"]
    again = kel.Shapefile()
    assert again.readShapefile(str(tmp_path) + "/", "points.shp") is True  # found whatever the case
    assert (again.basepath, again.filename) == (str(tmp_path) + "/", "points")
    assert again.ShapeObjectCount == 1 and again.getShapeObject(1).Record.getFieldByIndex(1).value == "    x"
    assert again.last_failure is None
    missing = kel.Shapefile()
    assert missing.readShapefile(str(tmp_path), "nothing") is False
    assert missing.filename == "nothing"
    why = missing.last_failure  # the reason beside the False of the contract
    assert why.file.endswith("nothing.shp") and "no such file" in why.sentence, why
    # One path, str or os.PathLike, with or without .shp: the model, or an exception with the reason.
    sf.write(tmp_path / "points.shp")
    assert sf.last_failure is None
    again = kel.Shapefile.read(str(tmp_path / "POINTS"))  # found whatever the case
    assert again.ShapeObjectCount == 1 and again.getShapeObject(1).Record.getFieldByIndex(1).value == "    x"
    with pytest.raises(kel.Error) as raised:
        kel.Shapefile.read(tmp_path / "nothing")
    assert raised.value.number == 53
    assert raised.value.description.startswith(str(tmp_path / "nothing.shp") + ": no such file")
    # A write that fails leaves the old files as they were.
    (tmp_path / "points.cpg").write_text("UTF-8")
    old = {p.name: p.read_bytes() for p in tmp_path.iterdir()}
    bad = shapefile(kel.kelPoint, [shape(kel.kelPoint, [[(1, 2)]], NAME="\u4e2d")], [("NAME", kel.kelFieldTypeCharacter, 5)])
    with pytest.raises(kel.Error) as raised:
        bad.write(tmp_path / "points")
    assert raised.value.number == 6
    assert raised.value.description == f"{tmp_path / 'points.dbf'}: {bad.last_failure.sentence}"
    assert bad.last_failure.sentence.startswith("the table cannot be written")
    assert {p.name: p.read_bytes() for p in tmp_path.iterdir()} == old
    sf.write(str(tmp_path / "points"))  # in place of the old layer and its .cpg
    assert "points.cpg" not in {p.name for p in tmp_path.iterdir()}

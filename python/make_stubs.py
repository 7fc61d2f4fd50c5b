"""Writes the type stubs of the module kelshapelib from the module itself.

    PYTHONPATH=build/python python3 python/make_stubs.py python/kelshapelib-stubs/__init__.pyi

The classes of the object model come from the library's type library, and every member the
binding makes carries its signature on the first line of its docstring ("addCoord(coord:
Coordinate) -> object", "ShapeType: ShapeTypeConstants"); the classes written in Python carry
annotations. This script turns both into a stub file, appends python/engine.pyi (the format
engine's reader and writer, written by hand), and stops on anything public that neither
describes, so that the stubs cannot fall behind the module. The tests compare the file in the
source tree with a fresh one.
"""

import ast
import enum
import inspect
import re
import sys

import pathlib

import kelshapelib

# The format engine's classes and functions, whose stubs are written by hand.
ENGINE = pathlib.Path(__file__).resolve().parent / "engine.pyi"

HEADER = '''\
# Type stubs of the module kelshapelib, made from the module by python/make_stubs.py: do not
# edit, run the script. Results that are objects are typed as the object, though automation lets
# a property hold Nothing (None); arguments take None where they take an object.
import datetime
import enum
import os
from typing import Any, Iterable, Iterator, Mapping, NamedTuple, Protocol, Sequence
'''

# Dunder members that the stubs show; other dunders are Python's own.
SHOWN_DUNDERS = {"__init__", "__len__", "__getitem__", "__iter__", "__geo_interface__",
                 "__enter__", "__exit__", "__contains__"}
SIGNATURE = re.compile(r"^(\w+)\((.*)\)(?:\s*->\s*(.+))?$")
PARAMETER = re.compile(r"^(\*{0,2}\w+)(?::\s*([^=]+?))?(?:\s*=\s*(.+))?$")
ENUMS = {}


def fail(where, why):
    sys.exit(f"make_stubs: {where}: {why}")


def stub_type(text, argument=False):
    """A type as the docstrings write it, as the stubs write it."""
    text = text.strip()
    if text in ("object", "VARIANT"):
        return "Any"
    if text == "iterator":
        return "Iterator[Any]"
    if text in ENUMS:
        return f"{text} | int"
    if argument and isinstance(getattr(kelshapelib, text, None), type) and \
            type(getattr(kelshapelib, text)).__name__ == "pybind11_type":
        return f"{text} | None"
    return text


def split_parameters(text):
    """Splits at the commas outside brackets."""
    parts, depth, current = [], 0, ""
    for ch in text:
        depth += ch in "[(" and 1 or (ch in "])" and -1 or 0)
        if ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def first_line(where, obj):
    doc = inspect.getdoc(obj) or ""
    line = doc.splitlines()[0] if doc else ""
    if not line:
        fail(where, "no docstring to take the signature from")
    return line


def function_stub(where, obj, indent, method, decorator=None):
    line = first_line(where, obj)
    match = SIGNATURE.match(line)
    if not match:
        fail(where, f"the docstring's first line is no signature: {line!r}")
    _, parameters, result = match.groups()
    if result is None and where.split(".")[-1] != "__init__":
        fail(where, f"the signature has no result type: {line!r}")
    shown = ["self"] if method else []
    if decorator == "classmethod":
        shown = ["cls"]
    for p in split_parameters(parameters):
        if p in ("self", "cls"):
            continue
        m = PARAMETER.match(p)
        if not m:
            fail(where, f"cannot read the parameter {p!r}")
        pname, ptype, default = m.groups()
        text = pname + (f": {stub_type(ptype, argument=True)}" if ptype else "")
        if default is not None:
            text += " = ..."
        shown.append(text)
    out = [f"{indent}@{decorator}"] if decorator else []
    result = "None" if where.endswith("__init__") else stub_type(result)
    out.append(f"{indent}def {where.split('.')[-1]}({', '.join(shown)}) -> {result}: ...")
    return out


def property_stub(where, prop, indent):
    line = first_line(where, prop)
    match = re.match(r"^(\w+):\s*(.+?)(, read-only)?$", line)
    if not match:
        fail(where, f"the docstring's first line is no 'name: type': {line!r}")
    name, text, read_only = match.groups()
    out = [f"{indent}@property", f"{indent}def {name}(self) -> {stub_type(text)}: ..."]
    # The binding's properties all take an assignment, to answer it as automation does; the
    # docstring says which ones refuse it.
    if prop.fset is not None and not read_only:
        out += [f"{indent}@{name}.setter",
                f"{indent}def {name}(self, value: {stub_type(text, argument=True)}) -> None: ..."]
    return out


def annotation_text(annotation):
    if isinstance(annotation, str):
        return annotation
    if annotation is inspect.Parameter.empty:
        return None
    if isinstance(annotation, type):
        return annotation.__name__
    return repr(annotation).replace("typing.", "")


def python_function_stub(name, function, indent, method):
    signature = inspect.signature(function)
    shown = []
    for p in signature.parameters.values():
        text = ("*" if p.kind == p.VAR_POSITIONAL else "**" if p.kind == p.VAR_KEYWORD else "")
        text += p.name
        annotation = annotation_text(p.annotation)
        if annotation is None and not (method and not shown):
            fail(name, f"the parameter {p.name} has no annotation")
        if annotation:
            text += f": {annotation}"
        if p.default is not inspect.Parameter.empty:
            text += " = ..."
        shown.append(text)
    result = annotation_text(signature.return_annotation)
    if result is None:
        fail(name, "no return annotation")
    return [f"{indent}def {name}({', '.join(shown)}) -> {result}: ..."]


def class_stub(name, cls):
    bases = [b.__name__ if b.__module__ in ("builtins", "kelshapelib") else
             f"{b.__module__}.{b.__name__}" for b in cls.__bases__
             if b.__name__ not in ("object", "pybind11_object")]
    out = [f"class {name}({', '.join(bases)}):" if bases else f"class {name}:"]
    body = []
    pybind = type(cls).__name__ == "pybind11_type"
    for field, annotation in getattr(cls, "__annotations__", {}).items():
        body.append(f"    {field}: {annotation_text(annotation)}")
    for member, value in vars(cls).items():
        if member.startswith("_") and member not in SHOWN_DUNDERS:
            continue
        where = f"{name}.{member}"
        if isinstance(value, property):
            body += property_stub(where, value, "    ")
        elif isinstance(value, staticmethod):
            body += function_stub(where, value.__func__, "    ", False, "staticmethod")
        elif isinstance(value, classmethod):
            if pybind:
                body += function_stub(where, value.__func__, "    ", False, "classmethod")
            else:
                body.append("    @classmethod")
                body += python_function_stub(member, value.__func__, "    ", True)
        elif callable(value):
            if pybind:
                if member == "__init__" and type(value).__name__ == "wrapper_descriptor":
                    continue  # a class that scripts do not create
                body += function_stub(where, value, "    ", True)
            else:
                body += python_function_stub(member, value, "    ", True)
        elif member in getattr(cls, "__annotations__", {}):
            continue
        else:
            fail(where, f"a {type(value).__name__} that the stubs cannot show")
    return out + (body or ["    ..."])


def enum_stub(name, cls):
    return [f"class {name}(enum.IntEnum):"] + [f"    {m.name} = {m.value}" for m in cls]


def named_tuple_stub(name, cls):
    annotations = getattr(cls, "__annotations__", {})
    if set(annotations) != set(cls._fields):
        fail(name, "a named tuple without a type for each field")
    return [f"class {name}(NamedTuple):"] + [
        f"    {field}: {annotation_text(annotations[field])}" for field in cls._fields]


def names_of(stub):
    """The top-level names that a stub file defines."""
    names = set()
    for node in ast.parse(stub).body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names.add(node.name)
        elif isinstance(node, ast.Assign):
            names.update(t.id for t in node.targets if isinstance(t, ast.Name))
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names


def module_stub():
    engine = ENGINE.read_text(encoding="utf-8")
    by_hand = names_of(engine)
    for name in sorted(by_hand):
        if not name.startswith("_") and not hasattr(kelshapelib, name):
            fail(name, f"{ENGINE.name} describes it, but the module has no such name")
    lines = [HEADER, "__version__: str", ""]
    constants = []
    for name, value in vars(kelshapelib).items():
        if isinstance(value, type) and issubclass(value, enum.IntEnum):
            ENUMS[name] = value
    for name, value in vars(kelshapelib).items():
        if name.startswith("_") or name in by_hand:
            continue
        if isinstance(value, type) and issubclass(value, enum.IntEnum):
            lines += enum_stub(name, value) + [""]
        elif isinstance(value, type) and issubclass(value, tuple) and hasattr(value, "_fields"):
            lines += named_tuple_stub(name, value) + [""]
        elif isinstance(value, type):
            lines += class_stub(name, value) + [""]
        elif isinstance(value, enum.IntEnum):
            constants.append(f"{name}: {type(value).__name__}")
        elif callable(value):
            if type(value).__name__ == "builtin_function_or_method":
                lines += function_stub(name, value, "", False) + [""]
            else:
                lines += python_function_stub(name, value, "", False) + [""]
        elif inspect.ismodule(value):
            continue
        else:
            fail(name, f"a {type(value).__name__} that the stubs cannot show")
    text = "\n".join(lines + constants) + "\n\n" + engine
    ast.parse(text)  # a stub that is no Python is a fault of this script
    return text


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_stubs.py OUTPUT.pyi")
    with open(sys.argv[1], "w", encoding="utf-8") as out:
        out.write(module_stub())

"""The type stubs: current with the module, and strict enough to catch a wrong call."""

import os
import shutil
import subprocess
import sys

from support import SOURCE

STUBS = SOURCE / "python" / "kelshapelib-stubs" / "__init__.pyi"

def test_the_stubs_in_the_tree_are_made_from_this_module(tmp_path):
    made = tmp_path / "made.pyi"
    subprocess.run([sys.executable, str(SOURCE / "python" / "make_stubs.py"), str(made)],
                   check=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert made.read_text() == STUBS.read_text(), "run python/make_stubs.py"

def mypy(tmp_path, script):
    shutil.copy(STUBS, tmp_path / "kelshapelib.pyi")
    (tmp_path / "script.py").write_text(script)
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "script.py"], cwd=tmp_path, capture_output=True, text=True,
                          env=dict(os.environ, MYPYPATH=str(tmp_path)))

def test_a_typed_script_passes_and_wrong_calls_do_not(tmp_path):
    good = mypy(tmp_path, (SOURCE / "tests" / "python" / "typed_user.py").read_text())
    assert good.returncode == 0, good.stdout
    wrong = {
        "kel.Shapefile().ShapeObjectCount = 3": "read-only",
        "kel.Coordinate().setCoordinate('a', 1.0)": "incompatible type",
        "kel.Shapefile().readShapefile('only one')": "Missing positional argument",
        "x: str = kel.Coordinate().X": "Incompatible types",
        "kel.open('a.shp').shape_type.code.upper()": "has no attribute",
        "kel.Writer('a.shp', 'Point', 5)": "incompatible type",
    }
    result = mypy(tmp_path, "import kelshapelib as kel\n" + "\n".join(wrong) + "\n")
    lines = result.stdout.splitlines()
    for number, expected in enumerate(wrong.values(), start=2):
        assert any(f"script.py:{number}:" in l and expected in l for l in lines), result.stdout

def test_the_dask_stubs_name_what_kelshapelib_dask_has():
    import ast
    import kelshapelib.dask
    stub = ast.parse((STUBS.parent / "dask.pyi").read_text())
    assert {n.name for n in stub.body if isinstance(n, ast.FunctionDef)} == {
        name for name, value in vars(kelshapelib.dask).items()
        if not name.startswith("_") and getattr(value, "__module__", "") == "kelshapelib.dask"}

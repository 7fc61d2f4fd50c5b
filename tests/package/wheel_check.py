"""Builds the Python package as a user would, from the tracked files alone, installs the wheel in
a fresh virtual environment and runs a short script outside the source tree, then checks that
mypy finds the installed stubs.

    wheel_check.py SOURCE_DIR
"""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

SCRIPT = '''
import pathlib, sys
import kelshapelib as kel
assert pathlib.Path(kel.__file__).is_relative_to(sys.prefix), kel.__file__
c = kel.Coordinate(); c.setCoordinate(1.5, 2.5)
s = kel.ShapeObject(); s.ShapeType = kel.kelPoint; s.addCoord(c)
sf = kel.Shapefile(); sf.ShapeType = kel.kelPoint; sf.addShapeObject(s)
assert sf.writeShapefile(".", "points")
back = kel.Shapefile()
assert back.readShapefile(".", "points")
print(kel.__version__, back.getShapeObject(1).getCoord(1).X)
'''


def run(*command, cwd):
    print("+", " ".join(map(str, command)), flush=True)
    subprocess.run(list(map(str, command)), cwd=cwd, check=True)


def main():
    source = pathlib.Path(sys.argv[1]).resolve()
    version = (source / "VERSION").read_text().strip()
    with tempfile.TemporaryDirectory() as temporary:
        work = pathlib.Path(temporary)
        tracked = subprocess.run(["git", "ls-files", "-z"], cwd=source, check=True,
                                 capture_output=True).stdout.decode().split("\0")
        for name in filter(None, tracked):
            (work / "src" / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source / name, work / "src" / name)
        run(sys.executable, "-m", "build", "--no-isolation", "--wheel", "--outdir", work / "dist",
            cwd=work / "src")
        wheel, = (work / "dist").glob(f"kelshapelib-{version}-*.whl")
        run(sys.executable, "-m", "venv", "--system-site-packages", work / "venv", cwd=work)
        python = work / "venv" / "bin" / "python"
        run(python, "-m", "pip", "install", "--no-index", "--no-deps", "-q", wheel, cwd=work)
        (work / "use").mkdir()
        (work / "use" / "script.py").write_text(SCRIPT)
        printed = subprocess.run([python, "script.py"], cwd=work / "use", check=True,
                                 capture_output=True, text=True).stdout
        assert printed == f"{version} 1.5\n", printed
        shutil.copy(source / "tests" / "python" / "typed_user.py", work / "use" / "typed.py")
        run(python, "-m", "mypy", "--strict", "--no-incremental", "typed.py", cwd=work / "use")
    print("the wheel installs and works")


if __name__ == "__main__":
    main()

"""Installs the Python package as a user would, from the tracked files alone: runs the README's
install line (the one of its ```sh blocks that makes a virtual environment, read from the README
so that the two cannot drift apart), then a short script outside the source tree with the
environment's Python, and checks that mypy finds the installed stubs.

    wheel_check.py SOURCE_DIR
"""

import os
import pathlib
import re
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


def readme_install_line(source):
    """The README's line that installs the package into a virtual environment, without its
    comment."""
    blocks = re.findall(r"^```sh\n(.*?)^```$", (source / "README.md").read_text(), re.S | re.M)
    line, = (l for b in blocks for l in b.splitlines() if " -m venv " in l)
    return line.split("  #")[0].strip()


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
        # The line's python3 is the Python the module is built for.
        (work / "bin").mkdir()
        (work / "bin" / "python3").symlink_to(sys.executable)
        line = readme_install_line(source)
        print("+", line, flush=True)
        subprocess.run(["bash", "-ec", line], cwd=work / "src", check=True,
                       env={**os.environ, "PATH": f"{work / 'bin'}:{os.environ['PATH']}",
                            "PIP_NO_INDEX": "1"})
        venv, = {p.parent.parent for p in (work / "src").glob("*/bin/python")}
        python = venv / "bin" / "python"
        (work / "use").mkdir()
        (work / "use" / "script.py").write_text(SCRIPT)
        printed = subprocess.run([python, "script.py"], cwd=work / "use", check=True,
                                 capture_output=True, text=True).stdout
        assert printed == f"{version} 1.5\n", printed
        shutil.copy(source / "tests" / "python" / "typed_user.py", work / "use" / "typed.py")
        run(python, "-m", "mypy", "--strict", "--no-incremental", "typed.py", cwd=work / "use")
    print("the package installs as the README says and works")


if __name__ == "__main__":
    main()

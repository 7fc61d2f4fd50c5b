"""Builds the extension module kelshapelib from the library's sources, without CMake, and ships
its type stubs as the package kelshapelib-stubs.

    python3 -m pip install --no-build-isolation .
    python3 -m build --no-isolation --wheel

The sources are every .cpp of the library's layers and of python/; the system-specific files of
Windows live in subfolders and are left out. The layer crs comes in, with PROJ, when pkg-config
finds PROJ (Debian's libproj-dev), and the archive layer reads zip files with libzip when
pkg-config finds it (libzip-dev), as CMake takes them in. The version is the one in VERSION.
"""

import os
import pathlib
import subprocess

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

ROOT = pathlib.Path(__file__).resolve().parent
LAYERS = ["runtime", "format", "geometry", "attributes", "shapefile", "automation", "geojson",
          "plan", "archive", "python"]
VERSION = (ROOT / "VERSION").read_text().strip()


def have(module):
    try:
        return subprocess.run(["pkg-config", "--exists", module]).returncode == 0
    except OSError:
        return False


PROJ = have("proj >= 9")
ZIP = have("libzip")
# The archive layer's zip part is libzip's, or the one that says zip needs libzip.
LEFT_OUT = {"archive/NoZip.cpp" if ZIP else "archive/Zip.cpp"}
if PROJ:
    LAYERS.insert(-1, "crs")

# Compiles on every core unless KEL_BUILD_JOBS says otherwise.
ParallelCompile("KEL_BUILD_JOBS", default=os.cpu_count() or 1).install()

# The layers' headers are included as kel/<layer>/X.h, as they are installed: a folder of links
# beside the build gives them those names.
INCLUDE = ROOT / "build-python" / "include"
for layer in LAYERS[:-1]:
    link = INCLUDE / "kel" / layer
    if not link.exists():
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to(ROOT / layer, target_is_directory=True)

sources = sorted(str(path.relative_to(ROOT)) for layer in LAYERS
                 for path in (ROOT / layer).glob("*.cpp")
                 if str(path.relative_to(ROOT)) not in LEFT_OUT)

setup(
    version=VERSION,
    ext_modules=[
        Pybind11Extension(
            "kelshapelib",
            sources,
            include_dirs=[str(ROOT), str(INCLUDE)],
            define_macros=[("KEL_VERSION", f'"{VERSION}"')] + ([("KEL_WITH_PROJ", None)] if PROJ
                                                                else []),
            libraries=(["proj"] if PROJ else []) + (["zip"] if ZIP else []),
            cxx_std=20,
            # No debugging information: it would make the module ten times larger.
            extra_compile_args=["-g0"],
        )
    ],
    cmdclass={"build_ext": build_ext},
    packages=["kelshapelib-stubs"],
    package_dir={"kelshapelib-stubs": "python/kelshapelib-stubs"},
    package_data={"kelshapelib-stubs": ["__init__.pyi", "dask.pyi"]},
    # Not build/, which is CMake's.
    options={"build": {"build_base": "build-python"}},
    zip_safe=False,
)

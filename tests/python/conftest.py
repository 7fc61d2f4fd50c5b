"""Fixtures shared by the Python tests."""

import subprocess

import pytest

from support import MAKE_CORPUS, SAMPLES, SOURCE


@pytest.fixture(scope="session")
def layer_path(tmp_path_factory):
    """The path of a sample layer (fetched once into the build tree) or of a corpus file (made
    on demand), by its name in support.LAYERS."""
    corpus = tmp_path_factory.mktemp("corpus")
    fetched = []

    def path(name):
        kind, _, rest = name.partition(":")
        if kind == "corpus":
            if not (corpus / f"{rest}.shp").exists():
                subprocess.run(["/usr/bin/python3", str(MAKE_CORPUS), str(corpus), rest],
                               check=True, capture_output=True)
            return corpus / f"{rest}.shp"
        if not fetched:
            subprocess.run([str(SOURCE / "scripts" / "fetch-sample-shapefiles"), str(SAMPLES)],
                           check=True, capture_output=True)
            fetched.append(True)
        return SAMPLES / f"{rest}.shp"
    return path

"""The two doors to the layer planner, kelshp convert (GeoJSON) and kelshapelib.write (the same
features as Python objects): each set of features makes the same layer through both, or the same
refusal."""

import json
import subprocess
import warnings

import pytest

import kelshapelib as kel
from support import KELSHP


def feature(geometry, **properties):
    return {"type": "Feature", "geometry": geometry, "properties": properties}


def point(*position):
    return {"type": "Point", "coordinates": list(position)}


OPEN_RING = [[0, 0], [10, 0], [10, 10], [0, 10]]  # counter-clockwise, as RFC 7946 has them
OPEN_HOLE = [[2, 2], [4, 2], [4, 4], [2, 4]]      # counter-clockwise too, as holes are not

# Feature sets, the options of both doors, and the words of the refusal both must give (None:
# both write the layer).
SETS = {
    "long and clashing names": ([feature(point(0, 0), population_2020=1, POPULATION_2021=2,
                                         populatio=3)], False, None),
    "Points among MultiPoints": ([feature(point(1, 2)), feature({"type": "MultiPoint",
                                                                "coordinates": [[3, 4], [5, 6]]})],
                                 False, None),
    "Z in the second feature only": ([feature(point(1, 2), n=1), feature(point(3, 4, 5), n=2)],
                                     False, None),
    "days as text": ([feature(point(0, 0), day="2024-05-01"), feature(point(1, 1), day=None)],
                     False, None),
    "open rings": ([feature({"type": "MultiPolygon", "coordinates": [
                                [OPEN_RING, OPEN_HOLE], [[[20, 0], [21, 0], [21, 1]]]]},
                            name="a")], False, None),
    "values of each kind": ([feature({"type": "LineString", "coordinates": [[0, 0], [1, 1]]},
                                     n=-17, x=0.1, t="Zo\u00eb", ok=True, none=None),
                             feature({"type": "MultiLineString",
                                      "coordinates": [[[0, 0], [1, 2]], [], [[3, 3], [4, 4]]]},
                                     n=123456789012345678, x=2, t="", ok=False),
                             feature(None, x=5.960464477539063e-08, t="a" * 254)], False, None),
    "no features": ([], False, None),
    "an integer of 19 digits": ([feature(point(0, 0), n=1234567890123456789)], False,
                                "the integer 1234567890123456789 takes 19 characters; a Number "
                                "column reads back integers of at most 18"),
    "wider integers as text": ([feature(point(0, 0), n=1234567890123456789),
                                feature(point(0, 0), n=-123456789012345678901234567890),
                                feature(point(0, 0), n=7)], True, None),
    "shapes of two kinds": ([feature(point(0, 0)), feature({"type": "LineString",
                                                            "coordinates": [[0, 0], [1, 1]]})],
                            False, "the features mix shape types: 1 Point, 1 LineString or "
                                   "MultiLineString; a layer holds one"),
    "values of two kinds": ([feature(point(0, 0), a=1), feature(point(0, 0), a="one")], False,
                            "it is text here and a number in "),
}


def layer(path):
    reader = kel.open(path)
    return (reader.shape_type.name, reader.fields,
            [(f.geometry, f.properties) for f in reader])


@pytest.mark.parametrize("case", SETS)
def test_convert_and_write_make_the_same_layer_of_the_same_features(tmp_path, case):
    features, wide, refusal = SETS[case]
    source = tmp_path / "in.geojson"
    source.write_text(json.dumps({"type": "FeatureCollection", "features": features}))
    option = ["--wide-integers-as-text"] if wide else []
    converted = subprocess.run([KELSHP, "convert", *option, source, tmp_path / "convert.shp"],
                               capture_output=True, text=True)
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the names written otherwise
            kel.write(tmp_path / "write.shp", features, wide_integers_as_text=wide)
        written = None
    except kel.WriteError as error:
        written = error.sentence
    if refusal is None:
        assert (converted.returncode, written) == (0, None), converted.stderr
        assert layer(tmp_path / "convert.shp") == layer(tmp_path / "write.shp")
    else:
        assert converted.returncode == 1 and refusal in converted.stderr, converted.stderr
        assert refusal in (written or ""), written

"""Scripts as users write them: the README's example, and a copy of a layer made by ogr2ogr."""

import json
import os
import re
import subprocess
import sys

from osgeo import ogr
import shapely.geometry

from support import KELSHP, SOURCE

ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))


def run(script, *args, cwd):
    return subprocess.run([sys.executable, str(script), *map(str, args)], cwd=cwd, env=ENV,
                          check=True, capture_output=True, text=True).stdout


def test_the_readme_example_prints_what_the_readme_says(tmp_path):
    readme = (SOURCE / "README.md").read_text()
    section = readme[readme.index("## Python: the module"):]
    script, printed = re.search(r"```python\n(.*?)```\n\nIt prints:\n\n```\n(.*?)```", section, re.S).groups()
    (tmp_path / "example.py").write_text(script)
    assert run(tmp_path / "example.py", cwd=tmp_path) == printed
    source = ogr.Open(str(tmp_path / "roads.shp"))  # GDAL reads what the example wrote
    names = [f.GetField("NAME") for f in source.GetLayer()]
    assert names == ["Ring road", "Mill lane"]
    # The short one after it reads the same file through the format engine, and copies it.
    engine = re.search(r"It prints:.*?```python\n(.*?)```", section, re.S).group(1)
    (tmp_path / "engine.py").write_text("import kelshapelib as kel\n" + engine)
    assert run(tmp_path / "engine.py", cwd=tmp_path) == "0 LineString 4\n1 MultiLineString 2\n"
    assert len(ogr.Open(str(tmp_path / "roads-copy.shp")).GetLayer()) == 2


PLACES = {  # name: (population, polygon rings as GeoJSON gives them)
    "Oldtown": (1200, [[(0, 0), (4, 0), (4, 3), (0, 3), (0, 0)], [(1, 1), (1, 2), (2, 2), (2, 1), (1, 1)]]),
    "Mill": (80, [[(5, 0), (6, 0), (6, 1), (5, 1), (5, 0)]]),
    "Riverside": (560, [[(10, 10), (12, 10), (12, 13), (10, 13), (10, 10)]]),
}


def test_a_script_copies_a_peer_made_layer_with_a_new_column(tmp_path):
    features = [{"type": "Feature", "properties": {"NAME": name, "POP": pop},
                 "geometry": {"type": "Polygon", "coordinates": rings}}
                for name, (pop, rings) in PLACES.items()]
    (tmp_path / "places.geojson").write_text(json.dumps({"type": "FeatureCollection", "features": features}))
    subprocess.run(["ogr2ogr", "-f", "ESRI Shapefile", tmp_path / "places.shp", tmp_path / "places.geojson"],
                   check=True)

    out = run(SOURCE / "tests/python/scripts/add_area.py", tmp_path / "places", tmp_path / "big", 500, cwd=tmp_path)
    assert out == f"2 of 3 places written to {tmp_path}\\big\n"

    subprocess.run([KELSHP, "check", tmp_path / "big"], check=True, capture_output=True)
    source = ogr.Open(str(tmp_path / "big.shp"))  # the layer lives only while its source does
    layer = source.GetLayer()
    definition = layer.GetLayerDefn()
    columns = [(definition.GetFieldDefn(i).GetName(), definition.GetFieldDefn(i).GetWidth())
               for i in range(definition.GetFieldCount())]
    assert [c[0] for c in columns] == ["NAME", "POP", "AREA"] and columns[2][1] == 12
    copied = {f.GetField("NAME"): f for f in layer}
    assert sorted(copied) == ["Oldtown", "Riverside"]
    for name, feature in copied.items():
        expected = shapely.geometry.Polygon(PLACES[name][1][0], PLACES[name][1][1:])
        geometry = shapely.geometry.shape(json.loads(feature.GetGeometryRef().ExportToJson()))
        assert geometry.equals(expected) and feature.GetField("POP") == PLACES[name][0]
        assert feature.GetField("AREA") == expected.area  # 11 and 6

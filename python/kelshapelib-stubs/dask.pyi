# kelshapelib.dask, written by hand: tests/python/test_stubs.py holds it to the module's names.
import os
from typing import Any, Sequence

_Path = str | bytes | os.PathLike[str]
_Part = tuple[_Path, int, int]

def partitions(paths: _Path | Sequence[_Path], rows_per_partition: int | None = ...
               ) -> list[_Part]: ...
_Box = tuple[float, float, float, float]

def read_partition(part: _Part, columns: Sequence[str] | None = ..., bbox: _Box | None = ...,
                   where: str | None = ..., encoding: str | None = ...) -> Any: ...
def read_dataframe(paths: _Path | Sequence[_Path], rows_per_partition: int | None = ...,
                   columns: Sequence[str] | None = ..., bbox: _Box | None = ...,
                   where: str | None = ..., encoding: str | None = ...) -> Any: ...
def to_geodataframe(partition: Any, crs: Any = ...) -> Any: ...

#!/usr/bin/env bash
# layering_check.sh BUILD: a layer's sources see the layers below it and not those above. The two
# probes are object libraries of the format layer, left out of the normal build.
set -uo pipefail
build=$1
cmake --build "$build" --target kel_layering_downward >/dev/null || {
  echo "the format layer cannot include the runtime's header"; exit 1; }
output=$(cmake --build "$build" --target kel_layering_upward 2>&1) && {
  echo "the format layer compiled an include of the object model's header"; exit 1; }
# GCC says "No such file or directory", clang "file not found".
grep -qE "kel/shapefile/Shapefile.h.*(No such file|file not found)" <<<"$output" || {
  echo "the upward include failed for another reason:"; echo "$output"; exit 1; }
echo "an upward include does not compile; a downward one does"

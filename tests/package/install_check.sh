#!/usr/bin/env bash
# install_check.sh SOURCE BUILD: installs the built library into a scratch prefix; checks that its
# headers are the public ones the build lists (build/public-headers.txt), none of the internals, and
# that each compiles alone against the prefix; builds, as users would, the README's C++ program against it through find_package (with a header of the
# consumer's own named runtime/Error.h) and through pkg-config; checks that a C++17 consumer is
# told that the library needs C++20; packs the Debian packages, unpacks them into a scratch root
# and builds against that; and builds the library inside another project with add_subdirectory,
# where GoogleTest may not be found.
set -euo pipefail
source=$(realpath "$1") build=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { echo "== $*"; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$build/tools/kelshp/kelshp" demo "$work/demo" >/dev/null
mkdir -p "$work/app/runtime"
# The README's program, as a user copies it.
sed -n '/^```cpp$/,/^```$/p' "$source/README.md" | sed '1d;$d' >"$work/app/roads.cpp"
cat >"$work/app/runtime/Error.h" <<'HEADER'
#pragma once
#define CONSUMERS_OWN_ERROR_H 1  // the consumer's header of the same name as one of the library's
HEADER
cat >"$work/app/main.cpp" <<'SOURCE'
#include "runtime/Error.h"
#include "roads.cpp"
static_assert(CONSUMERS_OWN_ERROR_H == 1);
SOURCE
cat >"$work/app/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(roads CXX)
find_package(kelShapeLib 0.2 REQUIRED)
add_executable(roads main.cpp)
target_include_directories(roads PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(roads PRIVATE kel::shape)
CMAKE
expect_roads() {
  local printed
  printed=$("$@" "$work/demo/roads.shp")
  grep -q "^0: type 3, 3 vertices, 'Hauptstraße'" <<<"$printed" || { echo "$printed"; exit 1; }
}

step "the installed headers: the public ones, each whole by itself"
installed=$(cd "$work/prefix/include/kel" && find . -name '*.h' | sed 's|^\./||' | sort)
expected=$(sort "$build/public-headers.txt")
if [ "$installed" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$installed"); exit 1
fi
for internal in runtime/FileChannel.h runtime/ChannelTable.h runtime/ObjectArena.h format/MainFile.h \
                shapefile/ShapefileFormat.h shapefile/ReadDriver.h shapefile/WriteDriver.h \
                shapefile/FileSet.h \
                runtime/AtomicFileSet.h runtime/ReplacementRecord.h runtime/SystemFileSet.h \
                geojson/Geometry.h; do
  if grep -qx "$internal" <<<"$installed"; then echo "$internal installed"; exit 1; fi
done
for public in shapefile/Shapefile.h format/Layer.h format/LayerWriter.h runtime/Ref.h \
              plan/LayerPlanner.h; do
  grep -qx "$public" <<<"$installed" || { echo "$public not installed"; exit 1; }
done
# shellcheck disable=SC2016
xargs -P "$(nproc)" -I{} sh -c 'echo "#include <kel/{}>" |
  c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$1" -x c++ - || { echo "{}"; exit 255; }' \
  _ "$work/prefix/include" <<<"$installed"

step "find_package against the installed prefix"
cmake -S "$work/app" -B "$work/app/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/app/build" >/dev/null
expect_roads "$work/app/build/roads"

step "pkg-config against the installed prefix"
flags=$(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs kelshape)
# shellcheck disable=SC2086
g++ -std=c++20 -I"$work/app" "$work/app/main.cpp" -o "$work/app/roads-pc" $flags \
  -Wl,-rpath,"$work/prefix/lib"
expect_roads "$work/app/roads-pc"

step "a C++17 consumer"
sed 's/^project(roads CXX)$/project(roads CXX)\nset(CMAKE_CXX_STANDARD 17)/' \
  "$work/app/CMakeLists.txt" >"$work/app/CMakeLists.17"
mkdir -p "$work/app17" && cp "$work/app/CMakeLists.17" "$work/app17/CMakeLists.txt"
if output=$(cmake -S "$work/app17" -B "$work/app17/build" -DCMAKE_PREFIX_PATH="$work/prefix" 2>&1); then
  echo "a C++17 consumer configured"; exit 1
fi
grep -q "kelShapeLib requires C++20" <<<"$output" || { echo "$output"; exit 1; }

step "the Debian packages"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
for deb in "$work"/deb/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
ls "$work"/deb/*.deb | xargs -n1 basename
libdir=$(dirname "$(find "$work/root" -name 'libkelshape.so.0' | head -1)")
test -x "$work/root/usr/bin/kelshp" && test -f "$work/root/usr/share/man/man1/kelshp.1"
cmake -S "$work/app" -B "$work/app/build-deb" -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/app/build-deb" >/dev/null
LD_LIBRARY_PATH="$libdir" expect_roads "$work/app/build-deb/roads"

step "add_subdirectory of the checkout, without GoogleTest"
mkdir -p "$work/parent"
cp "$work/app/main.cpp" "$work/app/roads.cpp" "$work/parent/" && cp -r "$work/app/runtime" "$work/parent/"
cat >"$work/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(parent CXX)
add_subdirectory("$source" kelshapelib)
add_executable(roads main.cpp)
target_include_directories(roads PRIVATE \${CMAKE_SOURCE_DIR})
target_link_libraries(roads PRIVATE kel::shape)
CMAKE
cmake -S "$work/parent" -B "$work/parent/build" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null
if grep -q "^CMAKE_BUILD_TYPE:.*=.\+" "$work/parent/build/CMakeCache.txt"; then
  echo "the library set the parent's build type"; exit 1
fi
cmake --build "$work/parent/build" --parallel "$(nproc)" >/dev/null
test ! -e "$work/parent/build/kelshapelib/tools/kelshp/kelshp"
expect_roads "$work/parent/build/roads"
echo "installed, packed and built into others"

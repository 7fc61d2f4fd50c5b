#!/usr/bin/env bash
# Builds kelShapeLib.dll with MinGW-w64 for 64-bit and 32-bit Windows and tests it under Wine in
# a fresh headless prefix: regsvr32 registers it, a VBScript, a JScript and an early-bound C++
# client build, write, read back and check a shapefile, regsvr32 /u unregisters it and creating
# a class must then fail; last, the Linux build and GDAL must read the files written there alike.
# Installs what it needs. The 32-bit run needs wine32:i386; when the package registry cannot
# provide it, the 32-bit DLL is still built and linked, and this says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KEL_BUILD_DIR:-build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

./scripts/install-deps g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools \
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 libwine-dev

if ! installed wine32:i386; then
  added=0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
    added=1
  fi
  "${sudo[@]}" apt-get update -qq || true
  if ! DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    wine32:i386 >/dev/null; then
    # Leave apt as it was, so that later installs do not trip over an i386 index it cannot get.
    if [ $added -eq 1 ] && ! dpkg-query -W -f='${Package}:${Architecture}\n' | grep -q ':i386$'; then
      "${sudo[@]}" dpkg --remove-architecture i386
      "${sudo[@]}" apt-get update -qq || true
    fi
  fi
fi
runs=(x64)
if installed wine32:i386 && [ -x /usr/lib/wine/wine ]; then
  runs+=(x86)
else
  echo "windows/test.sh: wine32:i386 is not available from the package registry; the 32-bit DLL" \
    "is built and linked, and only the x64 DLL is run"
fi

failures=0

# kelcomgen and the tests come from the Linux build; the DLLs from the cross builds.
./scripts/build kelcomgen kelshape_tests
for arch in x64 x86; do
  toolchain=$([ $arch = x64 ] && echo mingw-x86_64 || echo mingw-i686)
  cmake -S . -B "$build/windows-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKEL_COMGEN="$build/windows/kelcomgen" >/dev/null
  cmake --build "$build/windows-$arch" --parallel "$(nproc)"
done

# Each DLL exports the four entry points by their plain names and needs no DLL of the compiler.
for arch in x64 x86; do
  triplet=$([ $arch = x64 ] && echo x86_64-w64-mingw32 || echo i686-w64-mingw32)
  dump=$("$triplet-objdump" -p "$build/windows-$arch/windows/kelShapeLib.dll")
  exports=$(printf '%s\n' "$dump" | grep -cE '^\s+\[ *[0-9]+\] Dll(CanUnloadNow|GetClassObject|RegisterServer|UnregisterServer)$' || true)
  imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  if [ "$exports" -eq 4 ] && [ "$imports" = "advapi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll " ]; then
    echo "== $arch DLL: the four entry points exported; imports $imports"
  else
    echo "== $arch DLL: FAILED: $exports entry points exported; imports $imports"
    failures=$((failures + 1))
  fi
done

export WINEPREFIX="$build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
rm -rf "$WINEPREFIX"
timeout 300 "$wine64" wineboot -i >/dev/null 2>&1
timeout 120 /usr/lib/wine/wineserver -w

drive="$WINEPREFIX/drive_c"
# Runs one test program under Wine; its last line must say "N passed, 0 failed".
check() {
  local what=$1
  shift
  local out
  out=$(timeout 300 "$@" 2>&1 | tr -d '\r') || true
  printf '%s\n' "$out" | sed "s/^/  $what: /"
  if ! printf '%s\n' "$out" | tail -n 1 | grep -Eq '^[0-9]+ passed, 0 failed$'; then
    echo "  $what: FAILED (no clean \"N passed, 0 failed\" line)"
    failures=$((failures + 1))
  fi
}

# The registry as Wine keeps it on disk, once the server has written it out: the lines matching a
# pattern must be `count` of them.
registry() {
  local count=$1 what=$2 pattern=$3 found
  timeout 120 /usr/lib/wine/wineserver -w || true
  found=$(grep -cE "$pattern" "$WINEPREFIX/system.reg" || true)
  if [ "$found" -eq "$count" ]; then
    echo "  registry: $what"
  else
    echo "  registry: FAILED: $what: $found lines, not $count"
    failures=$((failures + 1))
  fi
}

for arch in "${runs[@]}"; do
  echo "== $arch"
  dir="$drive/kel/$arch"
  mkdir -p "$dir/out/vbs" "$dir/out/js" "$dir/out/cpp"
  cp "$build/windows-$arch/windows/kelShapeLib.dll" \
    "$build/windows-$arch/windows/tests/EarlyBoundClient.exe" windows/tests/*.vbs \
    windows/tests/*.js "$dir/"
  if [ $arch = x64 ]; then
    loader=$wine64
    system='C:\windows\system32'
  else
    loader=$wine32
    system='C:\windows\syswow64'
  fi
  win="C:\\kel\\$arch"
  if timeout 120 "$loader" "$system\\regsvr32.exe" /s "$win\\kelShapeLib.dll"; then
    echo "  regsvr32: registered"
  else
    echo "  regsvr32: FAILED"
    failures=$((failures + 1))
  fi
  registry 8 "ProgIDs registered" '^\[Software\\\\Classes\\\\(Wow6432Node\\\\)?kelShapeLib\.[A-Za-z]*\\\\CLSID\]'
  registry 1 "type library registered" '"kelShapeLib"'
  check vbscript "$loader" "$system\\cscript.exe" //nologo "$win\\shapefile.vbs" "$win\\out\\vbs"
  check jscript "$loader" "$system\\cscript.exe" //nologo "$win\\shapefile.js" "$win\\out\\js"
  check c++ "$loader" "$win\\EarlyBoundClient.exe" "$win\\out\\cpp"
  if timeout 120 "$loader" "$system\\regsvr32.exe" /s /u "$win\\kelShapeLib.dll"; then
    echo "  regsvr32 /u: unregistered"
  else
    echo "  regsvr32 /u: FAILED"
    failures=$((failures + 1))
  fi
  check unregistered "$loader" "$system\\cscript.exe" //nologo "$win\\unregistered.vbs"
  registry 0 "nothing of kelShapeLib left in the registry" 'kelShapeLib'
done
timeout 120 /usr/lib/wine/wineserver -w || true

echo "== the files written under Wine, read by the Linux build and by GDAL"
if ! KEL_WINE_OUTPUT="$drive/kel" "$build/tests/kelshape_tests" --gtest_filter='WineWritten.*' \
  --gtest_brief=1; then
  failures=$((failures + 1))
fi

if [ $failures -ne 0 ]; then
  echo "windows/test.sh: $failures failed"
  exit 1
fi
echo "windows/test.sh: all passed (${runs[*]})"

#!/usr/bin/env bash
# Builds ceosalosj.dll and the test suite for 32-bit Windows with MinGW-w64 and
# runs every test under Wine.  Exits with 77 (skipped) when the toolchain
# or Wine cannot be installed.
#
#   bash scripts/test-windows.sh
#
# On Debian 12 it first installs what is missing (the i386 architecture for
# Wine, g++-mingw-w64-i686-posix, wine, wine32:i386, googletest, cmake), which
# needs root or sudo.  The build goes to build-windows (or $CEOSALOSJ_WIN_BUILD_DIR);
# Wine uses $WINEPREFIX, by default ~/.wine.  The Wine server is started once
# for the whole run and stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

build=${CEOSALOSJ_WIN_BUILD_DIR:-build-windows}
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows toolchain and Wine"
# Exit status 77 means skipped: the toolchain or Wine could not be installed
# (a Debian mirror failing, not this project).  A failing build or test still
# fails.
. scripts/apt.sh
skip() {
  echo "!! WINDOWS LEG SKIPPED: $1" >&2
  exit 77
}
updated=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=needed
fi
packages=(cmake make g++-mingw-w64-i686-posix wine wine32:i386 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})) || [ -n "$updated" ]; then
  echo "installing: ${missing[*]}"
  apt_update || echo "apt-get update failed: installing from the indexes that were read" >&2
  if ((${#missing[@]})); then
    apt_install "${missing[@]}" || skip "cannot install ${missing[*]} from Debian's registry"
  fi
fi

# One Wine server for the whole run: without it every test program would boot
# the prefix again (seconds each).  It keeps no descriptor of this script's
# output open, and it goes whatever way the script ends.
export WINEDEBUG=-all
prefix=${WINEPREFIX:-$HOME/.wine}
mkdir -p "$prefix"
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
echo "Wine ready in $((SECONDS - started)) s"

echo "== build for Windows (i686-w64-mingw32)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCEOSALOSJ_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

echo "== test under Wine"
ctest --test-dir "$build" -j"$jobs" --output-on-failure

# Against the Linux build, when there is one ($CEOSALOSJ_LINUX_BUILD_DIR,
# default build): which tests run on one platform only, by suite.
linux=${CEOSALOSJ_LINUX_BUILD_DIR:-build}
if [ -f "$linux/CTestTestfile.cmake" ]; then
  names() { ctest --test-dir "$1" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
  bysuite() { cut -d. -f1 | sort | uniq -c | awk '{printf " %s (%s)", $2, $1}'; }
  names "$build" >"$build/tests-windows.txt"
  names "$linux" >"$build/tests-linux.txt"
  echo "tests: $(wc -l <"$build/tests-windows.txt") on Windows, $(wc -l <"$build/tests-linux.txt") on Linux"
  only=$(comm -23 "$build/tests-linux.txt" "$build/tests-windows.txt" | bysuite)
  [ -z "$only" ] || echo "only on Linux:$only"
  only=$(comm -13 "$build/tests-linux.txt" "$build/tests-windows.txt" | bysuite)
  [ -z "$only" ] || echo "only on Windows:$only"
fi
echo "Windows leg took $((SECONDS - started)) s"

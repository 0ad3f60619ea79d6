#!/usr/bin/env bash
# Checks what users install, from an existing build (default: build):
#  - the Debian packages CPack makes, unpacked into a scratch root: alosj
#    writes and describes a sample, gdalinfo opens it through the packaged
#    plugin, each finding libceosalosj in that root by its run path;
#  - `cmake --install --prefix` to another prefix than the configured one:
#    everything lands under it, the plugin in <libdir>/gdalplugins, and the
#    same checks pass from there;
#  - the pkg-config file and the CMake package: a program built with either
#    reads a product.
# LD_LIBRARY_PATH is unset throughout, so nothing finds the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
unset LD_LIBRARY_PATH GDAL_DRIVER_PATH
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# alosj from $1 writes a sample and describes it; gdalinfo with the plugin
# directory $2 opens it with the ALOSJ driver; both load libceosalosj from
# $3.  Leaves the sample's directory in $sample.
check_tree() {
  local alosj=$1 plugins=$2 root=$3 product
  product=$(mktemp -d "$scratch/product.XXXX")
  [ -x "$alosj" ] || fail "no alosj at $alosj"
  [ -f "$plugins/gdal_ALOSJ.so" ] || fail "no gdal_ALOSJ.so in $plugins"
  local binary loaded
  for binary in "$alosj" "$plugins/gdal_ALOSJ.so"; do
    loaded=$(ldd "$binary" | awk '$1 == "libceosalosj.so.0" {print $3}')
    if [ -z "$loaded" ] || [ "$(realpath "$loaded")" != "$(realpath "$root/libceosalosj.so.0")" ]; then
      fail "$binary does not load libceosalosj from $root: $(ldd "$binary" | grep ceosalosj)"
    fi
  done
  "$alosj" sample "$product/p" --size tiny >/dev/null
  sample=$product/p
  "$alosj" info "$product/p" | grep -q "PRISM" || fail "alosj info does not describe the sample"
  local info
  info=$(GDAL_DRIVER_PATH=$plugins gdalinfo "$product/p") || fail "gdalinfo cannot open the sample"
  grep -q "^Driver: ALOSJ/" <<<"$info" || fail "gdalinfo did not use the ALOSJ driver: $(head -1 <<<"$info")"
  echo "ok: alosj and gdalinfo from $root"
}

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
bindir=$(sed -n 's/^CMAKE_INSTALL_BINDIR:[A-Z]*=//p' "$build/CMakeCache.txt")

echo "== Debian packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/debs" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
debroot=$scratch/debroot
for name in libceosalosj0 libceosalosj-dev alosj gdal-plugin-alosj; do
  deb=$(ls "$scratch"/debs/${name}_*.deb 2>/dev/null) || fail "no package $name"
  dpkg-deb -x "$deb" "$debroot"
  echo "$name: $(dpkg-deb -f "$deb" Depends)"
done
dpkg-deb -f "$scratch"/debs/alosj_*.deb Depends | grep -q "libceosalosj0 (= " ||
  fail "alosj does not depend on libceosalosj0"
check_tree "$debroot/usr/$bindir/alosj" "$debroot/usr/$libdir/gdalplugins" "$debroot/usr/$libdir"

echo "== cmake --install to another prefix"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
grep -q "GDAL_DRIVER_PATH=$prefix/$libdir/gdalplugins" "$scratch/install.log" ||
  fail "the install does not print GDAL_DRIVER_PATH=$prefix/$libdir/gdalplugins"
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt" || true)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
check_tree "$prefix/$bindir/alosj" "$prefix/$libdir/gdalplugins" "$prefix/$libdir"

echo "== pkg-config"
cat >"$scratch/read.cpp" <<'EOF'
#include "dataset/CeosAlosjDataset.h"
#include <cstdio>
int main(int, char** argv) {
    CeosAlosjDataset product(argv[1]);
    if (product.FileOpen(nullptr) < 0 || product.FileRead() < 0) return 1;
    std::printf("%ld x %ld\n", product.GetSceneWidth(), product.GetSceneHeight());
}
EOF
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046  # the flags are words
g++ -std=c++17 "$scratch/read.cpp" -o "$scratch/read" $(pkg-config --cflags --libs ceosalosj) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ceosalosj)" || fail "cannot build with pkg-config's flags"
volume=$(echo "$sample"/VOL-*)
size=$("$scratch/read" "$volume") || fail "the pkg-config program cannot read $volume"
"$prefix/$bindir/alosj" info "$sample" | grep -q "^Raster  *$size pixels" ||
  fail "the pkg-config program reads $size, alosj info says otherwise"
echo "ok: a program built with pkg-config's flags reads a $size product"

echo "== the CMake package"
cat >"$scratch/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(reader CXX)
find_package(ceosalosj 0 REQUIRED)
add_executable(read read.cpp)
target_link_libraries(read ceosalosj::ceosalosj)
EOF
{ cmake -S "$scratch" -B "$scratch/reader" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null &&
  cmake --build "$scratch/reader" >/dev/null; } || fail "cannot build with find_package(ceosalosj)"
[ "$("$scratch/reader/read" "$volume")" = "$size" ] || fail "the find_package program reads otherwise"
echo "ok: a program built with find_package(ceosalosj) reads it too"

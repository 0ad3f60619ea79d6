#!/usr/bin/env bash
# Installs what is missing, builds the alosj tool, writes a synthetic PRISM
# Level 1B1 product and runs info, export and quicklook on it.  Everything it
# writes goes to build/demo/ (or the directory given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== build alosj"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target alosj >/dev/null
alosj=build/tools/alosj

out=${1:-build/demo}
mkdir -p "$out"
# Only what an earlier run of this script wrote is replaced.
rm -rf "$out/product" "$out/scene.tif" "$out/quicklook.png"

echo "== alosj sample $out/product"
"$alosj" sample "$out/product"
echo
echo "== alosj info $out/product"
"$alosj" info "$out/product"
echo
echo "== alosj export $out/product $out/scene.tif"
"$alosj" export "$out/product" "$out/scene.tif"
echo
echo "== alosj quicklook $out/product $out/quicklook.png"
"$alosj" quicklook "$out/product" "$out/quicklook.png"
echo
echo "== gdalinfo $out/scene.tif (abridged)"
gdalinfo "$out/scene.tif" | grep -E "^(Driver|Size is|GCP\[|  *\([0-9.]+,[0-9.]+\) ->|Band|  Description|  NoData)" || true
echo
echo "Outputs:"
echo "  product    $out/product/  (the synthetic CEOS product: VOL, LED, IMG-01..06, TRL, SUP)"
echo "  GeoTIFF    $out/scene.tif  (tiled, DEFLATE, placed by its four corner GCPs in EPSG:4326)"
echo "  quicklook  $out/quicklook.png"
echo "Try also: $alosj sample $out/avnir2 --sensor avnir2 --level 1B2 && $alosj quicklook $out/avnir2 $out/avnir2.png"

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
rm -rf "$out/product" "$out/scene.tif" "$out/scene.qml" "$out/map.tif" "$out/map.qml" "$out/quicklook.png"

echo "== alosj sample $out/product"
"$alosj" sample "$out/product"
echo
echo "== alosj info $out/product"
"$alosj" info "$out/product"
echo
echo "== alosj export $out/product $out/scene.tif"
"$alosj" export "$out/product" "$out/scene.tif"
echo
echo "== alosj export $out/product $out/map.tif --warp"
"$alosj" export "$out/product" "$out/map.tif" --warp
echo
echo "== alosj locate $out/product --pixel 100.5 200.5"
"$alosj" locate "$out/product" --pixel 100.5 200.5
echo
echo "== alosj quicklook $out/product $out/quicklook.png"
"$alosj" quicklook "$out/product" "$out/quicklook.png"
echo
echo "== gdalinfo $out/scene.tif (abridged)"
gdalinfo -nogcp "$out/scene.tif" | grep -E "^(Driver|Size is|Band|  Description|  NoData|  Offset|  Unit)" || true
echo "GCPs: $(gdalinfo "$out/scene.tif" | grep -c '^GCP\[')"
echo
echo "Outputs:"
echo "  product    $out/product/  (the synthetic CEOS product: VOL, LED, IMG-01..06, TRL, SUP)"
echo "  GeoTIFF    $out/scene.tif  (tiled, DEFLATE, placed by a grid of GCPs from the processor's geolocation)"
echo "  map        $out/map.tif  (map-projected onto UTM zone 54 north by the processor's geolocation)"
echo "  quicklook  $out/quicklook.png"
echo "Try also: $alosj sample $out/avnir2 --sensor avnir2 --level 1B2 && $alosj quicklook $out/avnir2 $out/avnir2.png"

#!/usr/bin/env bash
# The map-projected export of a full-size PRISM Level 1B1 scene (the sample,
# whose geolocation polynomials fit its geometry): `alosj export --warp`,
# which evaluates the polynomials for every output pixel (within GDAL's
# approximation of 0.05 pixel), against gdalwarp of the same scene placed by
# its four corner GCPs onto the same grid.  Both write an uncompressed tiled
# GeoTIFF with cubic resampling; time (best of the runs) and peak resident
# memory.  Prints Markdown table rows.
#
# Usage: bash bench/warp.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the sample (0.5 GB) and the outputs (about 0.7 GB
#   each, one at a time); what it writes there is deleted at the end.
# Environment: CEOSALOSJ_BENCH_RUNS (default 3).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: bash bench/warp.sh WORK_DIRECTORY [BUILD_DIRECTORY]}
build=${2:-$repo/build-bench}
runs=${CEOSALOSJ_BENCH_RUNS:-3}
alosj=$build/tools/alosj
measure=$build/bench/ceosalosj_measure
mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work/warp-sample" "$work/warp-out"' EXIT
mkdir -p "$work/warp-out"

echo "== warp: writing the full-size PRISM 1B1 sample" >&2
"$alosj" -q sample "$work/warp-sample" --sensor prism --level 1B1 --size full >/dev/null
volume=$(ls "$work"/warp-sample/VOL-*)
sync

# The grid alosj warps onto: read back from a first run's output.
"$alosj" -q export --compress NONE --warp "$volume" "$work/warp-out/grid.tif" >/dev/null
read -r xmin ymax xres epsg width height < <(python3 - "$work/warp-out/grid.tif" <<'PY'
import json, subprocess, sys
info = json.loads(subprocess.run(["gdalinfo", "-json", sys.argv[1]], capture_output=True, text=True).stdout)
gt = info["geoTransform"]
epsg = info["coordinateSystem"]["wkt"].rsplit('ID["EPSG",', 1)[1].split("]")[0]
print(gt[0], gt[3], gt[1], epsg, info["size"][0], info["size"][1])
PY
)
rm -f "$work/warp-out/grid.tif"
xmax=$(python3 -c "print($xmin + $width * $xres)")
ymin=$(python3 -c "print($ymax - $height * $xres)")

# The same scene placed by its four corners only.
"$alosj" -q export --compress NONE "$volume" "$work/warp-out/dn.tif" >/dev/null
corners=$("$alosj" -q info --json "$volume" | python3 -c '
import json, sys
i = json.load(sys.stdin)
w, h, c = i["width"], i["height"], i["corners"]
for key, x, y in (("upperLeft", 0.5, 0.5), ("upperRight", w - 0.5, 0.5),
                  ("lowerRight", w - 0.5, h - 0.5), ("lowerLeft", 0.5, h - 0.5)):
    print("-gcp", x, y, c[key]["longitude"], c[key]["latitude"], end=" ")')
# shellcheck disable=SC2086
gdal_translate -q -of VRT -a_srs EPSG:4326 $corners "$work/warp-out/dn.tif" "$work/warp-out/corners.vrt"

sync
alosj_result=$("$measure" --repeat="$runs" -- "$alosj" -q export --overwrite --compress NONE --warp --resampling cubic \
  "$volume" "$work/warp-out/alosj.tif")
rm -f "$work/warp-out/alosj.tif"
sync
gdal_result=$("$measure" --repeat="$runs" -- gdalwarp -q -order 1 -r cubic -t_srs "EPSG:$epsg" \
  -te "$xmin" "$ymin" "$xmax" "$ymax" -ts "$width" "$height" -co TILED=YES -co BLOCKXSIZE=256 \
  -co BLOCKYSIZE=256 -co BIGTIFF=IF_SAFER -wm 64 -overwrite "$work/warp-out/corners.vrt" "$work/warp-out/gdal.tif")
rm -f "$work/warp-out/gdal.tif"

read -r a_s a_kib <<<"$alosj_result"
read -r g_s g_kib <<<"$gdal_result"
python3 - "$a_s" "$a_kib" "$g_s" "$g_kib" "$width" "$height" "$epsg" <<'PY'
import sys
a_s, a_kib, g_s, g_kib = float(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
width, height, epsg = sys.argv[5], sys.argv[6], sys.argv[7]
print(f"| PRISM 1B1 sample, full size, warped onto EPSG:{epsg}, {width} × {height} at 2.5 m | "
      f"alosj export --warp (the polynomials, cubic) | {a_s:.1f} s, {a_kib / 1024:.0f} MB | "
      f"gdalwarp of the four-corner GCP placement onto the same grid: {g_s:.1f} s, {g_kib / 1024:.0f} MB | "
      f"{a_s / g_s:.2f} × the time; {a_kib / g_kib:.2f} × the memory | bounded memory |")
PY

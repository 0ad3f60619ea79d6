#!/usr/bin/env bash
# The map-projected export of a full-size PRISM Level 1B1 scene (the sample,
# whose geolocation polynomials fit its geometry): `alosj export --warp`,
# which evaluates the polynomials for every output pixel (within GDAL's
# approximation of 0.05 pixel), against gdalwarp of the same scene placed by
# its four corner GCPs onto the same grid on every core (-multi -wo
# NUM_THREADS=ALL_CPUS).  Both write an uncompressed tiled GeoTIFF with cubic
# resampling; then `--warp --format COG` (alosj's defaults) against that
# `--warp`.  Wall time (best of the runs), its processor time and peak
# resident memory.  Prints Markdown table rows.
#
# Usage: bash bench/warp.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the sample (0.5 GB) and the outputs (about 0.7 GB
#   each, one at a time); what it writes there is deleted at the end.
# Environment: CEOSALOSJ_BENCH_RUNS (default 3); CEOSALOSJ_BENCH_SAMPLE, a
#   directory holding the full-size PRISM 1B1 sample already (`alosj sample
#   DIR --sensor prism --level 1B1 --size full`), used instead of writing one.
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

if [[ -n ${CEOSALOSJ_BENCH_SAMPLE:-} ]]; then
  volume=$(ls "$CEOSALOSJ_BENCH_SAMPLE"/VOL-*)
else
  echo "== warp: writing the full-size PRISM 1B1 sample" >&2
  "$alosj" -q sample "$work/warp-sample" --sensor prism --level 1B1 --size full >/dev/null
  volume=$(ls "$work"/warp-sample/VOL-*)
fi
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

# Each tool in turn, run after run, so that both see the same load.
alosj_warp=("$alosj" -q export --overwrite --compress NONE --warp --resampling cubic "$volume" "$work/warp-out/alosj.tif")
gdal_warp=(gdalwarp -q -multi -wo NUM_THREADS=ALL_CPUS -order 1 -r cubic -t_srs "EPSG:$epsg"
  -te "$xmin" "$ymin" "$xmax" "$ymax" -ts "$width" "$height" -co TILED=YES -co BLOCKXSIZE=256
  -co BLOCKYSIZE=256 -co BIGTIFF=IF_SAFER -wm 64 -overwrite "$work/warp-out/corners.vrt" "$work/warp-out/gdal.tif")
alosj_geotiff=("$alosj" -q export --overwrite --warp --resampling cubic "$volume" "$work/warp-out/alosj-deflate.tif")
alosj_cog=("$alosj" -q export --overwrite --warp --resampling cubic --format COG "$volume" "$work/warp-out/alosj-cog.tif")
# best OLD NEW: the line of the faster run ("seconds KiB cpu-seconds"), the larger peak.
best() {
  if [[ -z $1 ]]; then echo "$2"; return; fi
  python3 -c 'import sys; a, b = sys.argv[1].split(), sys.argv[2].split()
f = a if float(a[0]) <= float(b[0]) else b
print(f[0], max(int(a[1]), int(b[1])), f[2])' "$1" "$2"
}
alosj_result= gdal_result= geotiff_result= cog_result=
for ((run = 0; run < runs; ++run)); do
  echo "== warp: run $((run + 1)) of $runs" >&2
  sync
  alosj_result=$(best "$alosj_result" "$("$measure" --cpu -- "${alosj_warp[@]}")")
  rm -f "$work/warp-out/alosj.tif"
  sync
  gdal_result=$(best "$gdal_result" "$("$measure" --cpu -- "${gdal_warp[@]}")")
  rm -f "$work/warp-out/gdal.tif"
  sync
  geotiff_result=$(best "$geotiff_result" "$("$measure" --cpu -- "${alosj_geotiff[@]}")")
  rm -f "$work/warp-out/alosj-deflate.tif"
  sync
  cog_result=$(best "$cog_result" "$("$measure" --cpu -- "${alosj_cog[@]}")")
  rm -f "$work/warp-out/alosj-cog.tif"
done

python3 - "$alosj_result" "$gdal_result" "$geotiff_result" "$cog_result" "$width" "$height" "$epsg" <<'PY'
import sys
(a_s, a_kib, a_cpu), (g_s, g_kib, g_cpu), (t_s, t_kib, t_cpu), (c_s, c_kib, c_cpu) = (
    (float(s), int(k), float(c)) for s, k, c in (arg.split() for arg in sys.argv[1:5]))
width, height, epsg = sys.argv[5], sys.argv[6], sys.argv[7]
print(f"| PRISM 1B1 sample, full size, warped onto EPSG:{epsg}, {width} × {height} at 2.5 m | "
      f"alosj export --warp (the polynomials, cubic, uncompressed) | {a_s:.1f} s, {a_cpu:.1f} s CPU, "
      f"{a_kib / 1024:.0f} MB | gdalwarp -multi -wo NUM_THREADS=ALL_CPUS of the four-corner GCP placement onto "
      f"the same grid: {g_s:.1f} s, {g_cpu:.1f} s CPU, {g_kib / 1024:.0f} MB | {a_s / g_s:.2f} × the time "
      f"({a_cpu / g_cpu:.2f} × the CPU); {a_kib / g_kib:.2f} × the memory | ≤ 1.0 ×, bounded memory |")
print(f"| | alosj export --warp --format COG (defaults: DEFLATE, overviews) | {c_s:.1f} s, {c_cpu:.1f} s CPU, "
      f"{c_kib / 1024:.0f} MB | alosj export --warp, defaults (DEFLATE GeoTIFF): {t_s:.1f} s, {t_cpu:.1f} s CPU, "
      f"{t_kib / 1024:.0f} MB | {c_s / t_s:.2f} × the time ({c_cpu / t_cpu:.2f} × the CPU) | ≤ 1.3 × |")
PY

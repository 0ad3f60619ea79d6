#!/usr/bin/env bash
# Orthorectification of the full-size forward-view PRISM Level 1B1 sample on
# the DEM of its terrain: `alosj export --warp --dem` (the line-of-sight
# model) against gdalwarp with the product's own RPC model through the GDAL
# driver (`-rpc -to RPC_DEM=`, every core) onto the same grid.  Both write an
# uncompressed tiled GeoTIFF with cubic resampling; time (best of the runs),
# peak resident memory, and how far each puts the survey targets painted on
# the volcano's summit and on the coastal plain from their true places.
# Prints Markdown table rows.
#
# Usage: bash bench/ortho.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the sample (0.5 GB), its DEM and the outputs
#   (about 1 GB each); what it writes there is deleted at the end.
# Environment: CEOSALOSJ_BENCH_RUNS (default 3).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: bash bench/ortho.sh WORK_DIRECTORY [BUILD_DIRECTORY]}
build=${2:-$repo/build-bench}
runs=${CEOSALOSJ_BENCH_RUNS:-3}
alosj=$build/tools/alosj
measure=$build/bench/ceosalosj_measure
mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work/ortho-sample" "$work/ortho-out"' EXIT
mkdir -p "$work/ortho-out"
export GDAL_DRIVER_PATH=$build/gdalplugins

echo "== ortho: writing the full-size forward-view PRISM 1B1 sample and its DEM" >&2
"$alosj" -q sample "$work/ortho-sample" --sensor prism --level 1B1 --size full --view forward \
  --dem-out "$work/ortho-out/dem.tif" >/dev/null
volume=$(ls "$work"/ortho-sample/VOL-*)
dem=$work/ortho-out/dem.tif
sync

alosj_result=$("$measure" --repeat="$runs" -- "$alosj" -q export --overwrite --compress NONE --warp --dem "$dem" \
  --resampling cubic "$volume" "$work/ortho-out/alosj.tif")

# The same grid for gdalwarp.
read -r srs_file xmin ymin xmax ymax width height < <(/usr/bin/python3 - "$work/ortho-out/alosj.tif" "$work/ortho-out" <<'PY'
import sys
from osgeo import gdal
ds = gdal.Open(sys.argv[1])
gt = ds.GetGeoTransform()
srs = sys.argv[2] + "/grid.wkt"
open(srs, "w").write(ds.GetProjection())
print(srs, gt[0], gt[3] + ds.RasterYSize * gt[5], gt[0] + ds.RasterXSize * gt[1], gt[3], ds.RasterXSize, ds.RasterYSize)
PY
)
sync
gdal_result=$("$measure" --repeat="$runs" -- gdalwarp -q -overwrite -rpc -to "RPC_DEM=$dem" -r cubic \
  -multi -wo NUM_THREADS=ALL_CPUS -wm 256 -t_srs "$srs_file" -te "$xmin" "$ymin" "$xmax" "$ymax" \
  -ts "$width" "$height" -dstnodata 0 -co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co BIGTIFF=IF_SAFER \
  "$volume" "$work/ortho-out/gdal.tif")

read -r a_s a_kib <<<"$alosj_result"
read -r g_s g_kib <<<"$gdal_result"
/usr/bin/python3 - "$a_s" "$a_kib" "$g_s" "$g_kib" "$dem" "$work/ortho-out/alosj.tif" "$work/ortho-out/gdal.tif" <<'PY'
import math, sys
import numpy
from osgeo import gdal, osr
gdal.UseExceptions()
a_s, a_kib, g_s, g_kib = float(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
dem, outputs = sys.argv[5], sys.argv[6:]

def errors(path):
    """Distances (output pixels) of the targets found from their true places."""
    ds = gdal.Open(path)
    gt = ds.GetGeoTransform()
    crs = osr.SpatialReference(wkt=ds.GetProjection())
    crs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    wgs84 = osr.SpatialReference()
    wgs84.ImportFromEPSG(4326)
    wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    to_map = osr.CoordinateTransformation(wgs84, crs)
    result = []
    for key in ("TARGET_SUMMIT", "TARGET_PLAIN"):
        lat, lon, _ = map(float, gdal.Open(dem).GetMetadataItem(key).split())
        x, y, _ = to_map.TransformPoint(lon, lat)
        column, row = (x - gt[0]) / gt[1], (y - gt[3]) / gt[5]
        c0, r0 = int(column) - 40, int(row) - 40
        window = ds.GetRasterBand(1).ReadAsArray(c0, r0, 80, 80)
        rows, columns = numpy.nonzero((window > 0) & (window < 6))
        if rows.size == 0:
            result.append(float("nan"))
            continue
        result.append(math.hypot(c0 + columns.mean() + 0.5 - column, r0 + rows.mean() + 0.5 - row))
    return result

(a_summit, a_plain), (g_summit, g_plain) = errors(outputs[0]), errors(outputs[1])
ds = gdal.Open(outputs[0])
print(f"| PRISM 1B1 forward view, full size, on its DEM, {ds.RasterXSize} × {ds.RasterYSize} at "
      f"{ds.GetGeoTransform()[1]:g} m | alosj export --warp --dem (cubic): {a_s:.1f} s, {a_kib / 1024:.0f} MB; "
      f"targets off by {a_summit:.2f} px (summit), {a_plain:.2f} px (plain) | "
      f"gdalwarp -rpc -to RPC_DEM (the product's RPCs, all cores) onto the same grid: {g_s:.1f} s, "
      f"{g_kib / 1024:.0f} MB; targets off by {g_summit:.2f} px, {g_plain:.2f} px | "
      f"{a_s / g_s:.2f} × the time; {a_kib / g_kib:.2f} × the memory | ≤ 1.0 × the time |")
PY

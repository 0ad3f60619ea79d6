#!/usr/bin/env bash
# Heights from the full-size PRISM triplet over the volcano: `alosj dsm` of
# its three views (or two of them) at 5 m cells, heights above EGM96 as its
# DEM gives them; time and peak resident memory (best of the runs), what the
# matching cost per megapixel of rectified frames beside the share OpenCV's
# semi-global matching took of it, and the DSM against the terrain the views
# were rendered from at every 4th cell of the DEM that is land and lies
# inside every view matched: how much of the land the views record (no view
# saturated there) has a height, the same of all land, the median and 90th
# percentile of the absolute errors and the error at the summit's target.
# Prints Markdown table rows.
#
# Usage: bash bench/dsm.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the triplet (1.4 GB), its DEM and the DSM; what
#   it writes there is deleted at the end.
# Environment: CEOSALOSJ_BENCH_DSM_RUNS (default 1: one run takes some
#   minutes on two cores); CEOSALOSJ_BENCH_DSM_SAMPLE=DIRECTORY keeps the
#   triplet and its DEM there (written when DIRECTORY/dem.tif is missing);
#   CEOSALOSJ_BENCH_DSM_VIEWS the views to match (default "nadir forward
#   backward"; "backward forward" matches that pair alone).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: bash bench/dsm.sh WORK_DIRECTORY [BUILD_DIRECTORY]}
build=${2:-$repo/build-bench}
runs=${CEOSALOSJ_BENCH_DSM_RUNS:-1}
read -r -a views <<<"${CEOSALOSJ_BENCH_DSM_VIEWS:-nadir forward backward}"
alosj=$build/tools/alosj
measure=$build/bench/ceosalosj_measure
mkdir -p "$work"
work=$(cd "$work" && pwd)
sample=${CEOSALOSJ_BENCH_DSM_SAMPLE:-$work/dsm-sample}
if [ -n "${CEOSALOSJ_BENCH_DSM_SAMPLE:-}" ]; then
  trap 'rm -rf "$work/dsm-out"' EXIT
else
  trap 'rm -rf "$sample" "$work/dsm-out"' EXIT
fi
mkdir -p "$work/dsm-out"
export GDAL_DRIVER_PATH=$build/gdalplugins

dem=$sample/dem.tif
sample_result="0 0"
if [ ! -f "$dem" ]; then
  echo "== dsm: writing the full-size PRISM 1B1 triplet over the volcano and its DEM" >&2
  sample_result=$("$measure" -- "$alosj" -q sample "$sample" --triplet --place volcano --size full --dem-out "$dem")
fi
sync

echo "== dsm: alosj dsm of the views ${views[*]}" >&2
dsm_result=$("$measure" --repeat="$runs" -- "$alosj" dsm --overwrite --geoid "${views[@]/#/$sample/}" \
  -o "$work/dsm-out/dsm.tif" 2>"$work/dsm-out/log")
cat "$work/dsm-out/log" >&2

# The measurement is the last line (alosj prints the paths it wrote before it).
read -r w_s w_kib <<<"$(tail -n 1 <<<"$sample_result")"
read -r d_s d_kib <<<"$(tail -n 1 <<<"$dsm_result")"
/usr/bin/python3 - "$w_s" "$d_s" "$d_kib" "$dem" "$work/dsm-out/dsm.tif" "$work/dsm-out/log" \
  "${views[@]/#/$sample/}" <<'PY'
import glob, math, re, sys
import numpy
from osgeo import gdal, osr
gdal.UseExceptions()
w_s, d_s, d_kib = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
dem_path, dsm_path, log = sys.argv[4], sys.argv[5], open(sys.argv[6]).read()
views = sys.argv[7:]

dem = gdal.Open(dem_path)
tgt = dem.GetGeoTransform()
truth = dem.GetRasterBand(1).ReadAsArray()[::4, ::4].astype(float)
rows, columns = numpy.mgrid[0:dem.RasterYSize:4, 0:dem.RasterXSize:4]
east, north = tgt[0] + (columns + 0.5) * tgt[1], tgt[3] + (rows + 0.5) * tgt[5]
utm = osr.SpatialReference(wkt=dem.GetProjection())
utm.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
wgs84 = osr.SpatialReference()
wgs84.ImportFromEPSG(4326)
wgs84.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
lonlat = numpy.array(osr.CoordinateTransformation(utm, wgs84).TransformPoints(
    numpy.column_stack([east.ravel(), north.ravel()])))[:, :2]

# Where each view shows the ground (its RPCs on the DEM), and whether it saturated there.
seen = numpy.ones(truth.size, bool)
saturated = numpy.zeros(truth.size, bool)
for view in views:
    ds = gdal.Open(glob.glob(view + "/VOL-*")[0])
    transformer = gdal.Transformer(ds, None, ["METHOD=RPC", "RPC_DEM=" + dem_path])
    points, ok = transformer.TransformPoints(1, [tuple(p) for p in lonlat])
    points, ok = numpy.array(points), numpy.array(ok, bool)
    pixel, line = points[:, 0], points[:, 1]
    inside = ok & (pixel > 40) & (line > 40) & (pixel < ds.RasterXSize - 40) & (line < ds.RasterYSize - 40)
    seen &= inside
    image = ds.GetRasterBand(1).ReadAsArray()
    c = numpy.clip(pixel.astype(int), 1, ds.RasterXSize - 2)
    r = numpy.clip(line.astype(int), 1, ds.RasterYSize - 2)
    for dr in (-1, 0, 1):
        for dc in (-1, 0, 1):
            saturated |= inside & (image[r + dr, c + dc] == 255)
    del image

dsm = gdal.Open(dsm_path)
gt = dsm.GetGeoTransform()
heights = dsm.GetRasterBand(1).ReadAsArray().astype(float)
heights[heights == -32768] = numpy.nan
u, v = (east.ravel() - gt[0]) / gt[1] - 0.5, (north.ravel() - gt[3]) / gt[5] - 0.5
c0, r0 = numpy.floor(u).astype(int), numpy.floor(v).astype(int)
fu, fv = u - c0, v - r0
def at(c, r):
    valid = (c >= 0) & (r >= 0) & (c < heights.shape[1]) & (r < heights.shape[0])
    return numpy.where(valid, heights[numpy.clip(r, 0, heights.shape[0] - 1), numpy.clip(c, 0, heights.shape[1] - 1)], numpy.nan)
value = (1 - fv) * ((1 - fu) * at(c0, r0) + fu * at(c0 + 1, r0)) + fv * ((1 - fu) * at(c0, r0 + 1) + fu * at(c0 + 1, r0 + 1))
nearest = at(numpy.rint(u).astype(int), numpy.rint(v).astype(int))
value = numpy.where(numpy.isfinite(value), value, nearest)
land = seen & (truth.ravel() >= 1)
recorded = land & ~saturated
has = numpy.isfinite(value)
errors = numpy.abs(value - truth.ravel())[land & has]

# The summit target's height above the ellipsoid, above EGM96.
lat, lon, h = map(float, dem.GetMetadataItem("TARGET_SUMMIT").split())
ellipsoidal, geoid = osr.SpatialReference(), osr.SpatialReference()
ellipsoidal.ImportFromEPSG(4979)
geoid.SetFromUserInput("EPSG:4326+5773")
for crs in (ellipsoidal, geoid):
    crs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
truth_summit = osr.CoordinateTransformation(ellipsoidal, geoid).TransformPoint(lon, lat, h)[2]
x, y, _ = osr.CoordinateTransformation(wgs84, utm).TransformPoint(lon, lat)
summit = heights[int((y - gt[3]) / gt[5]), int((x - gt[0]) / gt[1])]

match = re.search(r"matching of ([\d.]+) megapixels of rectified frames: ([\d.]+) s", log)
frames, sgbm_s = float(match.group(1)), float(match.group(2))
gaps = re.findall(r"(\w+-\w+): [\d]+ points, ray gap median ([\d.]+) m, 90th percentile ([\d.]+) m", log)
size = f"{dsm.RasterXSize} × {dsm.RasterYSize} cells of {gt[1]:g} m"
threads = re.search(r"on (\d+) threads", log).group(1)
pairs = {2: "one pair", 3: "three pairs"}[len(views)]
names = "–".join(v.rstrip("/").split("/")[-1] for v in views)
print(f"| PRISM 1B1 triplet over the volcano, full size, {names} ({size}) | alosj dsm, {pairs}, {threads} threads: "
      f"{d_s / 60:.1f} min, {d_kib / 1024:.0f} MB | {frames:.0f} Mpx of rectified frames matched: "
      f"{d_s / frames:.2f} s/Mpx | OpenCV StereoSGBM inside it: {sgbm_s / frames:.2f} s/Mpx of a thread "
      f"({sgbm_s / int(threads) / frames:.2f} s/Mpx on all) | SGBM {100 * sgbm_s / int(threads) / d_s:.0f} % of the time | "
      f"{100 * (recorded & has).sum() / recorded.sum():.1f} % of the land recorded (no view saturated) filled, "
      f"{100 * (land & has).sum() / land.sum():.1f} % of all land; median error {numpy.median(errors):.2f} m, "
      f"90th percentile {numpy.percentile(errors, 90):.2f} m; summit target {abs(summit - truth_summit):.1f} m; "
      + "; ".join(f"{p} ray gap {m} m median, {q} m 90th percentile" for p, m, q in gaps)
      + " (aim: 90 % filled, median 2.5 m, 90th percentile 7.5 m) |")
if w_s > 0:
    print(f"| the triplet and its DEM | alosj sample --triplet --size full: {w_s / 60:.1f} min | | | | |")
PY

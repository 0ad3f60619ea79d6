#!/usr/bin/env bash
# Throughput of the jobs users wait on, each beside its reference in one run:
#   1. the default `alosj export` (and `--format COG`) of the full-size PRISM
#      1B1 sample against gdal_translate writing the same raster from an
#      uncompressed GeoTIFF with the same creation options, and the file's
#      size against DEFLATE level 6;
#   2. every row of every band through GetRows (512 rows at a time) against
#      cat of the product's files, and GetRow against the per-line pread loop;
#   3. the GDAL driver read in 1024 × 1024 windows against full-width strips
#      of 512 rows, and strips against cat; each in a fresh process, the
#      open timed on its own (most of it is GDAL's first set-up in a process).
# Prints Markdown table rows.
#
# Usage: bash bench/throughput.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the products (about 1 GB) and one export at a
#   time; what it writes there is deleted at the end.
# Environment: CEOSALOSJ_BENCH_RUNS (default 3), CEOSALOSJ_BENCH_REPETITIONS (default 5).
# The driver reads use Debian's python3 with python3-gdal (/usr/bin/python3).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: bash bench/throughput.sh WORK_DIRECTORY [BUILD_DIRECTORY]}
build=${2:-$repo/build-bench}
runs=${CEOSALOSJ_BENCH_RUNS:-3}
repetitions=${CEOSALOSJ_BENCH_REPETITIONS:-5}
alosj=$build/tools/alosj
measure=$build/bench/ceosalosj_measure
bench=$build/bench/ceosalosj_bench
plugins=$build/gdalplugins
mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work/throughput"' EXIT
mkdir -p "$work/throughput/out"
t=$work/throughput

echo "== throughput: full-size products" >&2
"$bench" --prepare --kinds=prism-1b1,avnir2-1b1,prism-1b2 --products="$t/products" >"$t/products.txt"
sync
warm() { cat "$@" >/dev/null; }

# best NAME COMMAND...: "NAME seconds peak-KiB cpu-seconds" of the best of $runs runs.
best() {
  local name=$1
  shift
  sync
  echo "$name $("$measure" --repeat="$runs" --cpu -- "$@" </dev/null)" >>"$t/results.txt"
}
# once NAME COMMAND...: the same of one run.
once() {
  local name=$1
  shift
  sync
  echo "$name $("$measure" --cpu -- "$@" </dev/null)" >>"$t/results.txt"
}
: >"$t/results.txt"

# The export is measured on the full-size sample, whose picture compresses
# as a real scene does (the benchmark products' pixels hardly compress).
"$alosj" -q sample "$t/sample" --sensor prism --level 1B1 --size full >/dev/null
prism=$(ls "$t"/sample/VOL-*)
warm "$t"/sample/*
"$alosj" -q export --compress NONE "$prism" "$t/out/plain.tif" >/dev/null
creation=(-co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co COMPRESS=DEFLATE -co ZLEVEL=1 -co PREDICTOR=2
          -co NUM_THREADS=ALL_CPUS -co BIGTIFF=IF_SAFER -co PHOTOMETRIC=MINISBLACK)
echo "== throughput: exports (best of $runs)" >&2
best export.gdal gdal_translate -q "${creation[@]}" "$t/out/plain.tif" "$t/out/gdal.tif"
best cog.gdal gdal_translate -q -of COG -co COMPRESS=DEFLATE -co LEVEL=1 -co PREDICTOR=YES -co NUM_THREADS=ALL_CPUS \
  -co BLOCKSIZE=512 -co BIGTIFF=IF_SAFER -co RESAMPLING=AVERAGE "$t/out/plain.tif" "$t/out/gdal-cog.tif"
# The export and the COG in turn, run after run, so that both see the same
# load (the machine may be shared): each one's best run.
for ((run = 0; run < runs; ++run)); do
  once export.alosj.$run "$alosj" -q export --overwrite "$prism" "$t/out/alosj.tif"
  once cog.alosj.$run "$alosj" -q export --overwrite --format COG "$prism" "$t/out/alosj-cog.tif"
done
"$alosj" -q export --overwrite --level 6 "$prism" "$t/out/level6.tif" >/dev/null
echo "size.default $(stat -c %s "$t/out/alosj.tif") 0 0" >>"$t/results.txt"
echo "size.level6 $(stat -c %s "$t/out/level6.tif") 0 0" >>"$t/results.txt"
rm -f "$t"/out/*.tif

echo "== throughput: GetRows and GetRow (Google Benchmark, $repetitions repetitions)" >&2
"$bench" --kinds=prism-1b1,avnir2-1b1,prism-1b2 --products="$t/products" \
  --benchmark_filter='^(GetRows|CatProduct|Paired)/' --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_min_time=0.5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$t/bench.json" --benchmark_out_format=json >&2

echo "== throughput: reads through the GDAL driver" >&2
GDAL_DRIVER_PATH=$plugins /usr/bin/python3 - "$t/products.txt" "$runs" >"$t/gdal.txt" <<'PY'
import subprocess, sys, time
products = [line.split() for line in open(sys.argv[1])]
runs = int(sys.argv[2])
# Each way in a fresh process (GDAL's block cache empty, the page cache warm).
program = r'''
import sys, time
from osgeo import gdal
gdal.UseExceptions()
path, way = sys.argv[1], sys.argv[2]
start = time.perf_counter()
d = gdal.Open(path)
opened = time.perf_counter()
w, h, n = d.RasterXSize, d.RasterYSize, d.RasterCount
bands = list(range(1, n + 1))
if way == "strips":
    for y in range(0, h, 512):
        d.ReadRaster(0, y, w, min(512, h - y), band_list=bands)
else:
    for y in range(0, h, 1024):
        for x in range(0, w, 1024):
            d.ReadRaster(x, y, min(1024, w - x), min(1024, h - y), band_list=bands)
print(opened - start, time.perf_counter() - opened)
'''
import glob, os
for kind, volume, *_ in products:
    files = glob.glob(os.path.join(os.path.dirname(volume), "*"))
    result, opens = {}, []
    for way in ("cat", "strips", "windows"):
        times = []
        for _ in range(runs):
            if way == "cat":
                start = time.perf_counter()
                for f in files:
                    with open(f, "rb") as handle:
                        while handle.read(1 << 20):
                            pass
                times.append(time.perf_counter() - start)
            else:
                out = subprocess.run([sys.executable, "-c", program, volume, way], capture_output=True, text=True,
                                     check=True)
                opening, reading = map(float, out.stdout.split())
                opens.append(opening)
                times.append(reading)
        result[way] = min(times)
    print(kind, result["cat"], result["strips"], result["windows"], min(opens))
PY

python3 - "$t" <<'PY'
import json, os, sys
t = sys.argv[1]
r = {}
for line in open(os.path.join(t, "results.txt")):
    name, a, b, c = line.split()
    r[name] = (float(a), int(b), float(c))
# The export's and the COG's best runs of those made in turn.
for name in ("export.alosj", "cog.alosj"):
    r[name] = min((v for k, v in r.items() if k.startswith(name + ".")), key=lambda v: v[0])
titles = {"prism-1b1": "PRISM 1B1", "avnir2-1b1": "AVNIR-2 1B1", "prism-1b2": "PRISM 1B2"}
a, g = r["export.alosj"], r["export.gdal"]
ca, cg = r["cog.alosj"], r["cog.gdal"]
size, size6 = r["size.default"][0], r["size.level6"][0]
print(f"| PRISM 1B1, full size | alosj export, defaults (DEFLATE level 1, predictor, every core) | {a[0]:.2f} s, "
      f"{a[1] / 1024:.0f} MB, {size / 2**20:.1f} MB file | gdal_translate of the same raster from an uncompressed "
      f"GeoTIFF, same options: {g[0]:.2f} s; level 6 file: {size6 / 2**20:.1f} MB | {a[0] / g[0]:.2f} × the time; "
      f"file {100 * (size / size6 - 1):+.1f} % | ≤ 1.15 ×, ≤ 4 s on 2 cores, ≤ +10 % |")
print(f"| | alosj export --format COG (one pass, overviews reduced as the rows stream) | {ca[0]:.2f} s, "
      f"{ca[2]:.2f} s CPU, {ca[1] / 1024:.0f} MB | the default export above: {a[0]:.2f} s, {a[2]:.2f} s CPU; "
      f"gdal_translate -of COG from the uncompressed GeoTIFF, same options: {cg[0]:.2f} s, {cg[2]:.2f} s CPU | "
      f"{ca[0] / a[0]:.2f} × the export ({ca[2] / a[2]:.2f} × its CPU); {ca[0] / cg[0]:.2f} × gdal_translate "
      f"({ca[2] / cg[2]:.2f} × its CPU) | ≤ 1.3 ×; ≤ 0.5 × |")
with open(os.path.join(t, "bench.json")) as f:
    bench = json.load(f)
median = {}
for b in bench["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    scale = {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
    name = b["run_name"].replace("/real_time", "")
    median[name] = b["cpu_time"] * scale
    if "of_limit" in b:
        median[name + ":ratio"] = b["of_limit"]
gdal = {line.split()[0]: list(map(float, line.split()[1:])) for line in open(os.path.join(t, "gdal.txt"))}
for kind, title in titles.items():
    rows, cat = median[f"GetRows/{kind}"], median[f"CatProduct/{kind}"]
    print(f"| {title} | every row of every band through GetRows (512 rows a call) | {rows:.0f} ms | cat of the "
          f"product's files: {cat:.0f} ms | {rows / cat:.2f} × | ≤ 1.2 × |")
    print(f"| | GetRow against the per-line pread loop | | | {median[f'Paired/{kind}:ratio']:.2f} of the loop | ≥ 0.90 |")
    c, s, w, o = gdal[kind]
    print(f"| | GDAL ReadRaster, all bands, 1024 × 1024 windows (after an open of {o:.3f} s, the first in its "
          f"process) | {w:.3f} s | 512-row strips: {s:.3f} s; cat: {c:.3f} s | windows {w / s:.2f} × strips; "
          f"strips {s / c:.2f} × cat ({(s + o) / c:.2f} × with the open) | ≤ 1.1 ×; ≤ 1.5 × |")
PY

#!/usr/bin/env bash
# The performance suite in one run: writes full-size products with the
# product writer, warms the page cache, and prints each figure beside its
# reference:
#   1. every row of every band through GetRow, against a plain loop of pread
#      calls of the same byte spans from the same files (the limit);
#   2. FileOpen + FileRead, against reading the bytes they decode; and
#      opening plus every row, against reading every file of the product once;
#   3. alosj export to an uncompressed tiled GeoTIFF, against gdal_translate
#      of the same image files through GDAL's CEOS driver (one file at a time)
#      and against GDAL writing the same raster from memory;
#   4. peak resident memory of alosj export, against the size of one row, at
#      full and at half scene height;
#   5. alosj export --warp of the full-size PRISM 1B1 sample against gdalwarp
#      of its four-corner placement onto the same grid (bench/warp.sh; set
#      CEOSALOSJ_BENCH_WARP=0 to leave it out);
#   6. alosj export --warp --dem of the full-size forward-view PRISM 1B1
#      sample on its DEM against gdalwarp with the product's RPC model onto
#      the same grid, and where each puts the survey targets (bench/ortho.sh;
#      set CEOSALOSJ_BENCH_ORTHO=0 to leave it out);
#   7. alosj batch over an archive of four full-size products (directories,
#      a .zip, a .tar): products per minute with --jobs 1 and --jobs 2, peak
#      memory per job and of the whole batch, and the time of a second run
#      that skips every product (bench/archive.sh, about 3 GB more scratch
#      space; set CEOSALOSJ_BENCH_ARCHIVE=0 to leave it out);
#   8. throughput: the default export against gdal_translate with the same
#      creation options, GetRows against cat, and reads through the GDAL
#      driver in windows against strips (bench/throughput.sh; set
#      CEOSALOSJ_BENCH_THROUGHPUT=0 to leave it out);
#   9. with CEOSALOSJ_BENCH_DSM=1 only (it takes the better part of an hour
#      with the triplet's writing), alosj dsm of the full-size triplet over
#      the volcano: time, memory, cost per megapixel matched, the DSM's fill
#      and errors against its terrain (bench/dsm.sh, 1.5 GB more scratch).
#
# Usage: bash bench/compare.sh [WORK_DIRECTORY]
#   WORK_DIRECTORY receives the products (about 0.9 GB, and half that again
#   for the half-height ones) and one export at a time (up to 0.5 GB); it is
#   made when missing, and everything written into it is deleted at the end.
#   Default: a new directory under $TMPDIR (or /tmp).
# Environment:
#   CEOSALOSJ_BENCH_BUILD        build directory (default: build-bench in the checkout)
#   CEOSALOSJ_BENCH_REPETITIONS  benchmark repetitions (default 10)
#   CEOSALOSJ_BENCH_RUNS         runs of each command, the best kept (default 3)
#   CEOSALOSJ_BENCH_KINDS        product kinds (default prism-1b1,avnir2-1b1,prism-1b2)
#   CEOSALOSJ_BENCH_TABLE        also write the table (Markdown) to this file
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${CEOSALOSJ_BENCH_BUILD:-$repo/build-bench}
repetitions=${CEOSALOSJ_BENCH_REPETITIONS:-10}
runs=${CEOSALOSJ_BENCH_RUNS:-3}
kinds=${CEOSALOSJ_BENCH_KINDS:-prism-1b1,avnir2-1b1,prism-1b2}

for tool in cmake gdal_translate python3; do
  command -v "$tool" >/dev/null || { echo "compare.sh needs $tool (bash scripts/setup-debian.sh)" >&2; exit 1; }
done

if [ $# -ge 1 ]; then
  work=$1
  mkdir -p "$work"
  work=$(cd "$work" && pwd)
  cleanup() { rm -rf "$work/products" "$work/half" "$work/out" "$work/results"; }
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/ceosalosj-compare-XXXXXX")
  cleanup() { rm -rf "$work"; }
fi
trap cleanup EXIT
mkdir -p "$work/out" "$work/results"

echo "== build (Release) in $build" >&2
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCEOSALOSJ_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target ceosalosj_bench ceosalosj_measure ceosalosj_gdal_write alosj gdal_ALOSJ >/dev/null
bench=$build/bench/ceosalosj_bench
measure=$build/bench/ceosalosj_measure
gdalwrite=$build/bench/ceosalosj_gdal_write
alosj=$build/tools/alosj

machine=$work/results/machine.txt
{
  echo "nproc: $(nproc)"
  lscpu | head -n 20 | grep -v '^Flags'
  free -h
  echo "kernel: $(uname -sr)"
  echo "compiler: $(c++ --version | head -n 1)"
  echo "GDAL: $(gdal-config --version 2>/dev/null || gdalinfo --version)"
  echo "filesystem of the work directory: $(df -hT "$work" | tail -n 1)"
} >"$machine"
cat "$machine" >&2

echo "== products under $work" >&2
"$bench" --prepare --kinds="$kinds" --products="$work/products" >"$work/results/products.txt"
"$bench" --prepare --kinds="$kinds" --products="$work/half" --scale=0.5 >"$work/results/half.txt"

# Fresh products are still being written back to disk; that must not run
# beside the measurements.
sync

echo "== checking that GetRow returns exactly the bytes the positioned reads fetch" >&2
"$bench" --verify --kinds="$kinds" --products="$work/products" >&2

echo "== GetRow, opening and reading (Google Benchmark, $repetitions repetitions)" >&2
"$bench" --kinds="$kinds" --products="$work/products" --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_min_time=0.5 \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/results/bench.json" --benchmark_out_format=json >&2

warm() { cat "$@" >/dev/null; }

# measure NAME COMMAND...: the best of $runs runs, "NAME seconds peak-KiB" into exports.txt.
measure() {
  local name=$1
  shift
  sync
  local result
  result=$("$measure" --repeat="$runs" -- "$@" </dev/null)
  echo "$name $result" >>"$work/results/exports.txt"
  echo "  $name: $result" >&2
}

echo "== exports (best of $runs runs each)" >&2
: >"$work/results/exports.txt"
while read -r kind volume width height bands; do
  dir=$(dirname "$volume")
  warm "$dir"/*
  measure "$kind.alosj" "$alosj" -q export --overwrite --compress NONE "$volume" "$work/out/alosj.tif"
  rm -f "$work/out/alosj.tif"
  index=0
  for image in "$dir"/IMG-*; do
    index=$((index + 1))
    measure "$kind.gdal_translate.$index" gdal_translate -q -if CEOS -of GTiff -co TILED=YES \
      -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co COMPRESS=NONE -co BIGTIFF=IF_SAFER "$image" "$work/out/gdal.tif"
    rm -f "$work/out/gdal.tif"
  done
  measure "$kind.gdal_write" "$gdalwrite" "$work/out/memory.tif" "$width" "$height" "$bands"
  rm -f "$work/out/memory.tif"
done <"$work/results/products.txt"
while read -r kind volume width height bands; do
  warm "$(dirname "$volume")"/*
  measure "$kind.alosj_half" "$alosj" -q export --overwrite --compress NONE "$volume" "$work/out/alosj.tif"
  rm -f "$work/out/alosj.tif"
done <"$work/results/half.txt"

python3 - "$work/results" "$repetitions" "$runs" "${CEOSALOSJ_BENCH_TABLE:-}" <<'PY'
import json, os, sys

results, repetitions, runs, table_file = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
with open(os.path.join(results, "bench.json")) as f:
    bench = json.load(f)
# In-process figures: the median of the repetitions' CPU time (on a shared
# machine the wall clock also counts other processes' turns).
median, lowest = {}, {}
for b in bench["benchmarks"]:
    scale = {"ms": 1, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
    name = b["run_name"].replace("/real_time", "")
    if b.get("aggregate_name") == "median":
        median[name] = b["cpu_time"] * scale
        if "of_limit" in b:
            median[name + ":getrow"], median[name + ":limit"] = b["getrow_ms"], b["limit_ms"]
            median[name + ":ratio"] = b["of_limit"]
    elif b.get("aggregate_name") == "min" and "of_limit" in b:
        lowest[name + ":ratio"] = b["of_limit"]
products = [line.split() for line in open(os.path.join(results, "products.txt"))]
exports = {}
for line in open(os.path.join(results, "exports.txt")):
    name, seconds, kib = line.split()
    exports[name] = (float(seconds), int(kib))

titles = {"prism-1b1": "PRISM 1B1", "avnir2-1b1": "AVNIR-2 1B1", "prism-1b2": "PRISM 1B2"}

def mb(kib):
    return f"{kib / 1024:.0f} MB"

def t(ms):
    return f"{ms:.0f} ms" if ms >= 10 else f"{ms:.2f} ms"

rows = []
for kind, volume, width, height, bands in products:
    width, height, bands = int(width), int(height), int(bands)
    files = len([k for k in exports if k.startswith(kind + ".gdal_translate.")])
    pixels = f"{width} × {height}" + (f" × {bands} bands" if bands > 1 else "")
    size = f"{titles.get(kind, kind)}: {files} image file(s), {pixels}"
    limit = median[f"PreadLimit/{kind}"]
    paired = f"Paired/{kind}"
    open_read, meta = median[f"OpenRead/{kind}"], median[f"MetadataBytes/{kind}"]
    whole, cat = median[f"WholeProduct/{kind}"], median[f"CatProduct/{kind}"]
    rows.append((size, "every row of every band through GetRow", t(median[paired + ":getrow"]),
                 f"pread loop of the same spans: {t(median[paired + ':limit'])}",
                 f"{median[paired + ':ratio']:.2f} of the limit (lowest run {lowest[paired + ':ratio']:.2f})",
                 "≥ 0.90"))
    rows.append(("", "FileOpen + FileRead + FileClose", t(open_read),
                 f"reading the product's files once (cat): {t(cat)}",
                 f"{open_read / cat:.3f} ×", "≤ 1.5 ×"))
    rows.append(("", "the same", t(open_read),
                 f"reading only the bytes they decode: {t(meta)}",
                 f"{open_read / meta:.2f} ×", "(see notes)"))
    rows.append(("", "open, read, every row of every band", t(whole),
                 f"cat: {t(cat)}; the pread loop alone: {t(limit)} ({limit / cat:.1f} × cat)",
                 f"{whole / cat:.2f} ×", "(see notes)"))
    a_s, a_kib = exports[f"{kind}.alosj"]
    g_s = sum(exports[f"{kind}.gdal_translate.{i}"][0] for i in range(1, files + 1))
    g_kib = max(exports[f"{kind}.gdal_translate.{i}"][1] for i in range(1, files + 1))
    w_s, w_kib = exports[f"{kind}.gdal_write"]
    rows.append(("", "alosj export, uncompressed tiled GeoTIFF", f"{a_s:.2f} s",
                 f"gdal_translate -if CEOS, file by file: {g_s:.2f} s; GDAL writing the raster from memory: {w_s:.2f} s",
                 f"{a_s / g_s:.2f} × gdal_translate; {a_s / w_s:.2f} × from memory", "≤ 1 × gdal_translate"))
    h_s, h_kib = exports[f"{kind}.alosj_half"]
    tile_row = 256 * width * bands
    rows.append(("", "alosj export, peak resident memory", f"{mb(a_kib)}; at half the height {mb(h_kib)}",
                 f"GDAL writing from memory: {mb(w_kib)}; gdal_translate: {mb(g_kib)}; "
                 f"one row: {width * bands / 1024:.1f} KB; one tile-row in GDAL's cache: {tile_row / 2**20:.1f} MB",
                 f"{(a_kib - w_kib) / 1024:+.0f} MB beside GDAL from memory; half height {100.0 * h_kib / a_kib:.0f} %",
                 "one row + GDAL's cache, whatever the height"))

header = ["product", "figure", "ceosalosj", "reference", "ratio", "target"]
lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
lines += ["| " + " | ".join(r) + " |" for r in rows]
lines.append("")
lines.append(f"In-process figures are the median CPU time of {repetitions} Google Benchmark repetitions "
             f"(run in random order), page cache warm; GetRow and the pread loop run in turn, pass by pass, "
             f"and their ratio is the loop's time over GetRow's (1.00: nothing beyond the reads). Commands are "
             f"timed on the wall clock, best of {runs} runs; peak resident memory from wait4.")
table = "\n".join(lines)
print(table)
if table_file:
    with open(table_file, "w") as f:
        f.write(table + "\n")
PY

# 5-9. The stages of their own scripts, each with its table; CEOSALOSJ_BENCH_<NAME>=0 leaves one out
# (CEOSALOSJ_BENCH_DSM=1 takes the triplet in).
stage() {
  local variable=$1 title=$2 script=$3 default=${4:-1}
  if [ "${!variable:-$default}" != 0 ]; then
    echo "== $title (bench/$script)" >&2
    echo
    echo "| product | figure | ceosalosj | reference | ratio | target |"
    echo "|---|---|---|---|---|---|"
    CEOSALOSJ_BENCH_RUNS=$runs bash "$repo/bench/$script" "$work" "$build"
  fi
}
stage CEOSALOSJ_BENCH_WARP "map-projected export" warp.sh
stage CEOSALOSJ_BENCH_ORTHO "orthorectification on a DEM" ortho.sh
stage CEOSALOSJ_BENCH_ARCHIVE "an archive through alosj batch" archive.sh
stage CEOSALOSJ_BENCH_THROUGHPUT "throughput" throughput.sh
stage CEOSALOSJ_BENCH_DSM "heights from a triplet" dsm.sh 0
echo >&2
echo "machine:" >&2
cat "$machine" >&2

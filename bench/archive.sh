#!/usr/bin/env bash
# A whole archive through `alosj batch`: four full-size products written by
# the product writer (PRISM 1B1, PRISM 1B2, AVNIR-2 1B1, AVNIR-2 1B2), laid
# out as a user keeps them (two product directories, one product in a .zip,
# one in a .tar, both stored uncompressed), converted to COGs, quicklooks,
# sensor models and STAC Items with --jobs 1 and with --jobs 2, each into a
# fresh output directory, page cache warm.  The two alternate, round after
# round (CEOSALOSJ_BENCH_RUNS rounds, the order swapped every round): the
# best time of each is kept, and their ratio is the median of the rounds'.  Then a second run over the --jobs 2 output
# skips every product.  Reports wall time, products per minute, the cores
# kept busy (CPU time over wall time: each conversion already compresses its
# tiles on every core), the peak resident memory of each conversion
# (peak_memory_mb of the JSON lines: the memory per job), that of the whole
# batch (the resident sets of alosj batch and its conversions summed, sampled
# every 50 ms), and the skipping run's time.  Prints Markdown table rows;
# details go to stderr.
#
# Usage: bash bench/archive.sh WORK_DIRECTORY [BUILD_DIRECTORY]
#   WORK_DIRECTORY receives the archive (about 1.4 GB) and two output
#   directories (about 0.7 GB each); what it writes there is deleted at the end.
# Environment:
#   CEOSALOSJ_BENCH_RUNS         rounds of --jobs 1 and --jobs 2, and runs of
#                                the skipping batch (default 3)
#   CEOSALOSJ_BENCH_SAMPLE_SIZE  full (default) or small, to try the script quickly
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:?usage: bash bench/archive.sh WORK_DIRECTORY [BUILD_DIRECTORY]}
build=${2:-$repo/build-bench}
runs=${CEOSALOSJ_BENCH_RUNS:-3}
size=${CEOSALOSJ_BENCH_SAMPLE_SIZE:-full}
alosj=$build/tools/alosj
measure=$build/bench/ceosalosj_measure
for tool in "$alosj" "$measure"; do
  [ -x "$tool" ] || { echo "archive.sh: $tool is missing; build it:" \
    "cmake --build $build --target alosj ceosalosj_measure" >&2; exit 1; }
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
archive=$work/archive
staging=$work/archive-staging
results=$work/archive-results
trap 'rm -rf "$archive" "$staging" "$results" "$work"/archive-out-*' EXIT
rm -rf "$archive" "$staging" "$results" "$work"/archive-out-*
mkdir -p "$archive/scenes" "$archive/downloads" "$staging" "$results"

echo "== archive: nproc $(nproc), load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
echo "== archive: writing four $size-size products, $(nproc) at a time" >&2
kinds="prism:1B1 prism:1B2 avnir2:1B1 avnir2:1B2"
writers=()
for kind in $kinds; do
  sensor=${kind%:*} level=${kind#*:}
  "$alosj" -q sample "$staging/$sensor-${level,,}" --sensor "$sensor" --level "$level" --size "$size" >/dev/null &
  writers+=($!)
  if [ ${#writers[@]} -ge "$(nproc)" ]; then
    wait "${writers[0]}"
    writers=("${writers[@]:1}")
  fi
done
for writer in "${writers[@]}"; do wait "$writer"; done

# As a user keeps them: product directories among others, a download still
# zipped, another still in its tar.
mv "$staging/prism-1b1" "$archive/scenes/prism-1b1"
mv "$staging/avnir2-1b2" "$archive/scenes/avnir2-1b2"
python3 - "$staging/prism-1b2" "$archive/downloads/prism-1b2.zip" <<'PY'
import os, sys, zipfile
source, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_STORED, allowZip64=True) as z:
    for name in sorted(os.listdir(source)):
        z.write(os.path.join(source, name), os.path.join(os.path.basename(source), name))
PY
tar -C "$staging" -cf "$archive/downloads/avnir2-1b1.tar" avnir2-1b1
rm -rf "$staging"
"$alosj" batch "$archive" --out "$work/archive-out-list" --list >"$results/products.txt"
count=$(wc -l <"$results/products.txt")
[ "$count" -eq 4 ] || { echo "archive.sh: alosj batch --list finds $count products, not 4" >&2; exit 1; }
archive_bytes=$(du -sb "$archive" | cut -f1)
sed 's/^/  /' "$results/products.txt" >&2

# sampled.py COMMAND...: runs ceosalosj_measure's COMMAND and prints its line
# "seconds peak-KiB-of-one-process", then the peak KiB of the resident sets
# of the processes below it summed, the CPU seconds they used, and the CPU
# seconds the whole machine used meanwhile.
cat >"$results/sampled.py" <<'PY'
import os, resource, subprocess, sys, time

command = sys.argv[1:]
page = os.sysconf("SC_PAGE_SIZE")

def machine_cpu():
    with open("/proc/stat") as f:
        user, nice, system, idle, iowait, irq, softirq, steal = map(int, f.readline().split()[1:9])
    return (user + nice + system + irq + softirq + steal) / os.sysconf("SC_CLK_TCK")

def descendants(pid):
    found, i = [pid], 0
    while i < len(found):
        p = found[i]
        i += 1
        try:
            for task in os.listdir(f"/proc/{p}/task"):
                with open(f"/proc/{p}/task/{task}/children") as f:
                    found += [int(c) for c in f.read().split()]
        except OSError:
            pass
    return found[1:]

before = resource.getrusage(resource.RUSAGE_CHILDREN)
machine_before = machine_cpu()
process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
peak = 0
while process.poll() is None:
    total = 0
    for pid in descendants(process.pid):  # alosj batch and its conversions
        try:
            with open(f"/proc/{pid}/statm") as f:
                total += int(f.read().split()[1]) * page
        except (OSError, IndexError, ValueError):
            pass
    peak = max(peak, total)
    time.sleep(0.05)
out = process.stdout.read()
if process.returncode != 0:
    sys.exit(process.returncode)
# Every process below waits for its own children, so their CPU time adds up here.
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
print(out.strip(), peak // 1024, f"{cpu:.2f}", f"{machine_cpu() - machine_before:.2f}")
PY

# batch NAME JOBS OUT: one timed run, its JSON lines in NAME.log, a line in runs.txt.
batch() {
  local name=$1 jobs=$2 out=$3
  cat "$archive"/scenes/*/* "$archive"/downloads/* >/dev/null
  sync
  rm -f "$results/$name.log"
  local result
  result=$(python3 "$results/sampled.py" "$measure" -- "$alosj" -q batch "$archive" --out "$out" \
    --jobs "$jobs" --log "$results/$name.log" </dev/null)
  echo "$name $jobs $result" >>"$results/runs.txt"
  echo "  $name (--jobs $jobs): $result (s, KiB one process, KiB whole batch, CPU s, machine CPU s)" >&2
}

echo "== archive: alosj batch --jobs 1 and --jobs 2 in turn, $runs round(s), fresh output each run" >&2
: >"$results/runs.txt"
for round in $(seq 1 "$runs"); do
  if [ $((round % 2)) -eq 1 ]; then order="1 2"; else order="2 1"; fi
  for jobs in $order; do
    rm -rf "$work/archive-out-$jobs"
    batch "convert-$jobs-$round" "$jobs" "$work/archive-out-$jobs"
  done
done
echo "== archive: the second run over the --jobs 2 output, $runs time(s)" >&2
for round in $(seq 1 "$runs"); do
  batch "skip-$round" 2 "$work/archive-out-2"
done
echo "== archive: load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2

python3 - "$results" "$count" "$archive_bytes" "$runs" "$size" <<'PY'
import json, os, statistics, sys

results, count, archive_bytes, runs, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
runs_by_kind = {}
for line in open(os.path.join(results, "runs.txt")):
    name, jobs, seconds, one_kib, tree_kib, cpu, machine = line.split()
    lines = [json.loads(l) for l in open(os.path.join(results, name + ".log"))]
    kind = name.rsplit("-", 1)[0]
    expected = "skipped" if kind == "skip" else "converted"
    statuses = [l["status"] for l in lines]
    if len(lines) != count or any(s != expected for s in statuses):
        sys.exit(f"archive.sh: {name}: {statuses}, not {count} × {expected}")
    runs_by_kind.setdefault(kind, []).append(
        {"name": name, "seconds": float(seconds), "one_kib": int(one_kib), "tree_kib": int(tree_kib),
         "cpu": float(cpu), "machine": float(machine), "lines": lines})

def best_run(kind):
    return min(runs_by_kind[kind], key=lambda r: r["seconds"])

def best(kind):
    return best_run(kind)["seconds"]

def cores(kind):
    r = best_run(kind)
    return (f"{r['cpu'] / r['seconds']:.2f} cores busy on average "
            f"(other processes meanwhile: {max(0.0, r['machine'] - r['cpu']) / r['seconds']:.2f})")

def peaks(kind):
    return [l["peak_memory_mb"] for r in runs_by_kind[kind] for l in r["lines"]]

def tree_mb(kind):
    return max(r["tree_kib"] for r in runs_by_kind[kind]) / 1024

def per_minute(seconds):
    return count * 60 / seconds

for kind in ("convert-1", "convert-2", "skip"):
    for r in runs_by_kind[kind]:
        for l in r["lines"]:
            print(f"  {kind}: {l['id']}: {l['seconds']:.1f} s, {l['peak_memory_mb']:.0f} MB", file=sys.stderr)

one, two, skip = best("convert-1"), best("convert-2"), best("skip")
# The conversions' own times, from their lines, in the best --jobs 1 run.
own = sum(l["seconds"] for l in best_run("convert-1")["lines"])
# Side by side: each round's --jobs 1 time over its --jobs 2 time.
rounds = {r["name"].rsplit("-", 1)[1]: r["seconds"] for r in runs_by_kind["convert-2"]}
paired = [r["seconds"] / rounds[r["name"].rsplit("-", 1)[1]] for r in runs_by_kind["convert-1"]]
p1, p2 = peaks("convert-1"), peaks("convert-2")
archive = (f"Archive of {count} {size}-size products, {archive_bytes / 1e9:.1f} GB: PRISM 1B1 and AVNIR-2 1B2 "
           f"as directories, PRISM 1B2 in a .zip, AVNIR-2 1B1 in a .tar (both stored)")
rows = [
    (archive, "alosj batch --jobs 1 (per product: COG, quicklook, sensor model if any, STAC Item)",
     f"{one:.0f} s: {per_minute(one):.2f} products/min; {cores('convert-1')}",
     f"the conversions' own times in their JSON lines, summed: {own:.0f} s",
     f"{one / own:.3f} ×", "—"),
    ("", "alosj batch --jobs 2",
     f"{two:.0f} s: {per_minute(two):.2f} products/min; {cores('convert-2')}",
     f"--jobs 1: {per_minute(one):.2f} products/min",
     f"{statistics.median(paired):.2f} × the products per minute (median of the rounds: "
     + ", ".join(f"{p:.2f}" for p in paired) + ")", "up to 2 × on 2 cores"),
    ("", "peak resident memory per job (peak_memory_mb of the lines)",
     f"--jobs 1: max {max(p1):.0f} MB, mean {statistics.mean(p1):.0f} MB; "
     f"--jobs 2: max {max(p2):.0f} MB, mean {statistics.mean(p2):.0f} MB",
     f"the whole batch, resident sets summed: --jobs 1 {tree_mb('convert-1'):.0f} MB, "
     f"--jobs 2 {tree_mb('convert-2'):.0f} MB",
     f"--jobs 2 whole batch {tree_mb('convert-2') / tree_mb('convert-1'):.2f} × --jobs 1",
     "one product's peak per job"),
    ("", "second run over the --jobs 2 output (every product skipped)",
     f"{skip:.2f} s, per product max {max(peaks('skip')):.0f} MB",
     f"the converting --jobs 2 run: {two:.0f} s", f"{skip / two:.4f} ×", "no product converted again"),
]
for r in rows:
    print("| " + " | ".join(r) + " |")
print(f"Runs: best wall time of {runs} (--jobs 1 and --jobs 2 alternating, the order swapped every round, "
      f"sync and page cache warm before each); the --jobs 2 ratio is the median of each round's pair; memory "
      f"figures are the largest of all runs, the whole batch's sampled every 50 ms.", file=sys.stderr)
PY

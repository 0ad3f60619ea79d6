#!/usr/bin/env bash
# Measures how much of the library the fuzz corpora reach: builds the
# corpus replayers with clang's source-based coverage, replays each target's
# seeds, saved regression inputs and grown corpora, and prints line and
# branch coverage of the library's sources (host/, ceos/, files/, dataset/)
# for each target and for all of them together.
#
#   scripts/fuzz-coverage.sh [target...]
#
# Environment: CEOSALOSJ_COVERAGE_BUILD (build directory, default
# build-coverage), CEOSALOSJ_COVERAGE_CORPORA (directories that hold one
# corpus directory per target, separated by ':'; default: the grown corpora
# of build-fuzz and build-fuzz32 that exist).
# The merged profile is <build>/coverage/all.profdata and an HTML report of
# it is written to <build>/coverage/html/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${CEOSALOSJ_COVERAGE_BUILD:-build-coverage}
jobs=$(nproc 2>/dev/null || echo 2)
llvm_bin=$(dirname "$(readlink -f "$(command -v clang++)")")
profdata=$llvm_bin/llvm-profdata
cov=$llvm_bin/llvm-cov
for tool in "$profdata" "$cov"; do
  [[ -x "$tool" ]] || { echo "missing $tool (Debian package llvm)" >&2; exit 1; }
done

echo "== build the corpus replayers with coverage in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DCEOSALOSJ_COVERAGE=ON -DCEOSALOSJ_BUILD_TESTS=OFF -DCEOSALOSJ_BUILD_TOOLS=OFF \
  -DCEOSALOSJ_BUILD_GDAL_PLUGIN=OFF >/dev/null

fuzzdir="$build/fuzz"
if (($# > 0)); then
  targets=("$@")
else
  targets=()
  for source in fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$source" .cpp | sed 's/^fuzz_//')")
  done
fi
cmake --build "$build" -j"$jobs" --target ceosalosj_fuzz_seed_corpora \
  "${targets[@]/#/fuzzreg_}"

if [[ -n "${CEOSALOSJ_COVERAGE_CORPORA:-}" ]]; then
  IFS=: read -r -a corpora <<<"$CEOSALOSJ_COVERAGE_CORPORA"
else
  corpora=()
  for grown in build-fuzz/fuzz/corpus build-fuzz32/fuzz/corpus; do
    [[ -d "$grown" ]] && corpora+=("$grown")
  done
fi

out="$build/coverage"
rm -rf "$out"
mkdir -p "$out/raw"
# Only the library's own sources count; the fuzz support and the writer
# are linked into every replayer but are not what is measured.
ignore='/(fuzz|tools|tests|bench)/|^/usr/'
objects=()
summary=()
for target in "${targets[@]}"; do
  binary="$fuzzdir/fuzzreg_$target"
  inputs=("$fuzzdir/seeds/$target" "fuzz/regressions/$target")
  for grown in "${corpora[@]}"; do
    inputs+=("$grown/$target")
  done
  echo "== replay $target"
  # One profile per process; the replayer runs every input in one process.
  LLVM_PROFILE_FILE="$out/raw/$target-%p.profraw" "$binary" "${inputs[@]}" \
    >"$out/$target.log" 2>&1 || {
      tail -5 "$out/$target.log" >&2
      echo "the replay of $target failed (see $out/$target.log)" >&2
      exit 1
    }
  ran=$(grep -o 'ran [0-9]* inputs' "$out/$target.log" | grep -o '[0-9]*')
  "$profdata" merge -sparse "$out/raw/$target"-*.profraw -o "$out/$target.profdata"
  total=$("$cov" report "$binary" -instr-profile="$out/$target.profdata" \
    -ignore-filename-regex="$ignore" | awk '$1 == "TOTAL"')
  # TOTAL regions missed cover% functions missed exec% lines missed cover% branches missed cover%
  summary+=("$(echo "$total" | awk -v t="$target" -v n="$ran" \
    '{ printf "%-14s %7d inputs   lines %7s   branches %7s\n", t, n, $10, $13 }')")
  objects+=(-object "$binary")
done

"$profdata" merge -sparse "$out/raw"/*.profraw -o "$out/all.profdata"
# Every replayer has its own LLVMFuzzerTestOneInput and helpers of the same
# names; llvm-cov warns that their data differ.  They are not measured.
quiet() { "$@" 2> >(sed 's/\x1b\[[0-9;]*m//g' | grep -v -e 'functions have mismatched data' -e '^$' >&2); }
echo "== library coverage of all targets together, per source"
quiet "$cov" report -use-color=false "${objects[@]:1}" -instr-profile="$out/all.profdata" \
  -ignore-filename-regex="$ignore" | tee "$out/report.txt" |
  awk 'NR > 2 && NF >= 13 { printf "%-52s lines %7s   branches %7s\n", $1, $10, $13 }'
quiet "$cov" show "${objects[@]:1}" -instr-profile="$out/all.profdata" \
  -ignore-filename-regex="$ignore" -format=html -output-dir="$out/html" >/dev/null

echo "== library coverage per target"
printf '%s\n' "${summary[@]}"
echo "HTML report: $out/html/index.html"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded
# time from its seed corpus.  Any finding (crash, sanitizer report, leak,
# timeout) fails the script; the input that caused it is kept under
# <build>/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Environment: CEOSALOSJ_FUZZ_BUILD (build directory, default build-fuzz, or
# build-fuzz32), CEOSALOSJ_FUZZ_ARGS (more libFuzzer options, e.g. "-fork=2"),
# CEOSALOSJ_FUZZ_M32=1 (a 32-bit build, where long has 32 bits as on the
# Windows hosts; needs the Debian package g++-multilib).
# The corpus each run grows is kept under <build>/fuzz/corpus/<target>/ and
# is where the next run starts, so repeated runs keep going deeper.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)
arch=()
if [[ "${CEOSALOSJ_FUZZ_M32:-0}" == 1 ]]; then
  build=${CEOSALOSJ_FUZZ_BUILD:-build-fuzz32}
  arch=(-DCMAKE_CXX_FLAGS=-m32 -DCMAKE_EXE_LINKER_FLAGS=-m32 -DCMAKE_SHARED_LINKER_FLAGS=-m32)
  if ! dpkg-query -W -f='${Status}' g++-multilib 2>/dev/null | grep -q "install ok installed"; then
    echo "a 32-bit fuzz build needs g++-multilib (apt-get install g++-multilib)" >&2
    exit 1
  fi
else
  build=${CEOSALOSJ_FUZZ_BUILD:-build-fuzz}
fi

echo "== build the fuzz targets (clang, libFuzzer, ASan+UBSan) in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "${arch[@]}" -DCEOSALOSJ_BUILD_FUZZ=ON -DCEOSALOSJ_BUILD_TESTS=OFF \
  -DCEOSALOSJ_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$jobs"

fuzzdir="$build/fuzz"
if (($# > 0)); then
  targets=("$@")
else
  targets=()
  for binary in "$fuzzdir"/fuzz_*; do
    [[ -x "$binary" && -f "$binary" ]] && targets+=("$(basename "$binary" | sed 's/^fuzz_//')")
  done
fi
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets were built" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
summary=()
for target in "${targets[@]}"; do
  binary="$fuzzdir/fuzz_$target"
  corpus="$fuzzdir/corpus/$target"
  findings="$fuzzdir/findings/$target"
  log="$fuzzdir/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  inputs=("$corpus" "$fuzzdir/seeds/$target")
  [[ -d "fuzz/regressions/$target" ]] && inputs+=("fuzz/regressions/$target")
  dict=(-dict=fuzz/dictionaries/ceos.dict)
  [[ -f "fuzz/dictionaries/$target.dict" ]] && dict=(-dict="fuzz/dictionaries/$target.dict")

  echo "== fuzz $target for ${seconds}s"
  status=0
  # shellcheck disable=SC2086
  "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$findings/" "${dict[@]}" ${CEOSALOSJ_FUZZ_ARGS:-} "${inputs[@]}" \
    >"$log" 2>&1 || status=$?
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  if ((status != 0)); then
    failed+=("$target")
    summary+=("$(printf '%-22s %12s execs  cov %6s  ft %6s  FINDING (exit %d, see %s)' \
      "$target" "${executions:-?}" "${coverage:-?}" "${features:-?}" "$status" "$log")")
    grep -E 'ERROR|SUMMARY|fuzz check failed|runtime error|Test unit written' "$log" | head -20 || true
  else
    summary+=("$(printf '%-22s %12s execs  cov %6s  ft %6s  no finding' \
      "$target" "${executions:-?}" "${coverage:-?}" "${features:-?}")")
  fi
done

echo "== fuzz summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "findings in: ${failed[*]}" >&2
  exit 1
fi

#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, then the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# same tests for 32-bit Windows under Wine (scripts/test-windows.sh), then a
# bounded run of every fuzz target (CEOSALOSJ_FUZZ_SECONDS each, default 20).
# The Windows leg is reported as skipped, never as passed, when Debian's
# registry cannot give it its toolchain.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== build and test (RelWithDebInfo)"
# The benchmarks are built (cheap) and their quick checks run; they measure
# nothing here (bench/compare.sh does).
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCEOSALOSJ_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

echo "== installed as users install: Debian packages, another prefix, pkg-config"
bash scripts/test-packages.sh build

echo "== build and test under ASan+UBSan"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCEOSALOSJ_SANITIZE=ON \
  -DCEOSALOSJ_BUILD_TOOLS=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize -j"$jobs" --output-on-failure

echo "== the same tests for 32-bit Windows (ceosalosj.dll) under Wine"
windows=passed
bash scripts/test-windows.sh || {
  status=$?
  [ "$status" = 77 ] || exit "$status"
  windows="SKIPPED: its toolchain could not be installed (see above)"
}

echo "== bounded fuzz runs (clang, libFuzzer, ASan+UBSan)"
bash scripts/fuzz.sh "${CEOSALOSJ_FUZZ_SECONDS:-20}"

echo "== summary"
echo "Linux: passed (tests, packages and installs), under ASan+UBSan too; fuzz: passed"
echo "Windows leg: $windows"

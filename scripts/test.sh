#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them;
# then runs each libFuzzer target briefly on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

# Fuzz targets: clang with libFuzzer (installed by deps.sh), a few seconds
# each on its seed corpus. A missing compiler or corpus fails the run.
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: the fuzz targets cannot be built (scripts/deps.sh installs it)" >&2
  exit 1
fi
fuzz=build/fuzz
cmake -S . -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DORV_FUZZ=ON -DORV_TESTS=ON -DORV_BENCH=OFF >/dev/null
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
cmake --build "$fuzz" -j "$jobs" --target $targets
for t in $targets; do
  corpus=tests/fuzz/corpus/${t#fuzz_}
  if ! ls "$corpus"/* >/dev/null 2>&1; then
    echo "$t has no seed corpus in $corpus" >&2
    exit 1
  fi
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/
  echo "== fuzzing $t for 5 s"
  if ! "$fuzz/tests/fuzz/$t" -max_total_time=5 -print_final_stats=0 -artifact_prefix="$work/" "$work" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "$t failed; the input that fails it:" "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null >&2
    exit 1
  fi
  tail -n 2 "$work.log"
  rm -rf "$work" "$work.log"
done

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_TESTS=ON -DORV_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
cd "$build"
# Each test runs once: a failure is a failure. The limits of each test and the
# processors a whole-program test takes are set where the tests are
# registered (cmake/Orv.cmake, tests/CMakeLists.txt).
ctest --output-on-failure -j "$jobs"

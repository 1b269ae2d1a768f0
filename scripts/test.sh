#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_TESTS=ON -DORV_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 300

#!/usr/bin/env bash
# Builds everything optimised and runs what the system can run so far.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_SANITIZE=OFF -DORV_TESTS=OFF -DORV_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

if [ -x "$build/app/orvnews" ]; then
  exec "$build/app/orvnews" "$@"
fi

echo
echo "Orv News: the main program is not built yet."
echo "Built so far: the platform layer, the core library, the feed database and the update engine (see README.md, 'What works now')."
shopt -s nullglob
benches=("$build"/bench/bench_*)
if [ ${#benches[@]} -gt 0 ]; then
  echo "Running the benchmarks that exist:"
  for b in "${benches[@]}"; do
    echo "== $(basename "$b")"
    "$b"
  done
else
  echo "No benchmark programs exist yet."
fi

# The auto-update service: the service host loads "OrvNewsService" on the device and
# keeps it until this script ends (README.md, "Auto-update and removal").
servicehost="$build/programfiles/orv-servicehost"
if [ -x "$servicehost" ]; then
  "$servicehost" &
  service_pid=$!
  trap 'kill -TERM "$service_pid" 2>/dev/null; wait "$service_pid" 2>/dev/null || true' EXIT
  echo "The auto-update service runs (orv-servicehost, pid $service_pid); Ctrl+C stops it."
  wait "$service_pid" || true
fi

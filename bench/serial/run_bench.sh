#!/bin/sh
# Builds and runs the serial receive benchmark. Usage: bench/serial/run_bench.sh [build-dir] [MiB] [runs]
set -e
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_serial_rx >/dev/null
exec "$build/bin/bench_serial_rx" "${2:-8}" "${3:-5}"

#!/usr/bin/env bash
# Builds the fuzz targets in their own folder and runs each for a bounded time, one after
# another (they are CPU-bound; the machine has few cores). A crash or a broken invariant
# fails the run; the input that caused it is kept in <build>/fuzz-crashes/<target>/.
#
#   fuzz/run.sh [seconds per target, default 20] [target ...]
#
# Needs clang with libFuzzer. The build folder is $ZV_FUZZ_BUILD (default build-fuzz); the
# corpus each target grows stays in <build>/fuzz-corpus/<target>/, next to the seeds read
# from fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZV_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:-20}
shift || true

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DZEVAVI_FUZZ=ON -DZEVAVI_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "${ZV_JOBS:-2}" --target fuzzers

export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
failed=0
while read -r target seeds; do
  [ -n "$target" ] || continue
  if [ $# -gt 0 ] && [[ " $* " != *" $target "* ]]; then
    continue
  fi
  corpus=$build/fuzz-corpus/$target
  crashes=$build/fuzz-crashes/$target
  mkdir -p "$corpus" "$crashes"
  dirs=("$corpus")
  [ -d "$seeds" ] && dirs+=("$seeds")  # a target may come without seeds
  echo "== $target: ${seconds}s"
  if ! "$build/bin/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "${dirs[@]}" 2>"$build/fuzz-$target.log"; then
    echo "!! $target failed: see $build/fuzz-$target.log and $crashes/"
    tail -n 30 "$build/fuzz-$target.log"
    failed=1
  fi
  grep -m1 -E '^stat::number_of_executed_units' "$build/fuzz-$target.log" || true
done <"$build/fuzzers.txt"
exit $failed

#!/usr/bin/env bash
# Medians and ratios of bench_terminal: TComTerminal::WriteStr against libvterm on the same
# 50 MiB console log (plain and with ANSI sequences), and a shown terminal against 115200 baud.
#   bench/terminal/run.sh [path/to/bench_terminal]     REPS=7 for more repetitions
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../../build/bin/bench_terminal}
reps=${REPS:-5}
out=$(mktemp /tmp/zv_bench_terminal.XXXXXX.json)
trap 'rm -f "$out"' EXIT
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin" --benchmark_repetitions="$reps" \
  --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true >&2
python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
median = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") == "median":
        median[b["run_name"]] = b
def mib(name):
    b = median.get(name)
    return b["bytes_per_second"] / 2**20 if b else None
kinds = (("0", "plain"), ("1", "ansi, CSI s/u: libvterm skips the restore"), ("2", "ansi, ESC 7/8: like with like"))
for kind, label in kinds:
    for n in ("BM_WriteStr_ZeVavi/" + kind, "BM_Input_Libvterm/" + kind):
        v = mib(n)
        print(f"{n:24s} {v:8.1f} MiB/s" if v else f"{n:24s}  (no result)")
s = mib("BM_Shown_ZeVavi")
print(f"{'BM_Shown_ZeVavi':24s} {s:8.1f} MiB/s" if s else f"{'BM_Shown_ZeVavi':24s}  (no result)")
for kind, label in kinds:
    a, b = mib("BM_WriteStr_ZeVavi/" + kind), mib("BM_Input_Libvterm/" + kind)
    if a and b:
        print(f"ratio ZeVavi / libvterm ({label}) = {a / b:.2f} (goal >= 2.5)")
s = median.get("BM_Shown_ZeVavi")
if s:
    print(f"shown terminal: {s['x115200baud']:.0f} x the byte rate of 115200 baud (goal >= 1)")
PY

#!/usr/bin/env bash
# Medians and ratios of bench_tftp: our TFTP server against tftpd-hpa (the same curl client,
# 512-byte blocks, 64 MiB over loopback) and the container unpack against cp of the same bytes.
# Needs root for in.tftpd (it chroots and drops to "nobody"), curl and tftpd-hpa installed.
#   bench/tftp/run.sh [path/to/bench_tftp]     REPS=7 for more repetitions
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../../build/bin/bench_tftp}
reps=${REPS:-5}
out=$(mktemp /tmp/zv_bench_tftp.XXXXXX.json)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_repetitions="$reps" --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true >&2
python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
median = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") == "median":
        median[b["run_name"].split("/")[0]] = b["bytes_per_second"] / 2**20
def line(name):
    v = median.get(name)
    return f"{name:20s} {v:8.1f} MiB/s" if v else f"{name:20s}  (no result)"
for n in ("BM_Serve_ZeVavi", "BM_Serve_TftpdHpa", "BM_Unpack_Nfi", "BM_Unpack_Cp"):
    print(line(n))
def ratio(a, b, goal):
    if a in median and b in median:
        r = median[a] / median[b]
        print(f"ratio {a} / {b} = {r:.2f} (goal >= {goal})")
ratio("BM_Serve_ZeVavi", "BM_Serve_TftpdHpa", 1.0)
ratio("BM_Unpack_Nfi", "BM_Unpack_Cp", 0.8)
PY

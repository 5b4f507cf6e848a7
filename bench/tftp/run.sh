#!/usr/bin/env bash
# Medians and ratios of bench_tftp: our TFTP server against tftpd-hpa and atftpd (the same curl
# client, 512-byte blocks, 64 MiB over loopback ports, never port 69).
# Needs root (the peers chroot or drop to "nobody"), curl and tftpd-hpa installed. atftpd is a
# peer only: it is unpacked from its Debian package into <build>/bench-peers, never installed
# or started as a service.
#   bench/tftp/run.sh [path/to/bench_tftp]     REPS=7 for more repetitions
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../../build/bin/bench_tftp}
reps=${REPS:-5}
peers=$(cd "$(dirname "$bin")/.." && pwd)/bench-peers
if [ -z "${ZV_ATFTPD:-}" ]; then
  ZV_ATFTPD=$peers/atftpd/usr/sbin/atftpd
  if [ ! -x "$ZV_ATFTPD" ]; then
    mkdir -p "$peers"
    (cd "$peers" && rm -f atftpd_*.deb && apt-get download atftpd >&2 && dpkg-deb -x atftpd_*.deb atftpd) ||
      echo "atftpd could not be fetched; that peer will report an error" >&2
  fi
fi
export ZV_ATFTPD
out=$(mktemp /tmp/zv_bench_tftp.XXXXXX.json)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_repetitions="$reps" --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true >&2
python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
median = {}
for b in data["benchmarks"]:
    if b.get("aggregate_name") == "median" and "bytes_per_second" in b:
        median[b["run_name"].split("/")[0]] = b["bytes_per_second"] / 2**20
names = ("BM_Serve_ZeVavi", "BM_Serve_TftpdHpa", "BM_Serve_Atftpd")
for n in names:
    v = median.get(n)
    print(f"{n:20s} {v:8.1f} MiB/s" if v else f"{n:20s}  (no result)")
for peer in names[1:]:
    if names[0] in median and peer in median:
        print(f"ratio {names[0]} / {peer} = {median[names[0]] / median[peer]:.2f} (goal >= 1.1)")
PY

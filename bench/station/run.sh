#!/usr/bin/env bash
# Wall time of N boxes upgraded at once by zevavi-flash --station, against one upgrade and
# against N upgrades one after the other (N x the single median), with the simulated box
# paced at line rate (115200 baud console, real flash times) and again with a real boot
# loader's pace per TFTP block. Medians of REPS runs; runs in a private network namespace.
#   bench/station/run.sh [BIN_DIR]        NS="1 4 8 16" REPS=3 BLOCK_DELAY_US=1000 GOAL=
# NS="1 32" is a line's station of 32 fixtures. Also gives the station's CPU time per box and
# its peak resident memory (the boxes' own not counted).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build/bin}" && pwd)
exec "$here/../../scripts/netns-run" python3 "$here/station_bench.py" "$bin"

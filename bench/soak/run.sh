#!/usr/bin/env bash
# The soak and the chaos run at a line's size: the window doing UPGRADES upgrades in one
# process, the station in continuous mode doing FIXTURES x BOXES boxes, then the chaos run
# (CHAOS_FIXTURES x CHAOS_BOXES, one fault a box drawn with SEED). Each samples the process's
# memory, descriptors and threads after every box and fails when one of them grows with the
# boxes; the figures and the chaos table are the lines starting "[soak]" and "[chaos]".
# The same cases run small in ./test (ctest -L soak). Each case runs in a private network
# namespace of its own.
#   bench/soak/run.sh [BUILD_DIR]     UPGRADES=100 FIXTURES=16 BOXES=25 CHAOS_FIXTURES=16 CHAOS_BOXES=25 SEED=29
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
status=0
run() {
  nice -n 10 "$build/bin/test_soak" --gtest_filter="$1" || status=1
}
ZEVAVI_SOAK_UPGRADES=${UPGRADES:-100} run 'WindowSoak.*'
ZEVAVI_SOAK_FIXTURES=${FIXTURES:-16} ZEVAVI_SOAK_BOXES=${BOXES:-25} run 'LineSoak.BoxAfterBox*'
ZEVAVI_CHAOS_FIXTURES=${CHAOS_FIXTURES:-16} ZEVAVI_CHAOS_BOXES=${CHAOS_BOXES:-25} ZEVAVI_CHAOS_SEED=${SEED:-29} \
  run 'LineSoak.Chaos*'
exit $status

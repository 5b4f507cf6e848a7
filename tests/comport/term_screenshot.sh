#!/usr/bin/env bash
# Screenshot of the terminal under a virtual X server: the replayed boot-loader session in an
# 80 x 17 terminal, panned with its horizontal scroll bar. The PNG is a build artifact.
#   term_screenshot.sh <term_replay> <session.log> <out.png>
set -euo pipefail
replay=$1 session=$2 out=$3
mkdir -p "$(dirname "$out")"
rm -f "$out"
shoot() {
xvfb-run -a -s "-screen 0 640x400x24" bash -c '
  set -euo pipefail
  dir=$(mktemp -d); trap "rm -rf $dir" EXIT
  mkfifo "$dir/in" "$dir/out"
  unset QT_QPA_PLATFORM
  "$0" "$1" <"$dir/in" >"$dir/out" & pid=$!
  exec 3>"$dir/in" 4<"$dir/out"
  # The replay says READY once the session is on screen; the limit only guards a hang.
  read -r -t 120 ready <&4 || { echo "replay never got ready" >&2; kill $pid; exit 1; }
  echo "$ready"
  import -window root "$2"
  exec 3>&-   # end of input: the replay closes its window and reports its own checks
  wait $pid
' "$replay" "$session" "$out"
}
# Several tests may start virtual servers at once; -a can then pick a display another
# server takes first. Only that failure is tried again.
for attempt in 1 2 3; do
  if log=$(shoot 2>&1); then echo "$log"; break; fi
  echo "$log" >&2
  grep -q "Xvfb failed to start" <<<"$log" && [ $attempt -lt 3 ] || exit 1
done
colours=$(convert "$out" -format %k info:)
echo "$out: $(identify -format '%wx%h' "$out"), $colours colours"
[ "$colours" -gt 2 ] || { echo "screenshot shows no text" >&2; exit 1; }

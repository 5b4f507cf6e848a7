#!/usr/bin/env bash
# Turns the SVG logo into a Windows .ico holding the sizes Explorer, the Start menu and the
# installer's title bar pick from (16 to 256 pixels).
#   packaging/windows/make-ico.sh SVG ICO
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 SVG ICO" >&2
  exit 2
fi
svg=$1
ico=$2
for tool in rsvg-convert convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "$0: $tool is missing (Debian: librsvg2-bin, imagemagick)" >&2
    exit 1
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngs=()
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" -o "$work/$size.png" "$svg"
  pngs+=("$work/$size.png")
done
# Written beside the target and renamed, so a failed run leaves no half-written icon.
convert "${pngs[@]}" "ico:$ico.part"
mv -f "$ico.part" "$ico"

#!/bin/sh
# Checks the desktop entry, the AppStream metadata and the manual pages with the tools
# Debian's own packages are checked with; any warning fails.
set -u
dir=$1
# scripts/setup.sh installs the checkers; a missing one is a failure, not a pass.
for tool in desktop-file-validate appstreamcli groff man; do
  command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is missing (desktop-file-utils, appstream, groff-base, man-db)"; exit 1; }
done
status=0
fail() { echo "FAIL: $*"; status=1; }

for entry in org.zevavi.zevavi.desktop org.zevavi.zevavi-station.desktop org.zevavi.zevavi-term.desktop; do
  out=$(desktop-file-validate "$dir/$entry" 2>&1)
  [ $? -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate on $entry: $out"
done

out=$(appstreamcli validate --no-net --pedantic "$dir/org.zevavi.zevavi.metainfo.xml" 2>&1)
[ $? -eq 0 ] || fail "appstreamcli validate: $out"
case "$out" in *"W: "* | *"E: "* | *"I: "* | *"P: "*) fail "appstreamcli validate: $out" ;; esac

# Every installed command has its page, and each page formats without a single warning.
for page in ZeVavi.1 zevavi-flash.1 zevavi-station.1 zevavi-term.1 zevavi-skin.1; do
  [ -f "$dir/$page" ] || { fail "no manual page $page"; continue; }
  out=$(groff -man -Tutf8 -ww -z "$dir/$page" 2>&1)
  [ -z "$out" ] || fail "groff on $page: $out"
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$dir/$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "man -l on $page: $out"
  name=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$dir/$page" 2>/dev/null | sed -n '/^NAME/{n;p;q}')
  case "$name" in *" - "*) ;; *) fail "$page has no NAME line for whatis: '$name'" ;; esac
done

# The desktop entry, the metadata and the package agree on the names.
grep -q '^Exec=ZeVavi$' "$dir/org.zevavi.zevavi.desktop" || fail "the desktop entry does not start ZeVavi"
grep -q '^Icon=zevavi$' "$dir/org.zevavi.zevavi.desktop" || fail "the desktop entry names another icon"
grep -q '<launchable type="desktop-id">org.zevavi.zevavi.desktop</launchable>' "$dir/org.zevavi.zevavi.metainfo.xml" ||
  fail "the metadata launches another desktop entry"
[ $status -eq 0 ] && echo "metadata and manual pages are clean"
exit $status

#!/usr/bin/env bash
# scripts/check-layers.sh on a copy of the tree: the copy as it is passes, and an OS header
# planted in src/ makes it fail. Then each line of the table, planted alone in a file of an
# otherwise empty tree, makes it fail (or not) and name the file and line it was planted at.
set -uo pipefail

source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for d in lib platform comport zip ziplib widgets src apps tools scripts; do
  [ -d "$source_dir/$d" ] && cp -r "$source_dir/$d" "$work/"
done
check="$work/scripts/check-layers.sh"

failures=0
if ! out=$("$check" "$work" 2>&1); then
  echo "FAIL: the tree as it is does not pass:"
  echo "$out"
  exit 1
fi

sed -i '1a #include <unistd.h>' "$work/src/upgrade.cpp"
if out=$("$check" "$work" 2>&1) || ! grep -qF "src/upgrade.cpp:2:" <<<"$out"; then
  echo "FAIL: an OS header planted in src/ of the copy was not reported: $out"
  failures=1
fi

# file | line to plant | expected: "fail" (and the report names file:2), "fail-folder" (the
# report names the file) or "pass"
cases=(
  'src/upgrade.cpp|#include <sys/socket.h>|fail'
  'widgets/new_control.cpp|#include <windows.h>|fail'
  'widgets/new_control.cpp|#include <Windows.h>|fail'
  'src/upgrade.cpp|#include "windows.h"|fail'
  'comport/serport.cpp|  #  include <termios.h>|fail'
  'apps/zevavi-term/main.cpp|#include <poll.h>|fail'
  'src/upgrade.cpp|#include <csignal>|fail'
  'zip/zacore.cpp|#include <sqlite3.h>|fail'
  'src/upgrade.cpp|#include OS_HEADER|fail'
  'lib/log.cpp|#include "src/upgrade.h"|fail'
  'platform/net_posix.cpp|#include "comport/serport.h"|fail'
  'zip/zacore.cpp|#include "apps/zevavi-flash/flashargs.h"|fail'
  'src/upgrade.cpp|#include "tests/support/fs.h"|fail'
  'src/upgrade.cpp|#include <src/upgrade.h>|fail'
  'platform/net_posix.cpp|#include <lib/log.h>|fail'
  'platform/net_posix.cpp|#include "lib/log.h"|fail'
  'ziplib/kyunzip.cpp|#include "zip/zacore.h"|fail'
  'widgets/skin/skinform.cpp|#include "comport/serport.h"|fail'
  'comport/serport.cpp|#include "zip/zacore.h"|fail'
  'src/upgrade.cpp|#ifdef _WIN32|fail'
  'apps/zevavi-flash/main.cpp|#if defined(__linux__) && !defined(NDEBUG)|fail'
  'widgets/skin/skinform.cpp|#elif Q_OS_WIN|fail'
  'newpart/thing.cpp|int thing;|fail-folder'
  'platform/net_posix.cpp|#include <sys/socket.h>|pass'
  'platform/net_win.cpp|#ifdef _WIN32|pass'
  'tools/boxsim/line.cpp|#include <sys/socket.h>|pass'
  'src/upgrade.cpp|#include "comport/serport.h"|pass'
  'zip/zacore.cpp|#include "ziplib/zaoem.h"|pass'
  'comport/serportctl.cpp|#include "widgets/skin/skinform.h"|pass'
  'lib/log.cpp|#include "platform/files.h"|pass'
  'lib/records_sqlite.cpp|#include <sqlite3.h>|pass'
  'apps/zevavi-flash/main.cpp|#include "src/upgrade.h"|pass'
  'src/upgrade.cpp|#include <cstdio>|pass'
  'widgets/skin/skinform.cpp|#include <QtWidgets/QWidget>|pass'
  'src/upgrade.cpp|#ifndef SRC_UPGRADE_H|pass'
  'packaging/notes.txt|no sources here|pass'
)
for c in "${cases[@]}"; do
  IFS='|' read -r file line expect <<<"$c"
  tree="$work/case"
  rm -rf "$tree"
  mkdir -p "$tree/$(dirname "$file")"
  printf '// planted\n%s\n' "$line" >"$tree/$file"
  out=$("$check" "$tree" 2>&1)
  rc=$?
  named="$file:2:"
  [ "$expect" = fail-folder ] && named="$file:"
  if [ "$expect" != pass ] && { [ $rc -eq 0 ] || ! grep -qF "$named" <<<"$out"; }; then
    echo "FAIL: '$line' in $file was not reported (exit $rc): $out"
    failures=$((failures + 1))
  elif [ "$expect" = pass ] && [ $rc -ne 0 ]; then
    echo "FAIL: '$line' in $file was refused: $out"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "all ${#cases[@]} cases as expected"
exit $((failures > 0))

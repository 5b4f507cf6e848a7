#!/usr/bin/env bash
# Checks the floors of the source tree (default: the tree this script belongs to, or the
# folder given as the first argument), and prints every offending line as file:line.
#
#  - Headers of the operating system (POSIX, sockets, Linux, Windows) appear only in
#    platform/, which stands in for the OS, and in tools/, tests/, bench/ and fuzz/.
#  - An include never goes up a floor. From the bottom:
#      0  lib platform
#      1  comport zip ziplib widgets
#      2  src
#      3  apps tools
#    tests/, bench/ and fuzz/ may include anything; nothing on a floor includes them.
# Every file under a floored folder is checked, whatever its name, so new files and
# folders are covered without being listed here.
set -euo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

declare -A floor=([lib]=0 [platform]=0 [comport]=1 [zip]=1 [ziplib]=1 [widgets]=1 [src]=2 [apps]=3 [tools]=3)
os_free=(lib comport zip ziplib widgets src apps)

# <sys/…>, <netinet/…> and the like, and the single POSIX and Windows headers by name.
os_header='^[[:space:]]*#[[:space:]]*include[[:space:]]*<((sys|netinet|arpa|net|linux|asm|asm-generic|bits)/[^>]*|(unistd|fcntl|termios|termio|dlfcn|poll|pthread|semaphore|dirent|spawn|pty|pwd|grp|sched|netdb|ifaddrs|getopt|strings|syslog|signal|libgen|glob|fnmatch|utmp|wordexp|aio|mqueue|windows|winsock|winsock2|ws2tcpip|iphlpapi|winbase|winnt|windef|io|direct|process|conio|shlobj|shellapi|setupapi|tlhelp32|psapi)\.h)>'

status=0
fail() {
  echo "$1" >&2
  status=1
}

sources() {
  local dirs=()
  for d in "$@"; do
    [ -d "$d" ] && dirs+=("$d")
  done
  [ ${#dirs[@]} -eq 0 ] && return 0
  find "${dirs[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \
    -o -name '*.inc' \) | sort
}

while IFS= read -r file; do
  [ -n "$file" ] || continue
  while IFS= read -r hit; do
    fail "$file:${hit%%:*}: operating-system header outside platform/: ${hit#*:}"
  done < <(grep -nE "$os_header" "$file" || true)
done < <(sources "${os_free[@]}")

while IFS= read -r file; do
  [ -n "$file" ] || continue
  own=${floor[${file%%/*}]}
  while IFS= read -r hit; do
    line=${hit%%:*}
    [[ ${hit#*:} =~ \"([^\"]*)\" ]] || continue
    target=${BASH_REMATCH[1]}
    [[ $target == */* ]] || continue  # a header beside the file, spelled without a folder
    folder=${target%%/*}
    if [ -z "${floor[$folder]+set}" ]; then
      fail "$file:$line: includes $target, which is on no floor"
    elif [ "${floor[$folder]}" -gt "$own" ]; then
      fail "$file:$line: includes $target, a floor up (${file%%/*} is $own, $folder is ${floor[$folder]})"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(sources "${!floor[@]}")

if [ "$status" -ne 0 ]; then
  echo "check-layers: the tree's floors are broken (see above)" >&2
fi
exit "$status"

#!/usr/bin/env bash
# Checks the floors of the source tree (default: the tree this script belongs to, or the
# folder given as the first argument), and prints every offending line as file:line.
#
#  - A floor, from the bottom:
#      0  lib platform
#      1  comport zip ziplib widgets
#      2  src
#      3  apps tools
#    tests/, bench/ and fuzz/ may include anything; nothing on a floor includes them. Any
#    other top-level folder that holds C or C++ sources is refused until it is given a floor.
#  - An include never goes up a floor, and across a floor only where the pair is named below
#    (lib uses platform; the terminal uses the skinned widgets; the zip component uses its
#    library). Everything else on one floor stays apart: platform never reaches lib, the
#    library never its component.
#  - Only platform/ (and the tools, which are POSIX programs) talk to the operating system.
#    Everywhere else an angle include is on an allow-list: the C++ library, Qt, zlib, and in
#    lib/ the client libraries of the records and the web page. A header of our own is
#    included with quotes and its folder; a quoted name without a folder must stand beside
#    the file. No #if there asks which operating system it is built for.
# Every file under a floored folder is checked, whatever its name, so new files and
# folders are covered without being listed here.
set -euo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

declare -A floor=([lib]=0 [platform]=0 [comport]=1 [zip]=1 [ziplib]=1 [widgets]=1 [src]=2 [apps]=3 [tools]=3)
declare -A across=([lib > platform]=1 [comport > widgets]=1 [zip > ziplib]=1)
unfloored=(tests bench fuzz)
os_free=(lib comport zip ziplib widgets src apps)

# The C++ library (the C headers it carries, too), less what only an operating system gives
# meaning to: signals belong to platform/stopsignal.
std_headers=" algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv
 chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
 csetjmp cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception
 execution filesystem format forward_list fstream functional future initializer_list iomanip ios iosfwd
 iostream istream iterator latch limits list locale map memory memory_resource mutex new numbers
 numeric optional ostream queue random ranges ratio regex scoped_allocator semaphore set shared_mutex
 source_location span sstream stack stdexcept stop_token streambuf string string_view syncstream
 system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray
 variant vector version
 assert.h ctype.h errno.h float.h inttypes.h limits.h math.h stdarg.h stdbool.h stddef.h stdint.h
 stdio.h stdlib.h string.h time.h uchar.h wchar.h wctype.h zlib.h "
std_headers=" $(echo $std_headers) "
declare -A libraries_of=([lib]=" sqlite3.h libpq-fe.h httplib.h ")

# Macros that name an operating system or its compiler; Qt's own (Q_OS_…) included.
os_macro='(^|[^[:alnum:]_])(_WIN32|_WIN64|WIN32|_WINDOWS|__CYGWIN__|__MINGW32__|__MINGW64__|_MSC_VER|__linux__|__linux|linux|__gnu_linux__|__unix__|__unix|unix|__APPLE__|__MACH__|__FreeBSD__|__NetBSD__|__OpenBSD__|__ANDROID__|_POSIX_VERSION|Q_OS_[A-Z0-9_]+)([^[:alnum:]_]|$)'

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

in_list() {  # in_list WORD " a b c "
  [[ $2 == *" $1 "* ]]
}

# A folder that holds sources but stands on no floor (build folders, which git ignores, aside).
in_git=0
git rev-parse --is-inside-work-tree >/dev/null 2>&1 && in_git=1
for d in */; do
  d=${d%/}
  [ -n "${floor[$d]+set}" ] && continue
  in_list "$d" " ${unfloored[*]} " && continue
  [ $in_git -eq 1 ] && git check-ignore -q "$d/" && continue
  first=$(sources "$d" | head -n 1)
  [ -n "$first" ] && fail "$first: $d/ holds sources but is on no floor (give it one in scripts/check-layers.sh)"
done

while IFS= read -r file; do
  [ -n "$file" ] || continue
  top=${file%%/*}
  own=${floor[$top]}
  os_free_file=0
  in_list "$top" " ${os_free[*]} " && os_free_file=1
  while IFS= read -r hit; do
    line=${hit%%:*}
    text=${hit#*:}
    where="$file:$line"
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif|elifdef|elifndef)([^[:alnum:]_]|$) ]]; then
      if [ $os_free_file -eq 1 ] && [[ $text =~ $os_macro ]]; then
        fail "$where: asks which operating system it is built for, outside platform/: $text"
      fi
      continue
    fi
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]*)\> ]]; then
      target=${BASH_REMATCH[1]}
      folder=${target%%/*}
      if [[ $target == */* && ( -n "${floor[$folder]+set}" || " ${unfloored[*]} " == *" $folder "* ) ]]; then
        fail "$where: includes our own $target with angle brackets; spell it \"$target\""
      elif [ $os_free_file -eq 1 ] && ! in_list "$target" "$std_headers" &&
        ! in_list "$target" "${libraries_of[$top]:-}" &&
        ! [[ $target =~ ^(Qt[[:alnum:]]+/)?Q[[:alnum:]_]+$ ]]; then
        fail "$where: includes <$target>: above platform/ only the C++ library, Qt and zlib${libraries_of[$top]:+ (and in $top/:${libraries_of[$top]% })} are included this way"
      fi
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]*)\" ]]; then
      target=${BASH_REMATCH[1]}
      if [[ $target != */* ]]; then
        [ $os_free_file -eq 0 ] || [ -f "$(dirname "$file")/$target" ] ||
          fail "$where: includes \"$target\", which is not beside it (our headers are spelled with their folder)"
        continue
      fi
      folder=${target%%/*}
      if [ -z "${floor[$folder]+set}" ]; then
        fail "$where: includes $target, which is on no floor"
      elif [ "${floor[$folder]}" -gt "$own" ]; then
        fail "$where: includes $target, a floor up ($top is $own, $folder is ${floor[$folder]})"
      elif [ "$folder" != "$top" ] && [ "${floor[$folder]}" -eq "$own" ] && [ -z "${across[$top > $folder]+set}" ]; then
        fail "$where: includes $target; $top and $folder share floor $own and $top never uses $folder"
      fi
    elif [ $os_free_file -eq 1 ]; then
      fail "$where: an include the check cannot read (a macro?): $text"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*(include|if|ifdef|ifndef|elif|elifdef|elifndef)([^[:alnum:]_]|$)' "$file" || true)
done < <(sources "${!floor[@]}")

if [ "$status" -ne 0 ]; then
  echo "check-layers: the tree's floors are broken (see above)" >&2
fi
exit "$status"

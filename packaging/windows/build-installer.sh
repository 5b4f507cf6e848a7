#!/usr/bin/env bash
# Builds the Windows installer from a deployed folder with makensis (Debian: nsis).
#   packaging/windows/build-installer.sh [--icon ICO | --no-icon] [--license TEXT]
#                                        DEPLOY_DIR OUTFILE VERSION
# Without --icon the icon is made from packaging/zevavi.svg (needs rsvg-convert and convert).
#
# The uninstaller may delete only what the installer put in a folder the user chose, so both
# lists come from one walk of DEPLOY_DIR: it is written here as FILES_NSH, one macro that
# installs each file and one that deletes each file and then each folder, deepest first.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage="usage: $0 [--icon ICO | --no-icon] [--license TEXT] DEPLOY_DIR OUTFILE VERSION"
die() {
  echo "$0: $*" >&2
  exit 1
}

icon=""
make_icon=1
license=""
while [ $# -gt 0 ]; do
  case $1 in
    --icon) icon=${2:?$usage}; make_icon=0; shift 2 ;;
    --no-icon) make_icon=0; shift ;;
    --license) license=${2:?$usage}; shift 2 ;;
    --) shift; break ;;
    -*) die "unknown option $1; $usage" ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { echo "$usage" >&2; exit 2; }
deploy=$1
outfile=$2
version=$3

command -v makensis >/dev/null || die "makensis is missing (Debian: apt-get install nsis)"
[ -d "$deploy" ] || die "$deploy is not a folder"
deploy=$(cd "$deploy" && pwd)
# The shortcuts and the firewall rules name these programs.
for program in ZeVavi.exe zevavi-term.exe zevavi-flash.exe zevavi-station.exe; do
  [ -f "$deploy/$program" ] || die "$deploy has no $program"
done
[ ! -e "$deploy/uninstall.exe" ] || die "$deploy/uninstall.exe would be overwritten by the uninstaller"
[[ $version =~ ^[A-Za-z0-9._+~-]+$ ]] || die "version '$version' must be letters, digits and . _ + ~ -"
outfile=$(realpath -m "$outfile")
mkdir -p "$(dirname "$outfile")"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -n "$icon" ]; then
  [ -f "$icon" ] || die "no icon $icon"
  icon=$(realpath "$icon")
elif [ $make_icon -eq 1 ]; then
  icon=$work/zevavi.ico
  "$here/make-ico.sh" "$here/../zevavi.svg" "$icon"
fi
if [ -n "$license" ]; then
  [ -f "$license" ] || die "no licence text $license"
  license=$(realpath "$license")
fi
# Paths makensis reads at compile time are taken as they stand ($ is no escape there), but
# they sit inside the script's double-quoted strings.
for path in "$deploy" "$outfile" "$icon" "$license"; do
  [[ $path != *\"* ]] || die "'$path': makensis cannot be given a path with a double quote"
done

# Text for inside an NSIS string in double quotes, where $ and " are the special characters.
nsis_escape() {
  local s=${1//\$/\$\$}
  printf '%s' "${s//\"/\$\\\"}"
}

odd=$(find "$deploy" -mindepth 1 ! -type f ! -type d -print -quit)
[ -z "$odd" ] || die "$odd is neither a file nor a folder; deploy real files"

dirs=()
while IFS= read -r -d '' d; do
  dirs+=("$d")
done < <(cd "$deploy" && find . -mindepth 1 -type d -printf '%P\0' | LC_ALL=C sort -z)
files=()
while IFS= read -r -d '' f; do
  files+=("$f")
done < <(cd "$deploy" && find . -type f -printf '%P\0' | LC_ALL=C sort -z)

for path in "${dirs[@]}" "${files[@]}"; do
  # Names Windows cannot hold would fail at install time on the user's PC, not here.
  if [[ $path =~ [[:cntrl:]\<\>:\"\|\?\*\\] ]]; then
    die "'$path' cannot be a Windows file name"
  fi
done

nsh=$work/files.nsh
total=0
{
  echo "; Made by build-installer.sh from $deploy."
  echo "!macro ZV_INSTALL_FILES"
  for dir in "" "${dirs[@]}"; do
    win=${dir//\//\\}
    echo "  SetOutPath \"\$INSTDIR${win:+\\}$(nsis_escape "$win")\""
    while IFS= read -r -d '' name; do
      echo "  File \"\${SRCDIR}/${dir:+$dir/}$name\""
    done < <(cd "$deploy/$dir" && find . -mindepth 1 -maxdepth 1 -type f -printf '%P\0' | LC_ALL=C sort -z)
  done
  echo "!macroend"
  echo "!macro ZV_UNINSTALL_FILES"
  for file in "${files[@]}"; do
    echo "  Delete \"\$INSTDIR\\$(nsis_escape "${file//\//\\}")\""
    total=$((total + $(stat -c %s "$deploy/$file")))
  done
  for ((i = ${#dirs[@]} - 1; i >= 0; i--)); do
    echo "  RMDir \"\$INSTDIR\\$(nsis_escape "${dirs[i]//\//\\}")\""
  done
  echo "!macroend"
  echo "!define ZV_INSTALLED_KB $(((total + 1023) / 1024))"
} >"$nsh"

defines=(-DSRCDIR="$deploy" -DOUTFILE="$outfile" -DVERSION="$version" -DFILES_NSH="$nsh")
[ -z "$icon" ] || defines+=(-DICON="$icon")
[ -z "$license" ] || defines+=(-DLICENSE="$license")
makensis -V2 -WX -INPUTCHARSET UTF8 "${defines[@]}" "$here/zevavi.nsi"
echo "$outfile"

#!/usr/bin/env bash
# Builds Qt for 64-bit Windows once, from Debian's own qt6-base source package, into a cache
# folder outside the tree, and prints that folder. Later calls find it there and only print it
# (a cache built with other options than the ones below is built again).
#   scripts/qt-mingw.sh            # build if missing; print the prefix
#   scripts/qt-mingw.sh --check    # print the prefix if it is built, exit 1 if not
# The version is the host Qt's, whose moc, rcc and uic serve as the cross build's tools.
# Only Core, Gui, Widgets, PrintSupport, Test and the "windows" platform plugin: no OpenGL,
# SQL, D-Bus or network. ZV_QT_MINGW overrides the cache folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=6.4.2
prefix=${ZV_QT_MINGW:-${XDG_CACHE_HOME:-$HOME/.cache}/zevavi/qt6-mingw-$version}
stamp=$prefix/.zevavi-built

# What Qt is configured with; a cache built otherwise is built again (but still used by
# --check, so a build in progress elsewhere keeps its Qt).
options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_sql=OFF -DFEATURE_dbus=OFF
  -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  # Debian's +dfsg source lacks wintab.h.
  -DFEATURE_tabletevent=OFF
  -DFEATURE_printsupport=ON -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
)
fingerprint=$( (echo "$version"; printf '%s\n' "${options[@]}"; cat "$root/cmake/mingw64-compilers.cmake") |
  sha256sum | cut -c1-16)

if [ -f "$stamp" ] && { [ "${1:-}" = --check ] || grep -q "options $fingerprint" "$stamp"; }; then
  echo "$prefix"
  exit 0
fi
if [ "${1:-}" = --check ]; then
  exit 1
fi

# Callers take the prefix from standard output (qt=$(scripts/qt-mingw.sh)): from here on only
# the last line goes there, everything the build says goes to standard error.
exec 3>&1 1>&2

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
case "$host_version" in
  "$version"*) ;;
  *) echo "qt-mingw: the host Qt must be $version (qt6-base-dev is '${host_version:-not installed}')" >&2
     exit 1 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/zevavi-qt-mingw.XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$(date +%s)

# The source through a private apt configuration: a deb-src line for this machine's own
# suite, its lists and cache in the work folder, the machine's apt set-up left as it is.
. /etc/os-release
suite=${VERSION_CODENAME:?no Debian suite in /etc/os-release}
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)\/*$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
mirror=${mirror:-http://deb.debian.org/debian}
apt=$work/apt
mkdir -p "$apt/etc/sources.list.d" "$apt/etc/preferences.d" "$apt/lists/partial" "$apt/cache/archives/partial"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" >"$apt/etc/sources.list"
apt_opts=(-o "Dir::Etc=$apt/etc" -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
          -o "Dir::Etc::Trusted=/etc/apt/trusted.gpg" -o "Dir::Etc::TrustedParts=/etc/apt/trusted.gpg.d"
          -o APT::Sandbox::User=root)
echo "qt-mingw: fetching qt6-base $version from Debian's sources ($suite)"
apt-get "${apt_opts[@]}" update -qq
# The suite's own source version of $version (apt takes only an exact version).
source_version=$(apt-cache "${apt_opts[@]}" showsrc qt6-base | sed -n "s/^Version: \($version[^ ]*\)$/\1/p" | head -n1)
[ -n "$source_version" ] || { echo "qt-mingw: Debian's $suite has no qt6-base $version source" >&2; exit 1; }
(cd "$work" && apt-get "${apt_opts[@]}" source -qq "qt6-base=$source_version" >/dev/null)
src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-*" | head -n1)
[ -n "$src" ] || { echo "qt-mingw: apt-get source gave no qt6-base folder" >&2; exit 1; }

echo "qt-mingw: configuring (output in $prefix.log)"
mkdir -p "$(dirname "$prefix")"
rm -rf "$prefix"
cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64-compilers.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" >"$prefix.log" 2>&1 \
  || { tail -n 40 "$prefix.log" >&2; exit 1; }
echo "qt-mingw: building (about 1100 steps: a quarter of an hour or more on two cores)"
cmake --build "$work/build" -j "$(nproc)" >>"$prefix.log" 2>&1 \
  || { grep -m 20 -B 5 'error' "$prefix.log" >&2; exit 1; }
cmake --install "$work/build" >>"$prefix.log" 2>&1
echo "built in $(( $(date +%s) - start )) s from qt6-base $(basename "$src"), options $fingerprint" >"$stamp"
cat "$stamp"
echo "$prefix" >&3

# Shared set-up for ./run and ./test: install what is missing from Debian, then configure
# and build. Sourced, not run. Idempotent and non-interactive.
set -euo pipefail

ZV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZV_BUILD=${ZV_BUILD:-$ZV_ROOT/build}

# What building the programs and running them against the simulated box needs (./run): the
# compiler and Qt, the fonts the window is drawn with, a display for a machine without one,
# zip for the sample image, and the tools of the private network namespace.
ZV_RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev zlib1g-dev
  libsqlite3-dev libpq-dev  # the station's production records: SQLite, PostgreSQL
  libcpp-httplib-dev  # the station's web page
  xvfb xauth fonts-liberation fonts-dejavu-core zip
  iproute2 util-linux
)
# What the tests and benchmarks need on top (./test).
ZV_TEST_PACKAGES=(
  sqlite3  # the tests check the records with SQLite's own shell
  postgresql  # a private server per test for the records of many stations (no service)
  chromium chromium-driver  # the station's web page in a headless browser
  libgtest-dev libgmock-dev libbenchmark-dev
  imagemagick
  socat tftp-hpa atftp curl unzip libarchive-tools tftpd-hpa libvterm-dev
  libcap2-bin python3 procps
  dpkg-dev desktop-file-utils appstream lintian librsvg2-bin groff-base man-db
  clang libclang-rt-dev  # the fuzz targets (libFuzzer) that ./test runs before the suite
  clang-format  # CI holds the tree to its one style
  pandoc enscript  # RTF written by real tools, for the RTF reader's tests
  # The Windows cross build and the Wine that runs its tests (tests/wine, tests/windows); the
  # installer's compiler (makensis).
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine nsis
)

# zv_install_packages run|test: what ./run needs, or that and what ./test needs.
zv_install_packages() {
  local wanted=("${ZV_RUN_PACKAGES[@]}")
  [ "${1:-test}" = test ] && wanted+=("${ZV_TEST_PACKAGES[@]}")
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  # tftpd-hpa is only a benchmark peer and postgresql's server is started by the tests
  # themselves: keep their services from starting (and tftpd-hpa from taking port 69).
  if [[ " ${missing[*]} " == *" tftpd-hpa "* || " ${missing[*]} " == *" postgresql "* ]] &&
    [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod +x /usr/sbin/policy-rc.d
    $sudo apt-get install -y -qq "${missing[@]}"
    $sudo rm -f /usr/sbin/policy-rc.d
  else
    $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# ZV_CMAKE_ARGS: extra configure options from the caller's environment (CI sets
# -DZEVAVI_WERROR=ON), split at blanks.
# ZV_TARGETS: build only these targets (./run), split at blanks; all when empty.
zv_build() {
  local extra=() targets=()
  read -r -a extra <<<"${ZV_CMAKE_ARGS:-}"
  read -r -a targets <<<"${ZV_TARGETS:-}"
  cmake -S "$ZV_ROOT" -B "$ZV_BUILD" -G Ninja "${extra[@]}" "$@" >/dev/null
  cmake --build "$ZV_BUILD" -j 2 ${targets[@]:+--target "${targets[@]}"}
}

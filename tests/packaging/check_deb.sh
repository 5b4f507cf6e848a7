#!/bin/bash
# Builds the .deb with cpack, checks its control data and lintian's verdict, unpacks it into
# a throw-away root and runs the programs from it: zevavi-flash --help, ZeVavi on the
# offscreen platform (its log must go to the user's state folder, as the folder of an
# installed program is read-only), and one whole upgrade of the simulated box with the
# installed zevavi-flash and a zip image, which also proves that the installed program finds
# its unzip library. Every program is started by its full path, so only the packaged copies
# run (boxsim, which is not packaged, comes from the build).
set -u
build=$1
source=$2
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: dpkg-deb is missing"; exit 77; }
for f in bin/ZeVavi bin/zevavi-flash bin/zevavi-station bin/zevavi-term bin/zevavi-skin share/zevavi/themes/sample.skn bin/KyUnzip179.so bin/boxsim packaging/changelog.gz; do
  [ -e "$build/$f" ] || { echo "FAIL: $build/$f is not built"; exit 1; }
done

tmp=$(mktemp -d /tmp/zevavi-pkg-test.XXXXXX)
chmod 755 "$tmp"
keep=0
cleanup() {
  [ $keep -eq 0 ] && rm -rf "$tmp" || echo "kept for a look: $tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; keep=1; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}

# The control data: Debian's own package names, and the capability given at installation.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 zlib1g libcpp-httplib0.11 libcap2-bin; do
  [[ ", $depends" == *", $needed"[\ ,]* || ", $depends," == *", $needed,"* ]] || fail "Depends lacks $needed: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = zevavi ] || fail "package name"
[ -n "$(dpkg-deb -f "$deb" Section)" ] && [ -n "$(dpkg-deb -f "$deb" Priority)" ] || fail "no section or priority"
mkdir "$tmp/control"
dpkg-deb -e "$deb" "$tmp/control"
[ -x "$tmp/control/postinst" ] || fail "no executable postinst"
grep -q 'setcap cap_net_bind_service=+ep' "$tmp/control/postinst" || fail "postinst gives no capability"
sh -n "$tmp/control/postinst" || fail "postinst is not valid sh"

# Debian's own checker finds no error and no warning (informational tags are allowed).
command -v lintian >/dev/null 2>&1 || fail "lintian is missing (scripts/setup.sh installs it)"
lintian --fail-on error,warning "$deb" >"$tmp/lintian.out" 2>&1 || { cat "$tmp/lintian.out"; fail "lintian"; }

root=$tmp/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for f in usr/bin/ZeVavi usr/bin/zevavi-flash usr/bin/zevavi-station usr/bin/zevavi-term usr/bin/zevavi-skin \
  usr/share/zevavi/themes/sample.skn usr/share/applications/org.zevavi.zevavi-station.desktop \
  usr/share/man/man1/zevavi-station.1.gz \
  usr/share/man/man1/zevavi-skin.1.gz "usr/lib/$arch/zevavi/KyUnzip179.so" \
  usr/share/applications/org.zevavi.zevavi.desktop usr/share/applications/org.zevavi.zevavi-term.desktop usr/share/metainfo/org.zevavi.zevavi.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/zevavi.svg usr/share/man/man1/ZeVavi.1.gz \
  usr/share/man/man1/zevavi-flash.1.gz usr/share/man/man1/zevavi-term.1.gz usr/share/doc/zevavi/copyright usr/share/doc/zevavi/changelog.gz; do
  [ -s "$root/$f" ] || fail "the package lacks /$f"
done
# Each rendered icon is a PNG of the size its folder names.
for size in 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/zevavi.png
  got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8] == b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$png" 2>&1)
  [ "$got" = "${size}x${size}" ] || fail "$png: $got"
done

help=$("$root/usr/bin/zevavi-flash" --help 2>&1) || fail "zevavi-flash --help exits $?"
[[ "$help" == "Usage: zevavi-flash "* ]] || fail "zevavi-flash --help: $help"
# The installed theme tool reads the installed sample theme.
listed=$("$root/usr/bin/zevavi-skin" list "$root/usr/share/zevavi/themes/sample.skn" 2>&1) ||
  fail "zevavi-skin list of the sample theme exits $?: $listed"
[[ "$listed" == *"ButtonImage"*" records" ]] || fail "zevavi-skin list of the sample theme: $listed"

# The rest runs in a private network namespace (for UDP port 69) and a private mount
# namespace. As root the package is installed there for real: the unpacked root laid over
# /usr, its postinst run, and the programs started by an ordinary user, so that port 69 only
# works through the capability postinst gives, the program folder is not the user's to
# write, and the unzip library must be found from /usr in the loader's secure mode that a
# capability brings. Otherwise the programs run from the unpacked root with its program
# folder mounted read-only.
cat >"$tmp/inside.sh" <<'INSIDE'
set -u
tmp=$1 root=$2 build=$3 deb=$4 real_root=$5
fail() { echo "FAIL: $*"; exit 1; }
wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 10))); do
    eval "$@" && return 0
    sleep 0.1
  done
  eval "$@"
}
# Whatever is started in the background ends with this script, however it ends. The
# commands are started directly (setpriv and env exec them), so each $! is the program.
started=()
stop_started() {
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  return 0
}
trap stop_started EXIT
work=$tmp/user
mkdir -p "$work/home"
# (Root inside a user namespace is not enough: it cannot become another user.)
if [ "$real_root" = 1 ] && [ -z "${ZEVAVI_PKG_NO_OVERLAY:-}" ] &&
  mkdir "$tmp/upper" "$tmp/overlay-work" &&
  mount -t overlay overlay -o "lowerdir=/usr,upperdir=$tmp/upper,workdir=$tmp/overlay-work" /usr 2>/dev/null; then
  cp -a "$root/usr/." /usr/ || fail "cannot lay the package over /usr"
  mkdir "$tmp/control-run" && dpkg-deb -e "$deb" "$tmp/control-run" || fail "dpkg-deb -e"
  # Where setcap cannot be had, postinst says so and the installation still succeeds.
  if [ -z "$(PATH=/usr/bin:/bin command -v setcap)" ]; then
    PATH=/usr/bin:/bin "$tmp/control-run/postinst" configure >"$tmp/postinst-nosetcap.out" 2>&1 ||
      { cat "$tmp/postinst-nosetcap.out"; fail "postinst fails without setcap"; }
    grep -q "could not give /usr/bin/zevavi-flash the capability" "$tmp/postinst-nosetcap.out" ||
      { cat "$tmp/postinst-nosetcap.out"; fail "postinst does not say that setcap was impossible"; }
  fi
  "$tmp/control-run/postinst" configure >"$tmp/postinst.out" 2>&1 || { cat "$tmp/postinst.out"; fail "postinst configure"; }
  for program in /usr/bin/ZeVavi /usr/bin/zevavi-flash /usr/bin/zevavi-station; do
    getcap "$program" | grep -q 'cap_net_bind_service[=+]*ep' || fail "postinst gave $program no capability"
  done
  grep -q dialout "$tmp/postinst.out" || fail "postinst says nothing of the dialout group"
  bindir=/usr/bin
  chown -R 65534:65534 "$work"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  echo "installed under /usr in a private mount namespace; running as an ordinary user"
else
  mount --bind "$root/usr/bin" "$root/usr/bin" && mount -o remount,bind,ro "$root/usr/bin" ||
    fail "cannot mount the program folder read-only"
  touch "$root/usr/bin/probe" 2>/dev/null && fail "the program folder is still writable"
  bindir=$root/usr/bin
  as_user=(env)
  echo "running from the unpacked root"
fi

export HOME=$work/home XDG_CACHE_HOME= XDG_STATE_HOME= XDG_RUNTIME_DIR=
state_log=$HOME/.local/state/zevavi/zevavi.log

QT_QPA_PLATFORM=offscreen "${as_user[@]}" "$bindir/ZeVavi" >"$work/zevavi.out" 2>&1 &
window=$!
started+=($window)
wait_for 60 '[ -e "$state_log" ] || ! kill -0 $window 2>/dev/null'
kill -0 $window 2>/dev/null || { cat "$work/zevavi.out"; fail "ZeVavi ended by itself"; }
kill $window
wait $window
[ -e "$state_log" ] || fail "ZeVavi made no log into $state_log"
[ ! -e "$bindir/zevavi.log" ] || fail "ZeVavi wrote its log beside the installed program"

# One whole upgrade: a zip image made by Info-ZIP, the simulated box on a pty.
pc=$(ip -4 -o addr show dev lo | awk '{ split($4, a, "/"); if (a[1] !~ /^127\./) { print a[1]; exit } }')
[ -n "$pc" ] || fail "the namespace gives the PC no address"
last=${pc##*.}
box=${pc%.*}.$([ "$last" = 45 ] && echo 46 || echo 45)
mkdir -p "$tmp/image/image"
head -c 655483 /dev/urandom >"$tmp/image/image/kernel_cfe_auto.bin"
head -c 49159 /dev/urandom >"$tmp/image/image/splash_cfe_auto.bin"
head -c 262144 /dev/urandom >"$tmp/image/image/boot_cfe_auto.jffs2"
head -c 1573164 /dev/urandom >"$tmp/image/image/root_cfe_auto.jffs2"
(cd "$tmp/image" && zip -q -r "$tmp/firmware.zip" image) || fail "zip"

# The box runs as the same user, so that the user can open its pty.
"${as_user[@]}" "$build/bin/boxsim" --pty-link "$work/box-tty" --report "$work/box.json" --speed 20 >"$work/box.out" 2>&1 &
boxsim=$!
started+=($boxsim)
wait_for 10 '[ -e "$work/box-tty" ]' || fail "the box made no pty"
"${as_user[@]}" "$bindir/zevavi-flash" --port "$work/box-tty" --model TORQA --box "$box" --timeout 100 \
  "$tmp/firmware.zip" >"$work/flash.out" 2>&1
code=$?
kill $boxsim
wait $boxsim
[ $code -eq 0 ] || { cat "$work/flash.out"; fail "the installed zevavi-flash exits $code"; }
grep -q 'Finished, Reboot now' "$work/flash.out" || { cat "$work/flash.out"; fail "no last status line"; }
grep -q 'unzip ok' "$HOME/.local/state/zevavi/zevavi.log" ||
  fail "zevavi-flash's log in the state folder does not show the image unzipped"

# The box flashed exactly the image's bytes.
python3 - "$work/box.json" "$tmp/image/image" "$box" <<'PY' || fail "the box's report differs from the image"
import hashlib, json, sys
report = json.load(open(sys.argv[1]))
want = {"flash0.kernel": "kernel_cfe_auto.bin", "flash0.splash": "splash_cfe_auto.bin",
        "flash0.boot": "boot_cfe_auto.jffs2", "flash0.avail0": "root_cfe_auto.jffs2"}
ok = report.get("ip") == sys.argv[3]
for target, name in want.items():
    data = open(sys.argv[2] + "/" + name, "rb").read()
    got = report.get("partitions", {}).get(target, {})
    if got.get("size") != len(data) or got.get("sha256") != hashlib.sha256(data).hexdigest():
        print("%s: flashed %s, the image has %d bytes" % (target, got, len(data)))
        ok = False
sys.exit(0 if ok else 1)
PY
echo "the installed package works"
INSIDE

"$source/scripts/netns-run" unshare --mount -- bash "$tmp/inside.sh" "$tmp" "$root" "$build" "$deb" \
  "$([ "$(id -u)" = 0 ] && echo 1 || echo 0)"
status=$?
# Nothing the test started outlives it.
left=$(pgrep -f "$tmp/")
if [ -n "$left" ]; then
  ps -o pid=,args= -p "$(echo $left | tr ' ' ,)"
  kill $left
  fail "still running after the test"
fi
[ $status -eq 0 ] || { keep=1; exit 1; }

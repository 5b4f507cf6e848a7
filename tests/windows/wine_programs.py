#!/usr/bin/env python3
"""The Windows programs as a Windows technician runs them, under Wine.

The installer is run silently into a Wine prefix of the test's build; then the programs are
started from the installed folder, C:\\Program Files\\ZeVavi, against the simulated box: its
serial console is a pty that the prefix maps to COM5, its TFTP client fetches from the
program's server on UDP port 69. Everything after the install runs in a private network
namespace (scripts/netns-run), with Wine's server inside it, since that server owns the
sockets. The box reports what it flashed, and every partition must equal the image's bytes.

    wine_programs.py install  --build DIR --installer SETUP.exe
    wine_programs.py window   --build DIR --windrive zevavi-windrive.exe --boxsim boxsim
    wine_programs.py flash    --build DIR --boxsim boxsim
    wine_programs.py flash-lost --build DIR --boxsim boxsim
    wine_programs.py window-appears --build DIR WINDOWS_PATH_OF_EXE   (prefix in WINEPREFIX)

--build is the Windows build folder: its wineprefix/ is the prefix, its artifacts/ gets the
window's pictures.
"""
import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
NETNS_RUN = os.path.join(ROOT, "scripts", "netns-run")
INSTALLED = "C:\\Program Files\\ZeVavi"
COM = "COM5"
MODEL = "TORQA"
BOUND_S = 300  # any one program run; only a broken run waits this long
# Partition file in the image -> the flash target the box reports it under.
TARGETS = {
    "kernel_cfe_auto.bin": "flash0.kernel",
    "splash_cfe_auto.bin": "flash0.splash",
    "boot_cfe_auto.jffs2": "flash0.boot",
    "root_cfe_auto.jffs2": "flash0.avail0",
}
NEEDED = ("flash0.kernel", "flash0.boot", "flash0.avail0")


def fail(text):
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def windows_path(path):
    """Wine's drive Z: is this machine's root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def installed_dir(prefix):
    return os.path.join(prefix, "drive_c", "Program Files", "ZeVavi")


def wine(prefix, program, args, display=False, timeout=BOUND_S, **popen):
    env = dict(os.environ, WINEPREFIX=prefix, ZV_WINE_TIMEOUT=str(timeout))
    command = [WINE_RUN, program] + args
    if display:
        env["ZV_WINE_DISPLAY"] = "1"
        command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24"] + command
    return subprocess.run(command, env=env, timeout=timeout + 60, **popen)


def make_image(work):
    """Four partitions of random bytes in a folder, zipped by Info-ZIP's zip, as a vendor ships
    them; sizes end inside a block, on a block boundary and past the first thousand blocks."""
    rng = random.Random(2026)
    sizes = {"kernel_cfe_auto.bin": 640 * 1024 + 123, "splash_cfe_auto.bin": 48 * 1024 + 7,
             "boot_cfe_auto.jffs2": 256 * 1024, "root_cfe_auto.jffs2": 1536 * 1024 + 300}
    staging = os.path.join(work, "staging")
    os.makedirs(os.path.join(staging, "image"))
    digests = {}
    for name, size in sizes.items():
        data = rng.randbytes(size)
        with open(os.path.join(staging, "image", name), "wb") as f:
            f.write(data)
        digests[TARGETS[name]] = (size, hashlib.sha256(data).hexdigest())
    image = os.path.join(work, "image.zip")
    subprocess.run(["zip", "-q", "-r", image, "image"], cwd=staging, check=True)
    shutil.rmtree(staging)
    return image, digests


def pc_address():
    """The PC's address in the namespace (scripts/netns-run puts it on the loopback device)."""
    out = subprocess.run(["ip", "-4", "-o", "addr", "show"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        address = line.split()[3].split("/")[0]
        if not address.startswith("127."):
            return address
    fail("the namespace gives the PC no address")


def box_address(pc):
    parts = pc.split(".")
    parts[3] = "46" if parts[3] == "45" else "45"
    return ".".join(parts)


class Box:
    """The simulated box on a pty that the prefix maps to COM5."""

    def __init__(self, boxsim, work, prefix, extra=()):
        self.link = os.path.join(work, "box-tty")
        self.report_path = os.path.join(work, "box.json")
        self.log = open(os.path.join(work, "box.err"), "w")
        self.process = subprocess.Popen(
            [boxsim, "--pty-link", self.link, "--report", self.report_path, "--speed", "20",
             "--autostart-ms", "0", "--verbose"] + list(extra),
            stdout=subprocess.DEVNULL, stderr=self.log)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.link):
            if time.monotonic() > deadline or self.process.poll() is not None:
                fail("the simulated box made no pty")
            time.sleep(0.05)
        com = os.path.join(prefix, "dosdevices", COM.lower())
        if os.path.lexists(com):
            os.remove(com)
        os.symlink(os.path.realpath(self.link), com)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()

    def report(self):
        with open(self.report_path) as f:
            return json.load(f)


def check_flashed(box, digests, box_ip):
    """Every partition the box flashed equals the image's; the three a box needs are there."""
    report = box.report()
    partitions = report.get("partitions", {})
    for target in NEEDED:
        if target not in partitions:
            fail("the box flashed nothing to %s: %s" % (target, json.dumps(report)))
    for target, got in partitions.items():
        if target not in digests:
            fail("the box flashed %s, which the image does not have" % target)
        size, sha = digests[target]
        if got.get("size") != size or got.get("sha256") != sha:
            fail("%s: the box flashed %s bytes (%s), the image has %d (%s)"
                 % (target, got.get("size"), got.get("sha256"), size, sha))
        print("flashed %s: %d bytes, SHA-256 equal to the image's" % (target, size), flush=True)
    if report.get("ip") != box_ip:
        fail("the box was given the address %s, not %s" % (report.get("ip"), box_ip))


def partition_files_left(prefix):
    """The partition files the programs unpack live in the user's local application data."""
    users = os.path.join(prefix, "drive_c", "users")
    left = []
    for dirpath, _, files in os.walk(users):
        if dirpath.endswith(os.path.join("zevavi", "ky_tmp")):
            left += [os.path.join(dirpath, f) for f in files]
    return left


def install(args, prefix):
    target = installed_dir(prefix)
    if os.path.isdir(target):
        shutil.rmtree(target)
    result = wine(prefix, args.installer, ["/S"])
    if result.returncode != 0:
        fail("the silent install ended with %d" % result.returncode)
    for name in ("ZeVavi.exe", "zevavi-flash.exe", "zevavi-station.exe", "zevavi-term.exe", "zevavi-skin.exe", "KyUnzip179.dll",
                 os.path.join("platforms", "qwindows.dll")):
        if not os.path.isfile(os.path.join(target, name)):
            fail("the install has no %s" % name)
    print("installed into %s" % INSTALLED, flush=True)


def window(args, prefix, work):
    image, digests = make_image(work)
    pc = pc_address()
    box_ip = box_address(pc)
    # The driver runs beside ZeVavi.exe, on the installed Qt, plugin and unzip library.
    driver = os.path.join(installed_dir(prefix), os.path.basename(args.windrive))
    shutil.copy(args.windrive, driver)
    artifacts = os.path.join(args.build, "artifacts")
    os.makedirs(artifacts, exist_ok=True)
    box = Box(args.boxsim, work, prefix)
    try:
        result = wine(prefix, driver, [COM, MODEL, box_ip, windows_path(image),
                                       windows_path(os.path.join(artifacts, "windows-zevavi")), "240"],
                      display=True, capture_output=True, text=True)
    finally:
        box.stop()
        os.remove(driver)
    print(result.stdout, flush=True)
    print(result.stderr, file=sys.stderr, flush=True)
    if result.returncode != 0:
        fail("the window's upgrade ended with %d" % result.returncode)
    for page in ("input", "status"):
        picture = os.path.join(artifacts, "windows-zevavi-%s.png" % page)
        if not os.path.isfile(picture) or os.path.getsize(picture) == 0:
            fail("no picture of the %s page" % page)
    check_flashed(box, digests, box_ip)
    left = partition_files_left(prefix)
    if left:
        fail("partition files left behind: %s" % left)


def flash(args, prefix, work, lost):
    image, digests = make_image(work)
    pc = pc_address()
    box_ip = box_address(pc)
    program = INSTALLED + "\\zevavi-flash.exe"
    box = Box(args.boxsim, work, prefix, ["--vanish-at", "flash0.kernel"] if lost else [])
    try:
        result = wine(prefix, program, ["--port", COM, "--model", MODEL, "--box", box_ip, "--json",
                                        "--timeout", "120", windows_path(image)],
                      capture_output=True, text=True)
    finally:
        box.stop()
    print(result.stdout, flush=True)
    print(result.stderr, file=sys.stderr, flush=True)
    events = []
    for line in result.stdout.splitlines():
        try:
            events.append(json.loads(line))
        except ValueError:
            fail("not a JSON object: %r" % line)
    if not events:
        fail("zevavi-flash.exe printed no event")
    last = events[-1]
    want = 5 if lost else 0
    if result.returncode != want:
        fail("zevavi-flash.exe ended with %d, not %d" % (result.returncode, want))
    if last.get("exit") != want:
        fail("the last event does not say exit %d: %s" % (want, last))
    if lost:
        statuses = [e.get("text", "") for e in events if e.get("type") == "status"]
        if not any("Lost the connection to" in text for text in statuses):
            fail("no status line says the line was lost: %s" % statuses)
        if "flash0.avail0" in result.stdout or "flash0.avail0" in box.report().get("partitions", {}):
            fail("the root image was flashed after the line was lost")
    else:
        check_flashed(box, digests, box_ip)
    left = partition_files_left(prefix)
    if left:
        fail("partition files left behind: %s" % left)


def window_appears(args):
    """Starts a Windows program on an X server of its own and waits for its top-level window to
    be shown; a picture of the screen is kept, then the program is ended."""
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.abspath(args.build), "wineprefix")
    program = args.program
    name = program.replace("\\", "/").rsplit("/", 1)[-1]
    title = os.path.splitext(name)[0]  # names the picture
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    display = ":" + xvfb.stdout.readline().strip()
    env = dict(os.environ, WINEPREFIX=prefix, DISPLAY=display, ZV_WINE_DISPLAY="1", ZV_WINE_TIMEOUT="120")
    started = subprocess.Popen([WINE_RUN, program], env=env)
    shown = False
    try:
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and started.poll() is None:
            tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                                  capture_output=True, text=True).stdout
            # A titled window of the program's own (Wine names the X class after the .exe),
            # not its hidden helpers.
            for line in tree.splitlines():
                found = re.match(r'\s*0x[0-9a-f]+ "[^"]+": \("([^"]*)".*?\s(\d+)x(\d+)[+-]', line)
                if found and found.group(1) == name.lower() and int(found.group(2)) > 100 \
                        and int(found.group(3)) > 100:
                    shown = True
            if shown:
                break
            time.sleep(0.2)
        if shown:
            artifacts = os.path.join(os.path.abspath(args.build), "artifacts")
            os.makedirs(artifacts, exist_ok=True)
            picture = os.path.join(artifacts, "windows-%s-started.png" % title.lower())
            # Mapped comes before painted: the picture counts once the screen holds more than
            # the empty root's one colour.
            painted = False
            while not painted and time.monotonic() < deadline:
                subprocess.run(["import", "-display", display, "-window", "root", picture], check=False)
                colours = subprocess.run(["identify", "-format", "%k", picture], capture_output=True,
                                         text=True).stdout.strip()
                painted = colours.isdigit() and int(colours) > 16
                if not painted:
                    time.sleep(0.2)
            shown = painted
            print("%s shows its window%s; picture %s" % (name, "" if painted else " but never painted it",
                                                         picture), flush=True)
    finally:
        subprocess.run([os.path.join(os.path.dirname(shutil.which("wine64") or "/usr/lib/wine/wine64"),
                                     "wineserver"), "-k"], env=env, check=False)
        try:
            started.wait(60)
        except subprocess.TimeoutExpired:
            started.kill()
        xvfb.terminate()
        xvfb.wait()
    if not shown:
        fail("%s showed no window within 120 s" % name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["install", "window", "flash", "flash-lost", "window-appears"])
    parser.add_argument("--build", required=True)
    parser.add_argument("--installer")
    parser.add_argument("--windrive")
    parser.add_argument("--boxsim")
    parser.add_argument("program", nargs="?")
    args = parser.parse_intermixed_args()
    prefix = os.path.join(os.path.abspath(args.build), "wineprefix")
    if args.what == "window-appears":
        window_appears(args)
        return
    if args.what == "install":
        install(args, prefix)
        print("1 passed, 0 failed", flush=True)
        return
    if not os.environ.get("ZEVAVI_IN_NETNS"):
        os.execv(NETNS_RUN, [NETNS_RUN, sys.executable] + sys.argv)
    work = tempfile.mkdtemp(prefix="zevavi-wine-")
    try:
        if args.what == "window":
            window(args, prefix, work)
        else:
            flash(args, prefix, work, args.what == "flash-lost")
    except SystemExit:
        # What the box heard and said, for a failure seen only on another machine.
        trace = os.path.join(work, "box.err")
        if os.path.exists(trace):
            with open(trace, errors="replace") as f:
                print("the box's last trace lines:\n" + "".join(f.readlines()[-40:]), flush=True)
        log = os.path.join(installed_dir(prefix), "zevavi.log")
        if args.what != "window" and os.path.exists(log):
            with open(log, errors="replace") as f:
                lines = [line for line in f if line.startswith(("[", "\t"))]
            print("zevavi-flash.exe's last log entries:\n" + "".join(lines[-40:]), flush=True)
        print("kept for a look: %s" % work, flush=True)
        raise
    shutil.rmtree(work)
    print("1 passed, 0 failed", flush=True)


if __name__ == "__main__":
    main()

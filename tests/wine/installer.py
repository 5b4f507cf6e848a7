#!/usr/bin/env python3
"""The Windows installer, installed and uninstalled silently in a Wine prefix of its own.

    installer.py [--version VERSION] [--gui-check COMMAND] WINE_RUN INSTALLER_EXE DEPLOY_DIR

DEPLOY_DIR is the folder the installer was built from: every file of it must land in the
install folder byte for byte. The run, in a fresh prefix that is removed at the end:

 1. /S into the default folder: the files, the Start-menu shortcuts and what they point at,
    the uninstall key in the 64-bit registry, the firewall rules, zevavi-flash.exe --help
    from the install folder, and ZeVavi.exe through --gui-check when given.
 2. The uninstall key's QuietUninstallString, with the program's logs beside it: the folder,
    the shortcuts, the key go; the firewall rules are deleted.
 3. With netsh unable to start (a firewall that cannot be changed), /S /D= into a folder that
    already holds a user's file.
 4. /S again, over that installation: the registered folder is offered again, and the
    installation there is replaced, not piled on.
 5. Uninstalled again: only the user's file is left.

Wine has no firewall; its process trace (WINEDEBUG=+process) shows which netsh commands the
installer and the uninstaller ran. COMMAND is split like a shell line and gets the Windows
path of the installed ZeVavi.exe as its last argument and WINEPREFIX in its environment;
exit 0 means the program started.
"""
import argparse
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time

RUN_BOUND_S = 420  # one wine-run: its own 300 s bound and the wineserver's exit
GONE_BOUND_S = 60  # a silent uninstall's copy in %TEMP% finishing the work
DEFAULT_DIR = r"C:\Program Files\ZeVavi"
CHOSEN_DIR = r"C:\Tools\ZeVavi"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\ZeVavi"
MENU_DIR = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\ZeVavi"
SHORTCUTS = {"ZeVavi.lnk": "ZeVavi.exe", "ZeVavi station.lnk": "zevavi-station.exe",
             "ZeVavi serial console.lnk": "zevavi-term.exe",
             "Uninstall ZeVavi.lnk": "uninstall.exe"}
RUNTIME_LOGS = ("zevavi.log",) + tuple(f"zevavi.log.{n}" for n in range(1, 6))
USER_FILE = "notes.txt"
USER_TEXT = b"the technician's own notes\r\n"
FIREWALL_PROGRAMS = ("ZeVavi.exe", "zevavi-flash.exe", "zevavi-station.exe")


class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, ok, text, detail=""):
        if ok:
            self.passed += 1
            print("ok: " + text, flush=True)
        else:
            self.failed += 1
            print("FAIL: " + text + (" (" + detail + ")" if detail else ""), flush=True)
        return ok

    def skip(self, text):
        self.skipped += 1
        print("SKIP: " + text, flush=True)


class Prefix:
    def __init__(self, wine_run, root):
        self.wine_run = wine_run
        self.path = os.path.join(root, "prefix")
        self.cwd = root

    def linux(self, windows_path):
        drive, _, rest = windows_path.partition(":")
        assert drive.upper() == "C", windows_path
        return os.path.join(self.path, "drive_c", *[p for p in rest.split("\\") if p])

    def run(self, args, trace=False):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="+process" if trace else "-all")
        try:
            return subprocess.run([self.wine_run] + args, cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, errors="replace", timeout=RUN_BOUND_S)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(args, "timeout", "", "")

    def stop_server(self):
        # Only after a run that timed out can this prefix's server still be up.
        wine = shutil.which("wine64") or "/usr/lib/wine/wine64"
        server = os.path.join(os.path.dirname(wine), "wineserver")
        if os.path.isdir(self.path) and os.path.exists(server):
            subprocess.run([server, "-k"], env=dict(os.environ, WINEPREFIX=self.path), timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def netsh_commands(trace):
    """The arguments of each netsh the trace shows started, in order."""
    commands = []
    for quoted in re.findall(r'CreateProcessInternalW app \(null\) cmdline L"((?:[^"\\]|\\.)*)"', trace):
        line = re.sub(r"\\(.)", r"\1", quoted)
        m = re.match(r'"([^"]*)"\s*(.*)$', line)
        if m and m.group(1).lower().endswith("\\netsh.exe"):
            commands.append(m.group(2))
    return commands


def rule_name(program):
    return "ZeVavi TFTP (%s)" % program


def delete_rules():
    return ['advfirewall firewall delete rule name="%s"' % rule_name(p) for p in FIREWALL_PROGRAMS]


def add_rules(instdir):
    # Each rule is deleted by name first so that a reinstall does not add a second one.
    commands = []
    for program in FIREWALL_PROGRAMS:
        commands.append('advfirewall firewall delete rule name="%s"' % rule_name(program))
        commands.append('advfirewall firewall add rule name="%s" dir=in action=allow protocol=UDP localport=69 '
                        'program="%s\\%s" enable=yes' % (rule_name(program), instdir, program))
    return commands


def read_uninstall_key(prefix):
    """The values of the uninstall key in the prefix's 64-bit HKLM, or None."""
    with open(os.path.join(prefix.path, "system.reg"), encoding="utf-8", errors="replace") as f:
        text = f.read()
    header = "[" + UNINSTALL_KEY.replace("\\", "\\\\") + "]"
    values = None
    for line in text.splitlines():
        if line.startswith("["):
            if values is not None:
                break
            if line.lower().startswith(header.lower()):
                values = {}
            continue
        if values is None:
            continue
        m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not m:
            continue
        name, data = re.sub(r"\\(.)", r"\1", m.group(1)), m.group(2)
        if data.startswith('"') and data.endswith('"'):
            values[name] = re.sub(r"\\(.)", r"\1", data[1:-1])
        elif data.startswith("dword:"):
            values[name] = int(data[6:], 16)
        else:
            values[name] = data
    return values


def shortcut_target(path):
    """The local path a .lnk file points at (its LinkInfo's LocalBasePath)."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # a target ID list comes first
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if not flags & 0x2:
        return None
    base = at + struct.unpack_from("<I", data, at + 16)[0]
    return data[base:data.index(b"\0", base)].decode("latin-1")


def tree(root):
    """Relative paths of every file and every folder under root."""
    files, dirs = set(), set()
    for here, subdirs, names in os.walk(root):
        rel = os.path.relpath(here, root)
        for d in subdirs:
            dirs.add(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            files.add(os.path.normpath(os.path.join(rel, n)))
    return files, dirs


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def wait_until(condition):
    deadline = time.monotonic() + GONE_BOUND_S
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


def check_installed(report, prefix, deploy, instdir, version, extra=()):
    where = prefix.linux(instdir)
    want_files, want_dirs = tree(deploy)
    if not report.check(os.path.isdir(where), "%s exists" % instdir):
        return
    have_files, have_dirs = tree(where)
    missing = sorted(want_files - have_files)
    report.check(not missing, "every deployed file is in %s" % instdir, "missing: " + ", ".join(missing[:10]))
    differ = sorted(f for f in want_files & have_files
                    if not same_bytes(os.path.join(deploy, f), os.path.join(where, f)))
    report.check(not differ, "the installed files equal the deployed ones", "differ: " + ", ".join(differ[:10]))
    report.check(want_dirs <= have_dirs, "every deployed folder is there",
                 "missing: " + ", ".join(sorted(want_dirs - have_dirs)))
    unexpected = sorted(have_files - want_files - {"uninstall.exe"} - set(extra))
    report.check(not unexpected, "nothing else is installed", "also: " + ", ".join(unexpected[:10]))
    report.check("uninstall.exe" in have_files, "the uninstaller is in %s" % instdir)

    menu = prefix.linux(MENU_DIR)
    for name, program in SHORTCUTS.items():
        path = os.path.join(menu, name)
        if report.check(os.path.isfile(path), "Start-menu entry %s" % name):
            target = shortcut_target(path)
            want = instdir + "\\" + program
            report.check(target is not None and target.lower() == want.lower(),
                         "%s points at %s" % (name, want), "it points at %s" % target)

    key = read_uninstall_key(prefix)
    if not report.check(key is not None, "the uninstall key is in the 64-bit HKLM"):
        return
    total = sum(os.path.getsize(os.path.join(deploy, f)) for f in want_files)
    expect = {
        "DisplayName": "ZeVavi",
        "Publisher": "ZeVavi",
        "InstallLocation": instdir,
        "UninstallString": '"%s\\uninstall.exe"' % instdir,
        "QuietUninstallString": '"%s\\uninstall.exe" /S' % instdir,
        "DisplayIcon": instdir + "\\ZeVavi.exe,0",
        "NoModify": 1,
        "NoRepair": 1,
    }
    if version:
        expect["DisplayVersion"] = version
    for name, want in expect.items():
        report.check(key.get(name) == want, "the key's %s is %r" % (name, want), "it is %r" % key.get(name))
    report.check(bool(key.get("DisplayVersion")), "the key has a DisplayVersion")
    size = key.get("EstimatedSize")
    report.check(isinstance(size, int) and total <= size * 1024 < total + 1024 * 1024,
                 "the key's EstimatedSize covers the %d bytes installed" % total, "it is %r KiB" % size)


def check_netsh(report, trace, want, when):
    got = netsh_commands(trace)
    report.check(got == want, "netsh commands %s" % when,
                 "ran:\n  " + "\n  ".join(got) + "\nwanted:\n  " + "\n  ".join(want))


def uninstall(report, prefix, instdir, remaining):
    """Runs the registered quiet uninstall and waits for instdir to hold only `remaining`."""
    key = read_uninstall_key(prefix) or {}
    command = key.get("QuietUninstallString", '"%s\\uninstall.exe" /S' % instdir)
    m = re.match(r'"([^"]+)"\s*(.*)$', command)
    program, args = (m.group(1), m.group(2).split()) if m else (command, [])
    result = prefix.run([program] + args, trace=True)
    report.check(result.returncode == 0, "the silent uninstall %s ends with 0" % instdir,
                 "it ended with %s" % result.returncode)
    where = prefix.linux(instdir)

    def left():
        if not os.path.isdir(where):
            return None
        files, dirs = tree(where)
        return files | dirs

    if remaining:
        gone = wait_until(lambda: left() == set(remaining))
        report.check(gone, "only %s is left in %s" % (", ".join(remaining), instdir), "left: %s" % left())
    else:
        gone = wait_until(lambda: left() is None)
        report.check(gone, "%s is gone" % instdir, "left: %s" % sorted(left() or [])[:10])
    report.check(not os.path.exists(prefix.linux(MENU_DIR)), "the Start-menu folder is gone")
    report.check(read_uninstall_key(prefix) is None, "the uninstall key is gone")
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", help="the VERSION the installer was built with")
    parser.add_argument("--gui-check", help="a command that checks ZeVavi.exe starts in the prefix")
    parser.add_argument("wine_run")
    parser.add_argument("installer")
    parser.add_argument("deploy")
    args = parser.parse_args()
    wine_run = os.path.abspath(args.wine_run)
    installer = os.path.abspath(args.installer)
    deploy = os.path.abspath(args.deploy)
    for path in (wine_run, installer):
        if not os.path.isfile(path):
            print("FAIL: no file %s" % path)
            return 1
    if not os.path.isdir(deploy):
        print("FAIL: no folder %s" % deploy)
        return 1

    report = Report()
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="zevavi-installer-")
    prefix = Prefix(wine_run, root)
    try:
        # 1. The default install.
        result = prefix.run([installer, "/S"], trace=True)
        report.check(result.returncode == 0, "the silent install ends with 0", "it ended with %s" % result.returncode)
        check_installed(report, prefix, deploy, DEFAULT_DIR, args.version)
        check_netsh(report, result.stderr, add_rules(DEFAULT_DIR), "of the install")

        flash = prefix.run([DEFAULT_DIR + "\\zevavi-flash.exe", "--help"])
        report.check(flash.returncode == 0 and "Usage: zevavi-flash" in flash.stdout,
                     "the installed zevavi-flash.exe --help prints its usage and ends with 0",
                     "exit %s, output %r" % (flash.returncode, (flash.stdout + flash.stderr)[:300]))
        if args.gui_check:
            gui = subprocess.run(shlex.split(args.gui_check) + [DEFAULT_DIR + "\\ZeVavi.exe"], cwd=root,
                                 env=dict(os.environ, WINEPREFIX=prefix.path), timeout=RUN_BOUND_S)
            report.check(gui.returncode == 0, "the installed ZeVavi.exe starts",
                         "the check ended with %s" % gui.returncode)
        else:
            report.skip("the installed ZeVavi.exe starting (no --gui-check)")

        # 2. The program's logs beside it go with it.
        for name in RUNTIME_LOGS:
            with open(os.path.join(prefix.linux(DEFAULT_DIR), name), "w") as f:
                f.write("a run\n")
        result = uninstall(report, prefix, DEFAULT_DIR, ())
        check_netsh(report, result.stderr, delete_rules(), "of the uninstall")

        # 3. A folder of the user's choice, with netsh gone.
        netsh = os.path.join(prefix.path, "drive_c", "windows", "system32", "netsh.exe")
        if os.path.exists(netsh):
            os.remove(netsh)
        chosen = prefix.linux(CHOSEN_DIR)
        os.makedirs(chosen)
        with open(os.path.join(chosen, USER_FILE), "wb") as f:
            f.write(USER_TEXT)
        result = prefix.run([installer, "/S", "/D=" + CHOSEN_DIR], trace=True)
        report.check(result.returncode == 0, "with netsh failing, the silent install into %s ends with 0" % CHOSEN_DIR,
                     "it ended with %s" % result.returncode)
        check_installed(report, prefix, deploy, CHOSEN_DIR, args.version, extra=(USER_FILE,))
        check_netsh(report, result.stderr, add_rules(CHOSEN_DIR), "tried by the install into %s" % CHOSEN_DIR)

        # 4. Installed again over itself.
        for name in RUNTIME_LOGS:
            with open(os.path.join(chosen, name), "w") as f:
                f.write("a run\n")
        result = prefix.run([installer, "/S"], trace=True)
        report.check(result.returncode == 0, "the silent reinstall ends with 0", "it ended with %s" % result.returncode)
        report.check(not os.path.exists(prefix.linux(DEFAULT_DIR)), "the reinstall went to the registered folder")
        check_installed(report, prefix, deploy, CHOSEN_DIR, args.version, extra=(USER_FILE,))
        leftover = [n for n in RUNTIME_LOGS if os.path.exists(os.path.join(chosen, n))]
        report.check(not leftover, "the reinstall first removed the installation it replaces", "left: %s" % leftover)
        check_netsh(report, result.stderr, delete_rules() + add_rules(CHOSEN_DIR), "of the reinstall")

        # 5. The user's file stays.
        uninstall(report, prefix, CHOSEN_DIR, (USER_FILE,))
        user_file = os.path.join(chosen, USER_FILE)
        report.check(os.path.isfile(user_file) and open(user_file, "rb").read() == USER_TEXT,
                     "the user's %s is untouched" % USER_FILE)
    finally:
        prefix.stop_server()
        shutil.rmtree(root, ignore_errors=True)
    print("installer checks took %.0f s" % (time.monotonic() - started))
    line = "%d passed, %d failed" % (report.passed, report.failed)
    if report.skipped:
        line += ", %d skipped" % report.skipped
    print(line, flush=True)
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())

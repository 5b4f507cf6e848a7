#!/usr/bin/env python3
"""The serial backend of the Windows build through Wine's COM port mapping.

A pty stands for the cable: its slave end becomes COM5 of the Wine prefix (a dosdevices
link) and this script plays the far end on the master. The Windows program comm_check
reports each step on its standard output; the script answers and checks:
115200 8N1 on the line, bytes both ways intact (on the bare device and through the port
component), a second open refused, and the far end's going reported as the device gone.

    serial_com5.py WINE_RUN COMM_CHECK_EXE
"""
import os
import select
import subprocess
import sys
import termios
import threading
import tty

SEND = 20000     # program -> far end
RECEIVE = 50000  # far end -> program
BOUND_S = 60     # any single step; only a broken run waits this long
COMPONENT_LINE = b"through the component\r\n"


def sent_byte(i):
    return (i * 7 + 3) & 0xFF


def received_byte(i):
    return (i * 13 + 5) & 0xFF


def fail(text):
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def read_exactly(fd, count):
    data = bytearray()
    while len(data) < count:
        ready, _, _ = select.select([fd], [], [], BOUND_S)
        if not ready:
            fail("the far end got %d of %d bytes" % (len(data), count))
        data += os.read(fd, count - len(data))
    return bytes(data)


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(os.path.dirname(exe)), "wineprefix")
    master, slave = os.openpty()
    tty.setraw(master)
    dosdevices = os.path.join(prefix, "dosdevices")
    # The prefix is made on first use; the link can only go in once it exists.
    subprocess.run([wine_run, exe, "--make-prefix"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    link = os.path.join(dosdevices, "com5")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    child = subprocess.Popen([wine_run, exe, "COM5", str(SEND), str(RECEIVE)], stdout=subprocess.PIPE,
                             stdin=subprocess.DEVNULL, text=True)
    report = {}
    # Reading the program's lines blocks: a hung run is ended from here.
    watchdog = threading.Timer(3 * BOUND_S, child.kill)
    watchdog.start()
    try:
        for line in child.stdout:
            line = line.strip()
            print("program: " + line, flush=True)
            word = line.split(" ")[0]
            report[word] = line
            if word == "FAIL":
                fail("the program reported a failure")
            if word == "OPEN":
                attrs = termios.tcgetattr(master)
                cflag, ispeed, ospeed = attrs[2], attrs[4], attrs[5]
                line_ok = (ispeed == ospeed == termios.B115200 and cflag & termios.CSIZE == termios.CS8
                           and not cflag & termios.PARENB and not cflag & termios.CSTOPB)
                if not line_ok:
                    fail("the line is not 115200 8N1 (cflag %o, speeds %d/%d)" % (cflag, ispeed, ospeed))
            if word == "EXCLUSIVE":
                # The program is writing now; a pty holds only a few kilobytes.
                data = read_exactly(master, SEND)
                bad = [i for i in range(SEND) if data[i] != sent_byte(i)]
                if bad:
                    fail("byte %d from the program differs" % bad[0])
                print("far end: received %d bytes, all as sent; line 115200 8N1" % len(data), flush=True)
            if word == "SENT":
                os.write(master, bytes(received_byte(i) for i in range(RECEIVE)))
                print("far end: sent %d bytes" % RECEIVE, flush=True)
            if word == "COMPONENT-OPEN":
                text = read_exactly(master, len(COMPONENT_LINE))
                if text != COMPONENT_LINE:
                    fail("the component wrote %r" % text)
                print("far end: the component's line came whole", flush=True)
                os.write(master, bytes(received_byte(i) for i in range(RECEIVE)))
                print("far end: sent %d bytes to the component" % RECEIVE, flush=True)
            if word == "AWAIT-GONE":
                os.close(master)
                os.close(slave)
                master = slave = -1
                os.remove(link)
        rc = child.wait(timeout=BOUND_S)
    finally:
        watchdog.cancel()
        if child.poll() is None:
            child.kill()
        if os.path.lexists(link):
            os.remove(link)
    expect = {
        "EXCLUSIVE": "EXCLUSIVE 5",
        "SENT": "SENT %d" % SEND,
        "GONE": "GONE 1167 the device is not connected",
    }
    for word, want in expect.items():
        if report.get(word) != want:
            fail("expected '%s', the program said '%s'" % (want, report.get(word)))
    if not report.get("RECEIVED", "").startswith("RECEIVED %d " % RECEIVE):
        fail("the program did not receive %d bytes" % RECEIVE)
    if report.get("COMPONENT-RECEIVED") != "COMPONENT-RECEIVED %d" % RECEIVE:
        fail("the port component did not receive %d bytes" % RECEIVE)
    if rc != 0:
        fail("the program ended with %d" % rc)
    print("serial through COM5: %d bytes out, %d bytes in; the port component %d bytes out, %d in; "
          "second open refused (5), far end gone (1167)" % (SEND, RECEIVE, len(COMPONENT_LINE), RECEIVE), flush=True)


if __name__ == "__main__":
    main()

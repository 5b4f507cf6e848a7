#!/usr/bin/env python3
"""The TFTP server of the Windows build, under Wine, serving Linux's tftp-hpa client over
loopback: the fetched file's SHA-256 must equal the source's, and the server must report
the transfer complete with every byte acknowledged. A size of whole blocks (ended by an
empty block) and one of a part block.

    tftp_hpa.py WINE_RUN TFTP_SERVE_EXE
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import threading

SIZES = [1500001, 512 * 2048]
BOUND_S = 120


def fail(text):
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def sample(size):
    block = hashlib.sha256(b"zevavi").digest() * 64
    data = bytearray()
    counter = 0
    while len(data) < size:
        data += hashlib.sha256(block + counter.to_bytes(4, "little")).digest() * 32
        counter += 1
    return bytes(data[:size])


def serve_once(wine_run, exe, folder, size):
    name = "image-%d.bin" % size
    source = os.path.join(folder, name)
    data = sample(size)
    with open(source, "wb") as f:
        f.write(data)
    child = subprocess.Popen([wine_run, exe, source], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    watchdog = threading.Timer(BOUND_S, child.kill)
    watchdog.start()
    try:
        first = child.stdout.readline().split()
        if len(first) != 2 or first[0] != "PORT":
            fail("the server did not say its port: %s" % first)
        port = first[1]
        fetched = os.path.join(folder, "fetched-%d.bin" % size)
        subprocess.run(["tftp", "-m", "binary", "127.0.0.1", port, "-c", "get", name, fetched], check=True,
                       timeout=BOUND_S, stdout=subprocess.DEVNULL)
        last = child.stdout.readline().split()
        rc = child.wait(timeout=BOUND_S)
    finally:
        watchdog.cancel()
        if child.poll() is None:
            child.kill()
    want = hashlib.sha256(data).hexdigest()
    with open(fetched, "rb") as f:
        got = hashlib.sha256(f.read()).hexdigest()
    print("tftp-hpa fetched %d bytes from the Windows server: sha256 %s (source %s)" % (
        os.path.getsize(fetched), got, want), flush=True)
    if got != want:
        fail("the fetched file differs from the source")
    if last != ["RESULT", "1", "BYTES", str(size)] or rc != 0:
        fail("the server reported %s (exit %d)" % (" ".join(last), rc))


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    subprocess.run([wine_run, exe, "--make-prefix"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    with tempfile.TemporaryDirectory(prefix="zv-wine-tftp-") as folder:
        for size in SIZES:
            serve_once(wine_run, exe, folder, size)


if __name__ == "__main__":
    main()

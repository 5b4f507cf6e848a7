#!/usr/bin/env python3
"""The unzip library of the Windows build (KyUnzip179.dll, under Wine) against the Linux one
(KyUnzip179.so) on the same archives: every callback, the result and the written tree
must be the same, archive by archive.

    unzip_same.py WINE_RUN WINDOWS_UNZIP_REPORT_EXE LINUX_UNZIP_REPORT
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

BOUND_S = 120


def fail(text):
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def sample(size, seed):
    return bytes((i * seed + (i >> 7)) & 0xFF for i in range(size))


def make_archives(folder):
    """(name, password) of each archive made in folder."""
    src = os.path.join(folder, "src")
    os.makedirs(os.path.join(src, "sub", "deeper"))
    files = {
        "kernel.bin": sample(300001, 31),
        "empty.txt": b"",
        "sub/readme.txt": b"line one\r\nline two\n" * 50,
        "sub/deeper/zeros.bin": bytes(200000),
    }
    for rel, data in files.items():
        with open(os.path.join(src, rel), "wb") as f:
            f.write(data)
    made = []

    def info_zip(name, *args):
        subprocess.run(["zip", "-q", "-r", os.path.join(folder, name), *args, "."], cwd=src, check=True,
                       timeout=BOUND_S)

    info_zip("plain.zip")  # deflated, with folder entries
    info_zip("stored.zip", "-0")
    info_zip("secret.zip", "-P", "s3cret")
    made += [("plain.zip", ""), ("stored.zip", ""), ("secret.zip", "s3cret"), ("secret.zip", "wrong")]

    with zipfile.ZipFile(os.path.join(folder, "names.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("good.txt", b"fine")
        z.writestr("../escape.txt", b"must not leave the folder")
        z.writestr("/absolute.txt", b"nor be written at the root")
    made.append(("names.zip", ""))

    plain = open(os.path.join(folder, "plain.zip"), "rb").read()
    with open(os.path.join(folder, "truncated.zip"), "wb") as f:
        f.write(plain[: len(plain) // 2])
    made.append(("truncated.zip", ""))

    with zipfile.ZipFile(os.path.join(folder, "crc.zip"), "w", zipfile.ZIP_STORED) as z:
        z.writestr("payload.bin", sample(5000, 7))
    crc = bytearray(open(os.path.join(folder, "crc.zip"), "rb").read())
    crc[30 + len("payload.bin") + 100] ^= 0xFF  # a byte inside the stored data
    with open(os.path.join(folder, "crc.zip"), "wb") as f:
        f.write(crc)
    made.append(("crc.zip", ""))

    with open(os.path.join(folder, "notazip.zip"), "wb") as f:
        f.write(b"this is no archive at all" * 10)
    made.append(("notazip.zip", ""))
    return made


def report(command, out):
    if os.path.exists(out):
        shutil.rmtree(out)
    done = subprocess.run(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=BOUND_S)
    if done.returncode != 0:
        fail("%s ended with %d" % (" ".join(command), done.returncode))
    return done.stdout.decode("latin-1").replace("\r\n", "\n")


def main():
    wine_run, windows_exe, linux_exe = sys.argv[1], sys.argv[2], sys.argv[3]
    subprocess.run([wine_run, windows_exe, "--make-prefix"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=300)
    with tempfile.TemporaryDirectory(prefix="zv-wine-unzip-") as folder:
        failures = 0
        for name, password in make_archives(folder):
            archive = os.path.join(folder, name)
            extra = [password] if password else []
            linux = report([linux_exe, archive, os.path.join(folder, "out-linux"), *extra],
                           os.path.join(folder, "out-linux"))
            windows = report([wine_run, windows_exe, archive, os.path.join(folder, "out-windows"), *extra],
                             os.path.join(folder, "out-windows"))
            result = [l for l in linux.splitlines() if l.startswith("result ")]
            files = [l for l in linux.splitlines() if l.startswith("file ")]
            label = name + (" (password %s)" % password if password else "")
            if linux != windows:
                failures += 1
                print("DIFFERENT %s\n--- Linux\n%s--- Windows\n%s" % (label, linux, windows), flush=True)
            else:
                print("same on both: %s, %s, %d files written, %d report lines" % (
                    label, result[0] if result else "no result", len(files), len(linux.splitlines())), flush=True)
        if failures:
            fail("%d archives gave different results" % failures)


if __name__ == "__main__":
    main()

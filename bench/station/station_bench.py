"""Times zevavi-flash --station over N simulated boxes; see run.sh."""
import json
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1]
NS = [int(n) for n in os.environ.get("NS", "1 4 8 16").split()]
REPS = int(os.environ.get("REPS", "3"))
BLOCK_DELAY_US = int(os.environ.get("BLOCK_DELAY_US", "1000"))
# The wall-time goal for the most boxes against one: 1.2 up to 16 boxes, 1.3 beyond.
GOAL = float(os.environ.get("GOAL", "0"))
# Partition sizes: a kernel, a boot and a root file system, small enough for many runs.
SIZES = {"kernel": 1 << 20, "boot": 256 << 10, "root": 2 << 20}


def container(path):
    """An image container: magic, header, flags, then root, boot and kernel records."""
    rng = random.Random(20)
    parts = {name: rng.randbytes(size) for name, size in SIZES.items()}
    with open(path, "wb") as f:
        f.write(b"KXB\0" + struct.pack(">II", 0, 0x0E))
        for name in ("root", "boot", "kernel"):
            f.write(b"\xa0\x50\x30\xa0" + struct.pack(">I", len(parts[name])) + parts[name])


def one_run(work, n, box_args):
    boxes = []
    units = []
    try:
        for i in range(n):
            tty = os.path.join(work, f"tty{i}")
            report = os.path.join(work, f"box{i}.json")
            for stale in (tty, report):
                if os.path.lexists(stale):
                    os.unlink(stale)
            boxes.append(subprocess.Popen(
                [os.path.join(BIN, "boxsim"), "--pty-link", tty, "--report", report] + box_args,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            units += ["--unit", f"{tty}=127.0.0.{20 + i}"]
        deadline = time.monotonic() + 20
        while not all(os.path.exists(os.path.join(work, f"tty{i}")) for i in range(n)):
            if time.monotonic() > deadline:
                raise RuntimeError("the boxes made no ptys")
            time.sleep(0.02)
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
        start = time.monotonic()
        station = subprocess.Popen(
            [os.path.join(BIN, "zevavi-flash"), "--station", "--model", "KESTA", "--pc-address", "127.0.0.1",
             "--log", os.path.join(work, "zevavi.log"), "--timeout", "900",
             "--records", os.path.join(work, "records.sqlite")] + units
            + [os.path.join(work, "img.nfi")],
            stdout=subprocess.DEVNULL, env=env)
        # The station's own CPU time and peak memory, the boxes' not counted.
        _, status, usage = os.wait4(station.pid, 0)
        station.returncode = code = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - start
        cpu = usage.ru_utime + usage.ru_stime
        rss_mib = usage.ru_maxrss / 1024
        if code != 0:
            raise RuntimeError(f"zevavi-flash --station exited {code} with {n} boxes")
        for i in range(n):
            report = json.load(open(os.path.join(work, f"box{i}.json")))
            sizes = {k: v["size"] for k, v in report["partitions"].items()}
            want = {"flash0.kernel": SIZES["kernel"], "flash0.boot": SIZES["boot"], "flash0.avail0": SIZES["root"]}
            if sizes != want:
                raise RuntimeError(f"box {i} flashed {sizes}")
        return wall, cpu, rss_mib
    finally:
        for b in boxes:
            b.terminate()
        for b in boxes:
            b.wait()


def main():
    with tempfile.TemporaryDirectory(prefix="zv_bench_station.") as work:
        container(os.path.join(work, "img.nfi"))
        modes = [
            ("line rate (115200 baud, real flash times)", []),
            (f"line rate + {BLOCK_DELAY_US} us per TFTP block", ["--block-delay-us", str(BLOCK_DELAY_US)]),
        ]
        total = sum(SIZES.values())
        print(f"image: {total / 2**20:.2f} MiB in three partitions; medians of {REPS} runs", flush=True)
        for title, box_args in modes:
            medians, cpus, rsss = {}, {}, {}
            for n in NS:
                runs = [one_run(work, n, box_args) for _ in range(REPS)]
                medians[n] = statistics.median(r[0] for r in runs)
                cpus[n] = statistics.median(r[1] for r in runs)
                rsss[n] = statistics.median(r[2] for r in runs)
                print(f"  [{title}] N={n:2d}: " + " ".join(f"{r[0]:.2f}" for r in runs) + " s", file=sys.stderr,
                      flush=True)
            print(f"\n{title}")
            single = medians.get(1)
            print(f"  {'N':>3} {'wall s':>8} {'/ one':>7} {'N x one s':>10} {'/ N x one':>10}"
                  f" {'CPU s/box':>10} {'peak MiB':>9} {'MiB/box':>8}")
            for n in NS:
                row = f"  {n:3d} {medians[n]:8.2f}"
                if single:
                    row += f" {medians[n] / single:7.2f} {n * single:10.2f} {medians[n] / (n * single):10.2f}"
                # Memory per box: what each box adds to one box's station.
                per_box = (rsss[n] - rsss[1]) / (n - 1) if 1 in rsss and n > 1 else float("nan")
                row += f" {cpus[n] / n:10.3f} {rsss[n]:9.1f} {per_box:8.2f}"
                print(row)
            if single and max(NS) > 1:
                top = max(NS)
                ratio = medians[top] / single
                goal = GOAL if GOAL else (1.2 if top <= 16 else 1.3)
                print(f"  N={top}: {ratio:.2f} x one upgrade (goal <= {goal}): {'met' if ratio <= goal else 'NOT met'}")
            sys.stdout.flush()


main()

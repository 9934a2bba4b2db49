"""Logging benchmark: three simulated USB base stations, one module each at 1 000 packets a
second, logged to CSV by `lyx log` for a minute. Reports packets logged against packets sent,
the CPU share of lyx and the longest time a row waited before it was written.

    /usr/bin/python3 cli/bench/log_bench.py --bin build/release/bin --lib build/release/lib
"""

import argparse
import csv
import glob
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim",
                                "testing"))
from simprocess import Build, Simulator, Workspace, end_process, wait_for  # noqa: E402

SCENARIO = "".join(
    f"station {n} usb channel={n} id=0x00000{n}\n"
    f"module 0x0C000{n} tag={100 + n} channel={n} type=int32 wave=ramp amplitude=1000000 "
    f"period=1000s rate={{rate}} power=off\n" for n in (1, 2, 3))
MODULES = ("0x0C0001", "0x0C0002", "0x0C0003")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rate", type=int, default=1000)
    args = parser.parse_args()
    workspace = Workspace(Build(args.bin, args.lib, ""))
    sim = lyx = None
    try:
        path = workspace.write("scenario.scn", SCENARIO.format(rate=args.rate))
        sim = Simulator(workspace, path, ("--quiet",))
        out = workspace.path("bench-%H%M%S.csv")
        err = open(workspace.path("lyx.err"), "w")
        lyx = subprocess.Popen([os.path.join(args.bin, "lyx"), "log", out], env=workspace.env,
                               stdout=subprocess.DEVNULL, stderr=err)
        wait_for(lambda: "logging to" in open(workspace.path("lyx.err")).read(), timeout=20,
                 what="lyx to listen")
        cpu0, wall0 = cpu_seconds(lyx.pid), time.monotonic()
        for m in MODULES:
            sim.command(f"powerup {m}")
        time.sleep(args.seconds)
        for m in MODULES:
            sim.command(f"powerdown {m}")
        wall = time.monotonic() - wall0
        cpu = cpu_seconds(lyx.pid) - cpu0
        time.sleep(1.0)
        sent = sum(int(sim.command(f"show module {m}").split("packets=")[1].split()[0])
                   for m in MODULES)
        lyx.send_signal(signal.SIGINT)
        lyx.wait(timeout=30)
        err.close()
        rows = 0
        for name in glob.glob(workspace.path("bench-*.csv")):
            with open(name, newline="") as f:
                rows += sum(1 for _ in csv.reader(f)) - 1
        summary = open(workspace.path("lyx.err")).read().strip().splitlines()[-1]
        print(f"lyx log: {len(MODULES)} stations x {args.rate} packets/s for {args.seconds:.0f} s")
        print(f"  packets sent {sent}, rows logged {rows} ({'all' if rows == sent else rows - sent})")
        print(f"  CPU of lyx {100.0 * cpu / wall:.1f} % of one core")
        print(f"  {summary}")
        stats = sim.command("show stats")
        print(f"  simulator: {stats}")
    finally:
        if lyx:
            end_process(lyx)
        if sim:
            sim.stop()
        workspace.remove()


if __name__ == "__main__":
    main()

"""Logging benchmark: three simulated USB base stations, one module each at 1 000 packets a
second, logged to CSV by `lyx log` for a minute. Reports packets logged against packets sent,
the CPU share of lyx and the longest time a row waited before it was written.

    /usr/bin/python3 cli/bench/log_bench.py --bin build/release/bin --lib build/release/lib
"""

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
from three_stations import (MODULES, arguments, packets_sent, scenario,  # noqa: E402
                            send_for)



def main():
    parser = arguments()
    args = parser.parse_args()
    workspace = Workspace(Build(args.bin, args.lib, ""))
    sim = lyx = None
    try:
        path = workspace.write("scenario.scn", scenario(args.rate, not args.report_per_packet))
        sim = Simulator(workspace, path, ("--quiet",))
        out = workspace.path("bench-%H%M%S.csv")
        err = open(workspace.path("lyx.err"), "w")
        lyx = subprocess.Popen([os.path.join(args.bin, "lyx"), "log", out], env=workspace.env,
                               stdout=subprocess.DEVNULL, stderr=err)
        wait_for(lambda: "logging to" in open(workspace.path("lyx.err")).read(), timeout=20,
                 what="lyx to listen")
        cpu = send_for(sim, args.seconds, lyx.pid)
        time.sleep(1.0)
        sent = sum(packets_sent(sim))
        lyx.send_signal(signal.SIGINT)
        lyx.wait(timeout=30)
        err.close()
        rows = 0
        for name in glob.glob(workspace.path("bench-*.csv")):
            with open(name, newline="") as f:
                rows += sum(1 for _ in csv.reader(f)) - 1
        summary, link = open(workspace.path("lyx.err")).read().strip().splitlines()[-2:]
        print(f"lyx log: {len(MODULES)} stations x {args.rate} packets/s for {args.seconds:.0f} s"
              + (", a report per packet" if args.report_per_packet else ""))
        print(f"  packets sent {sent}, rows logged {rows} ({'all' if rows == sent else rows - sent})")
        print(f"  CPU of lyx {cpu:.1f} % of one core")
        print(f"  {summary}")
        print(f"  {link}")
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

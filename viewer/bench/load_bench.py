#!/usr/bin/python3
"""CPU share of the LyxGlance process following one module while three simulated USB base
stations (lyx-basestation-sim, its own process) send 1 000 packets a second each. Run inside
scripts/desktop-session:

    desktop-session -- load_bench.py --bin DIR --lib DIR [--seconds 30]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import desk  # noqa: E402
import pyatspi  # noqa: E402

# Each station hears its own module; with --logging the three modules share one tag, so the
# followed tag brings 3 000 packets a second, every one of them a row of the log.
def scenario(shared_tag):
    return "".join(
        f"station {n} usb channel={n}\n"
        f"module {0x100 + n} tag={1234 if shared_tag else 1000 + n} channel={n} type=float "
        f"wave=sine offset=500 amplitude=20 period=5s rate=1000\n" for n in (1, 2, 3))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return ticks / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--same-tag", action="store_true",
                        help="the three modules share one tag: 3 000 packets a second of it")
    parser.add_argument("--logging", action="store_true",
                        help="log the followed tag (3 000 packets a second) to a CSV file")
    args = parser.parse_args()
    workspace = desk.Workspace(desk.Build(args.bin, args.lib, None))
    scenario_file = workspace.path("load.scn")
    with open(scenario_file, "w") as f:
        f.write(scenario(args.logging or args.same_tag))
    sim = desk.Simulator(workspace, scenario_file, ("--quiet",))
    viewer = None
    try:
        viewer = desk.Viewer(workspace)
        desk.wait_for(lambda: viewer.title().startswith("Lyx Glance - "), timeout=10)
        persec = viewer.wait_find(description="Packets per second", role=pyatspi.ROLE_LABEL)
        log = workspace.path("load.csv")
        if args.logging:
            viewer.start_logging(log)
        time.sleep(2)
        cpu0, wall0 = cpu_seconds(viewer.process.pid), time.monotonic()
        counts = []
        while time.monotonic() - wall0 < args.seconds:
            time.sleep(1)
            counts.append(persec.name)
        cpu1, wall1 = cpu_seconds(viewer.process.pid), time.monotonic()
        share = 100 * (cpu1 - cpu0) / (wall1 - wall0)
        rows = ""
        if args.logging:
            with open(log, "rb") as f:
                logged = f.read().count(b"\r\n") - 1
            rows = f"; {logged} rows logged so far"
        print("LyxGlance following one module, three stations at 1000 packets/s each"
              + (", all of the followed tag" if args.logging or args.same_tag else "")
              + (", logged" if args.logging else ""))
        print(f"  followed: {viewer.title()}; packets per second shown: "
              f"{', '.join(counts[-5:])} (last five seconds){rows}")
        print(f"  CPU of the LyxGlance process: {cpu1 - cpu0:.2f} s in {wall1 - wall0:.1f} s "
              f"= {share:.1f} % of one core")
    finally:
        if viewer:
            viewer.stop()
        sim.stop()
        workspace.remove()


if __name__ == "__main__":
    main()

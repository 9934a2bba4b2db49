#!/usr/bin/python3
"""CPU share of the LyxGlance process with 200 simulated modules sending 15 packets a second
each (3 000 a second, lyx-basestation-sim as its own process): first with the main window
alone, then with the window All modules open and refreshing. Run inside
scripts/desktop-session:

    desktop-session -- modules_bench.py --bin DIR --lib DIR [--seconds 30] [--modules 200]
                                        [--rate 15]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import desk  # noqa: E402
import pyatspi  # noqa: E402


def scenario(modules, rate):
    lines = ["station 1 usb channel=1 id=0x001234"]
    for n in range(modules):
        lines.append(f"module {0x1000 + n} tag={1000 + n} type=float wave=sine "
                     f"offset={100 + n} amplitude=5 period=10s rate={rate}")
    return "\n".join(lines) + "\n"


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


def share(pid, seconds):
    """The process's CPU share (% of one core) over `seconds`."""
    cpu0, wall0 = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    cpu1, wall1 = cpu_seconds(pid), time.monotonic()
    return 100 * (cpu1 - cpu0) / (wall1 - wall0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--modules", type=int, default=200)
    parser.add_argument("--rate", type=float, default=15)
    args = parser.parse_args()
    workspace = desk.Workspace(desk.Build(args.bin, args.lib, None))
    scenario_file = workspace.write("modules.scn", scenario(args.modules, args.rate))
    sim = desk.Simulator(workspace, scenario_file, ("--quiet",))
    viewer = None
    try:
        viewer = desk.Viewer(workspace)
        desk.wait_for(lambda: viewer.title().startswith("Lyx Glance - "), timeout=10)
        time.sleep(3)
        alone = share(viewer.process.pid, args.seconds)

        viewer.click(viewer.wait_find(name="All modules", role=pyatspi.ROLE_PUSH_BUTTON))

        def table():
            for i in range(viewer.app.childCount):
                child = viewer.app.getChildAtIndex(i)
                if child is not None and child.name == "Lyx Glance - All modules":
                    return desk.first(child, pyatspi.ROLE_TABLE, "All modules")
            return None

        t = desk.wait_for(table, timeout=10, what="the window All modules")
        desk.wait_for(lambda: t.queryTable().nRows >= args.modules, timeout=10,
                      what=f"{args.modules} rows")
        time.sleep(2)
        listed = share(viewer.process.pid, args.seconds)

        # Read after measuring: what the list says arrived.
        cells = t.queryTable()
        rate_column = [cells.getColumnDescription(c) for c in range(cells.nColumns)].index(
            "Packets/s")
        total = sum(float(cells.getAccessibleAt(r, rate_column).name)
                    for r in range(cells.nRows))
        print(f"LyxGlance with {args.modules} modules at {args.rate:g} packets/s each "
              f"({args.modules * args.rate:g}/s), {args.seconds:g} s each way")
        print(f"  rows listed: {cells.nRows}; packets a second by the list: {total:.0f}")
        print(f"  CPU of the LyxGlance process, main window only:      {alone:5.1f} % of one core")
        print(f"  CPU of the LyxGlance process, All modules open:      {listed:5.1f} % of one core")
        print(f"  added by the open list:                              {listed - alone:5.1f} %")
    finally:
        if viewer:
            viewer.stop()
        sim.stop()
        workspace.remove()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Start-up time of LyxGlance against the simulator: from process start to the first painted
window (mapped and exposed), and to the base station's channel shown (read through AT-SPI).
Run inside scripts/desktop-session:

    desktop-session -- startup_bench.py --bin DIR --lib DIR --scenarios DIR [--runs N]
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import desk  # noqa: E402
from Xlib import X  # noqa: E402


def wait_painted(pid):
    """Seconds until the process has a viewable top-level window that was drawn on."""
    window = desk.window_of_pid(pid, timeout=30)
    d = desk._x()
    try:
        w = d.create_resource_object("window", window)
        # The window's pixels are no longer all one colour once the controls have painted.
        def drawn():
            geometry = w.get_geometry()
            image = w.get_image(0, 0, geometry.width, min(geometry.height, 200), X.ZPixmap,
                                0xFFFFFFFF)
            return len(set(image.data[i:i + 4] for i in range(0, len(image.data), 4 * 97))) > 3
        desk.wait_for(drawn, timeout=30, interval=0.005, what="the window's first paint")
    finally:
        d.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = desk.Build(args.bin, args.lib, args.scenarios)
    painted, channel = [], []
    for _ in range(args.runs):
        workspace = desk.Workspace(build)
        sim = desk.Simulator(workspace, os.path.join(args.scenarios, "demo.scn"))
        start = time.monotonic()
        process = subprocess.Popen([os.path.join(args.bin, "LyxGlance")], env=workspace.env)
        try:
            wait_painted(process.pid)
            painted.append(time.monotonic() - start)
            viewer = desk.Viewer(workspace, process=process)
            viewer.wait_find(name="RF Channel: 1", timeout=30)
            channel.append(time.monotonic() - start)
        finally:
            desk.end_process(process)
            sim.stop()
            workspace.remove()

    def line(name, values):
        ms = [v * 1000 for v in values]
        print(f"{name:40s} median {statistics.median(ms):7.1f} ms   "
              f"min {min(ms):7.1f}   max {max(ms):7.1f}   ({len(ms)} runs)")
    print("LyxGlance start-up against lyx-basestation-sim (demo.scn)")
    line("process start to first painted window", painted)
    line("process start to channel read (AT-SPI)", channel)


if __name__ == "__main__":
    main()

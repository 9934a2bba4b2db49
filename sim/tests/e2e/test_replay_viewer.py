#!/usr/bin/python3
"""The viewer follows a module that lyx-basestation-sim replays from a recording, end to end:
both as their own processes, the window read through AT-SPI, its Sleep button pressed with the
real pointer; a screenshot goes to the gallery.

    desktop-session -- test_replay_viewer.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
"""

import argparse
import math
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "viewer", "tests", "e2e"))
import desk  # noqa: E402
import pyatspi  # noqa: E402

HEADER = "time,ms,station,tag,value,status,rssi,cv,batt_low,error\n"


def recording(seconds=4, rate=10):
    """A load cell's sine around 20 with a low battery, as lyx log writes it."""
    rows = []
    for i in range(seconds * rate):
        ms = i * 1000 // rate
        value = 20 + 5 * math.sin(2 * math.pi * ms / 2000)
        rows.append(f"2026-12-08T07:05:{ms // 1000:02d}.{ms % 1000:03d}+01:00,{ms},1,1234,"
                    f"{value:.6f},0,-60,100,1,0\n")
    return HEADER + "".join(rows)


class ReplayInTheViewer(desk.ViewerTest):
    def test_the_viewer_follows_a_replayed_module_and_can_put_it_to_sleep(self):
        path = self.workspace.write("load-cell.csv", recording())
        sim = self.start_simulator(None, ("--replay", path, "--loop", "--trace-data"))
        viewer = self.start_viewer()
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=15,
                      what="the replayed module followed")
        display = viewer.wait_find(description="Value", role=pyatspi.ROLE_LABEL)

        def shown():
            try:
                return 15.0 <= float(display.name) <= 25.0
            except ValueError:
                return False
        desk.wait_for(shown, timeout=5, what="a recorded value on the display")
        battery = viewer.wait_find(name="Lo Batt", role=pyatspi.ROLE_CHECK_BOX)
        desk.wait_for(lambda: desk.is_checked(battery), timeout=5, what="the recorded low battery")
        desk.wait_for(lambda: sim.events_of("replay-looped"), timeout=10, what="a loop")
        viewer.screenshot(self.gallery("lyxglance-replay.png"))

        # Sleep from the viewer: the replayed module goes quiet, its rows counted as such.
        sleep = viewer.wait_find(name="Sleep", role=pyatspi.ROLE_PUSH_BUTTON)
        desk.wait_for(lambda: desk.is_enabled(sleep), timeout=5, what="Sleep enabled")
        pressed = time.monotonic()
        viewer.click(sleep)
        heard, asleep = sim.wait_event("asleep", since=pressed, timeout=5)
        self.assertEqual(asleep["module"], str(65536 + 1234))
        time.sleep(1.0)
        quiet = int(sim.command("show replay").split("quiet=")[1].split()[0])
        self.assertGreater(quiet, 0)
        data = [t for t, e in sim.events_of("data", since=heard + 0.05)
                if e.get("module") == str(65536 + 1234)]
        self.assertEqual(data, [])


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--lib", "--scenarios", "--gallery"):
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    args.version = None
    desk.ViewerTest.args = args
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()

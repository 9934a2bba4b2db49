#!/usr/bin/python3
"""CSV logging end to end: Log pressed with the real pointer, a path typed into the real save
dialog and its Save button pressed, the file compared with what the simulator sent; and a
viewer killed while it logs.

    desktop-session -- test_logging.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
                                       --version X.Y.Z
"""

import os
import re
import signal
import time

import pyatspi

import desk

# The value counts the packets: it rises by 1 a packet (10 a second).
COUNTER = """
station 1 usb channel=1
module 0x0A0B0C tag=1234 type=float wave=ramp offset=0 amplitude=10000 period=1000s rate={rate}
"""


class Logging(desk.ViewerTest):
    def start(self, rate):
        self.start_simulator(self.scenario(COUNTER.format(rate=rate)), ("--trace-data",))
        self.start_viewer()
        desk.wait_for(lambda: self.viewer.title() == "Lyx Glance - 4D2", timeout=10,
                      what="the module followed")
        return self.sim, self.viewer

    def button(self, name):
        return self.viewer.wait_find(name=name, role=pyatspi.ROLE_PUSH_BUTTON)

    def test_the_log_holds_one_row_per_packet_sent_meanwhile(self):
        sim, viewer = self.start(rate=10)
        path = self.workspace.path("run.csv")
        self.assertFalse(desk.is_enabled(self.button("View log")))
        started, stop = viewer.start_logging(path)
        time.sleep(4)
        stopped = time.monotonic()
        viewer.click(stop)
        desk.wait_for(lambda: viewer.find(name="Log", role=pyatspi.ROLE_PUSH_BUTTON,
                                          showing=True), timeout=5, what="logging stopped")
        self.assertTrue(desk.is_enabled(self.button("View log")))

        with open(path, "rb") as f:
            content = f.read()
        lines = content.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "the file ends with CR LF")
        self.assertEqual(lines[0], b"mS Elapsed,Value,Time Stamp")
        rows = [line.decode().split(",") for line in lines[1:-1]]
        values = [float(r[1]) for r in rows]
        elapsed = [int(r[0]) for r in rows]
        self.assertEqual(elapsed, sorted(elapsed))
        # One row per packet: the counter rises by one a packet, so row i holds the first
        # row's value + i. A packet the simulator sent late reads a little high; a lost row
        # would put every later row a whole packet off.
        residuals = sorted(v - i for i, v in enumerate(values))
        baseline = residuals[len(residuals) // 2]
        off = [(i, v) for i, v in enumerate(values) if abs(v - i - baseline) > 0.5]
        self.assertLessEqual(len(off), 3, off)
        # As many as the simulator sent between pressing Save and pressing Stop log (give or
        # take the packets in flight while the pointer clicked).
        sent = [t for t, e in sim.events_of("data", since=started)
                if e.get("code") == "1234" and t <= stopped]
        self.assertGreaterEqual(len(rows), 35)
        self.assertLessEqual(abs(len(rows) - len(sent)), 2, (len(rows), len(sent)))
        viewer.screenshot(self.gallery("lyxglance-logging.png"))

    def test_a_killed_viewer_leaves_whole_rows_of_all_but_the_last_second(self):
        sim, viewer = self.start(rate=5)
        path = self.workspace.path("crash.csv")
        viewer.start_logging(path)
        time.sleep(3)
        os.kill(viewer.process.pid, signal.SIGKILL)
        viewer.process.wait(timeout=10)
        with open(path, "rb") as f:
            content = f.read()
        lines = content.split(b"\r\n")
        self.assertEqual(lines[0], b"mS Elapsed,Value,Time Stamp")
        whole = [line for line in lines[1:-1]]
        self.assertEqual(lines[-1], b"", "the last row is whole")
        # Elapsed, value, then the time stamp ending in ":" and its milliseconds.
        row_shape = re.compile(rb"^\d+,-?\d+(\.\d+)?(E[+-]\d+)?,.+ \d\d?:\d\d:\d\d:\d{1,3}$")
        for row in whole:
            self.assertRegex(row, row_shape)
        # At least the rows of the first two seconds (five a second).
        self.assertGreaterEqual(len(whole), 10, whole)
        self.assertTrue(any(int(r.split(b",")[0]) >= 1900 for r in whole))


if __name__ == "__main__":
    desk.main()

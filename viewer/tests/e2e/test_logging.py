#!/usr/bin/python3
"""CSV logging end to end: Log pressed with the real pointer, a path typed into the real save
dialog and its Save button pressed, the file compared with what the simulator sent; and a
viewer killed while it logs.

    desktop-session -- test_logging.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
                                       --version X.Y.Z
"""

import csv
import io
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

# A module counting its packets, and one that nobody follows, for a pairing to find.
PAIRING = """
station 1 usb channel=1
module 0x0A0B0C tag=1234 type=int32 wave=count rate={rate}
module 0x0B0B0B tag=777 type=float value=1 rate=0.2 power=off
"""


class Logging(desk.ViewerTest):
    def start(self, rate, scenario=COUNTER):
        self.start_simulator(self.scenario(scenario.format(rate=rate)), ("--trace-data",))
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
        rows = list(csv.reader(io.StringIO(content.decode(), newline="")))[1:]
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

    def test_rows_keep_coming_across_a_pairing(self):
        # The followed module counts its packets; a module nobody follows powers up after 5 s
        # of pairing and ends it. No row of the counter may be missing across the pairing;
        # the search that follows a pairing passes the module it left for a second (as the
        # Search button does), and those packets are not logged.
        sim, viewer = self.start(rate=20, scenario=PAIRING)
        path = self.workspace.path("pairing.csv")
        started, stop = viewer.start_logging(path)
        time.sleep(1)
        pressed = time.monotonic()
        viewer.click(self.button("Pair"))
        sim.wait_event("bind-requested", since=pressed, timeout=5)
        time.sleep(5)
        powered = time.monotonic()
        self.assertTrue(sim.command("powerup 0x0B0B0B").startswith("ok"))
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=15,
                      what="the counter followed again")
        time.sleep(1)
        viewer.click(stop)
        desk.wait_for(lambda: viewer.find(name="Log", role=pyatspi.ROLE_PUSH_BUTTON,
                                          showing=True), timeout=5, what="logging stopped")
        with open(path, "rb") as f:
            rows = f.read().split(b"\r\n")[1:-1]
        values = [float(r.split(b",", 2)[1]) for r in rows]
        self.assertGreaterEqual(len(values), 20 * 6)
        # The value counts the packets (from 0): every step between rows is one packet, up to
        # the last packet sent before the pairing ended at least.
        before_end = len([t for t, e in sim.events_of("data")
                          if e.get("code") == "1234" and t <= powered]) - 1
        gaps = [(a, b) for a, b in zip(values, values[1:]) if b != a + 1]
        self.assertLessEqual(len(gaps), 1, gaps)
        if gaps:
            self.assertGreaterEqual(gaps[0][0], before_end, gaps)
        self.assertGreater(before_end - values[0], 20 * 5)

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
        self.assertEqual(lines[-1], b"", "the last row is whole")
        whole = list(csv.reader(io.StringIO(content.decode(), newline="")))[1:]
        # Elapsed, value, then the time stamp ending in ":" and its milliseconds.
        for row in whole:
            self.assertEqual(len(row), 3, row)
            self.assertRegex(row[0], r"^\d+$")
            self.assertRegex(row[1], r"^-?\d+(\.\d+)?(E[+-]\d+)?$")
            self.assertRegex(row[2], r".+ \d\d?:\d\d:\d\d:\d{1,3}$")
        # At least the rows of the first two seconds (five a second).
        self.assertGreaterEqual(len(whole), 10, whole)
        self.assertTrue(any(int(r[0]) >= 1900 for r in whole))

    def test_the_log_reads_back_as_three_columns_in_a_point_and_a_comma_locale(self):
        self.start_simulator(self.scenario(COUNTER.format(rate=10)), ("--trace-data",))
        # The long dates of both hold a comma; the second separates with ";".
        for locale, separator in (("en_US.UTF-8", ","), ("de_DE.UTF-8", ";")):
            with self.subTest(locale=locale):
                self.workspace.env["LC_ALL"] = locale
                viewer = self.start_viewer()
                desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10,
                              what="the module followed")
                path = self.workspace.path(f"{locale}.csv")
                _, stop = viewer.start_logging(path)
                time.sleep(1.5)
                viewer.click(stop)
                desk.wait_for(lambda: viewer.find(name="Log", role=pyatspi.ROLE_PUSH_BUTTON,
                                                  showing=True), timeout=5, what="logging stopped")
                viewer.stop()
                with open(path, newline="", encoding="utf-8") as f:
                    rows = list(csv.reader(f, delimiter=separator))
                self.assertEqual(rows[0], ["mS Elapsed", "Value", "Time Stamp"])
                self.assertGreaterEqual(len(rows), 6)
                for row in rows[1:]:
                    self.assertEqual(len(row), 3, row)
                    int(row[0])
                    float(row[1].replace(",", "."))
                    self.assertIn(",", row[2])
                    self.assertRegex(row[2], r" \d\d?:\d\d:\d\d\D*:\d{1,3}$")
                try:
                    import pandas
                except ImportError:
                    continue
                table = pandas.read_csv(path, sep=separator)
                self.assertEqual(list(table.columns), ["mS Elapsed", "Value", "Time Stamp"])
                self.assertEqual(table.shape, (len(rows) - 1, 3))


if __name__ == "__main__":
    desk.main()

"""lyx log against a real simulated base station: formats, rotation, a crash and a full disk."""

import csv
import glob
import io
import json
import os
import re
import signal
import time

import clitest
from clitest import wait_for

# Each module's value counts its packets from 0. They are powered up once lyx listens, so that
# every packet they send is one lyx should log.
COUNTERS = """
station 1 usb channel=1 id=0x001234
module 0x000301 tag=301 type=int32 wave=count rate={rate} power=off
module 0x000302 tag=302 type=int32 wave=count rate={rate} power=off
"""
MODULES = ("0x000301", "0x000302")


def counters(rate, station="station 1 usb channel=1 id=0x001234"):
    return COUNTERS.format(rate=rate).replace("station 1 usb channel=1 id=0x001234", station)


def csv_rows(paths):
    """The rows of `paths`, read in the order given."""
    rows = []
    for path in paths:
        with open(path, newline="") as f:
            text = f.read()
        reader = csv.reader(io.StringIO(text))
        header = next(reader)
        assert header == ["time", "ms", "station", "tag", "value", "status", "rssi", "cv",
                          "batt_low", "error"], (path, header)
        rows += [dict(zip(header, r)) for r in reader]
    return rows


class Log(clitest.CliTest):
    def sent(self, tag):
        return len([e for _, e in self.sim.events_of("data") if e.get("code") == str(tag)])

    def start_log(self, *args):
        lyx = self.start_lyx("log", *args)
        wait_for(lambda: "logging to" in lyx.errors(), timeout=15, what="lyx to listen")
        for module in MODULES:
            self.assertTrue(self.sim.command(f"powerup {module}").startswith("ok"))
        return lyx

    def stop_modules(self):
        """Powers the modules down, so that every packet sent has arrived before lyx stops."""
        for module in MODULES:
            self.assertTrue(self.sim.command(f"powerdown {module}").startswith("ok"))
        counts = (self.sent(301), self.sent(302))
        time.sleep(0.5)  # the last packets in flight
        self.assertEqual(counts, (self.sent(301), self.sent(302)))
        return counts

    def assertEveryPacketOnce(self, rows, counts):
        for tag, count in zip((301, 302), counts):
            values = [int(r["value"]) for r in rows if int(r["tag"]) == tag]
            self.assertGreater(count, 0)
            # Packet n carries n: each packet's row once, in order, none missing.
            self.assertEqual(values, list(range(count)), f"tag {tag}")

    def test_csv_rotated_by_size_holds_every_packet_once(self):
        self.start_simulator(counters(50))
        pattern = self.workspace.path("run-%Y%m%d.csv")
        lyx = self.start_log(pattern, "--rotate-size", "8k")
        wait_for(lambda: len(glob.glob(self.workspace.path("run-*.csv"))) >= 3, timeout=30,
                 what="three files")
        counts = self.stop_modules()
        self.assertEqual(lyx.stop(signal.SIGTERM), 0, lyx.errors())
        files = glob.glob(self.workspace.path("run-*.csv"))
        today = time.strftime("%Y%m%d")
        # The name, then the same name with -1, -2, ... in the order they were written.
        numbered = {}
        for path in files:
            name = re.match(rf"^run-{today}(?:-(\d+))?\.csv$", os.path.basename(path))
            self.assertIsNotNone(name, path)
            numbered[int(name.group(1) or 0)] = path
            self.assertLessEqual(os.path.getsize(path), 8192)
        self.assertEqual(sorted(numbered), list(range(len(files))))
        rows = csv_rows([numbered[n] for n in sorted(numbered)])
        self.assertEveryPacketOnce(rows, counts)
        first = rows[0]
        self.assertRegex(first["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
        self.assertEqual((first["station"], first["status"], first["batt_low"]), ("1", "0", "0"))
        ms = [int(r["ms"]) for r in rows]
        self.assertEqual(ms, sorted(ms))  # files in the order written, rows in arrival order
        self.assertRegex(lyx.errors(), rf"{len(rows)} rows in {len(files)} files")

    def test_json_lines_rotated_every_second_with_strftime_names(self):
        self.start_simulator(counters(20))
        names = self.workspace.write("names.ini", "[301]\nname = Counter\nunit = pulses\n")
        lyx = self.start_log(self.workspace.path("run-%H%M%S.jsonl"), "--rotate-every", "1s",
                             "--tag", "301", "--tags", names)
        wait_for(lambda: len(glob.glob(self.workspace.path("run-*.jsonl"))) >= 3, timeout=20,
                 what="three files")
        counts = self.stop_modules()
        self.assertEqual(lyx.stop(signal.SIGINT), 0, lyx.errors())
        packets = []
        for path in sorted(glob.glob(self.workspace.path("run-*.jsonl"))):
            name = re.match(r"run-(\d{6})\.jsonl$", os.path.basename(path))
            self.assertIsNotNone(name, path)
            with open(path) as f:
                rows = [json.loads(line) for line in f]
            for row in rows:
                # A row sits in the file of the second it arrived in.
                self.assertEqual(row["time"][11:19].replace(":", ""), name.group(1))
            packets += rows
        self.assertEqual({p["tag"] for p in packets}, {301})  # the filter
        self.assertEqual({(p["name"], p["unit"]) for p in packets}, {("Counter", "pulses")})
        self.assertEqual([p["value"] for p in packets], list(range(counts[0])))

    def test_a_base_station_plugged_in_again_is_logged_again(self):
        self.start_simulator(counters(20))
        path = self.workspace.path("replug.csv")
        lyx = self.start_log(path)
        wait_for(lambda: len(csv_rows([path])) >= 20, timeout=15, what="rows")
        self.assertTrue(self.sim.command("unplug 1").startswith("ok"))
        wait_for(lambda: "base station 1 is gone from USB" in lyx.errors(), timeout=5,
                 what="the line saying the station went")
        time.sleep(1.0)
        before = len(csv_rows([path]))
        self.assertTrue(self.sim.command("plug 1").startswith("ok"))
        wait_for(lambda: len(csv_rows([path])) >= before + 20, timeout=15,
                 what="rows after the base station came back")
        self.assertEqual(lyx.stop(), 0, lyx.errors())
        self.assertEqual(lyx.errors().count("base station 1 is gone from USB"), 1, lyx.errors())
        self.assertEqual(lyx.errors().count("base station 1 is back on USB"), 1, lyx.errors())

    def test_a_serial_base_station_unplugged_and_plugged_in_again_loses_nothing_later(self):
        sim = self.start_simulator(counters(50, "station 1 serial com=5 channel=1 id=0x001234"))
        path = self.workspace.path("serial.csv")
        lyx = self.start_log(path, "--port", "5")
        link = "serial port COM5 at 115200 baud"
        wait_for(lambda: len(csv_rows([path])) >= 20, timeout=15, what="rows")
        self.assertTrue(sim.command("unplug 1").startswith("ok"))
        wait_for(lambda: f"the base station is gone from {link}" in lyx.errors(), timeout=5,
                 what="the line saying the station went")
        time.sleep(1.0)
        self.assertTrue(sim.command("plug 1").startswith("ok"))
        wait_for(lambda: f"the base station is back on {link}" in lyx.errors(), timeout=5,
                 what="the line saying the station came back")
        before = len(csv_rows([path]))
        wait_for(lambda: len(csv_rows([path])) >= before + 50, timeout=15,
                 what="rows after the base station came back")
        counts = self.stop_modules()
        self.assertEqual(lyx.stop(), 0, lyx.errors())
        rows = csv_rows([path])
        # The packets sent before the plug that came out of the simulator: those of each tag
        # whose event precedes the "plugged" event.
        with sim._lock:
            events = [e for _, e in sim.events]
        plugged = next(i for i, e in enumerate(events)
                       if e["kind"] == "plugged" and e.get("station") == "1")
        for tag, count in zip((301, 302), counts):
            sent_before = len([e for e in events[:plugged]
                               if e["kind"] == "data" and e.get("code") == str(tag)])
            values = [int(r["value"]) for r in rows if int(r["tag"]) == tag]
            self.assertEqual(values, sorted(set(values)), f"tag {tag}: once each, in order")
            # Before: from the first on, up to what was on its way when the line went.
            early = [v for v in values if v < sent_before]
            self.assertEqual(early, list(range(len(early))), f"tag {tag}: before the unplug")
            self.assertGreater(len(early), 5, f"tag {tag}")
            # Packet n carries n: every packet sent after the plug is there.
            self.assertEqual([v for v in values if v >= sent_before],
                             list(range(sent_before, count)), f"tag {tag}: after the plug")
            self.assertGreater(count - sent_before, 40, f"tag {tag}")
        self.assertEqual(lyx.errors().count("is gone from"), 1, lyx.errors())
        self.assertEqual(lyx.errors().count("is back on"), 1, lyx.errors())

    def test_sigkill_loses_at_most_the_last_second_and_leaves_whole_rows(self):
        sim = self.start_simulator(counters(100))
        path = self.workspace.path("crash.csv")
        lyx = self.start_log(path)
        wait_for(lambda: os.path.exists(path) and os.path.getsize(path) > 20000, timeout=20,
                 what="rows in the file")
        killed_at = time.monotonic()
        lyx.process.kill()
        lyx.process.wait()
        with open(path, newline="") as f:
            text = f.read()
        self.assertTrue(text.endswith("\n"))
        rows = csv_rows([path])
        self.assertTrue(all(len(r) == 10 and None not in r.values() for r in rows))
        # Every packet sent more than a second before the kill is in the file.
        for tag in (301, 302):
            sent_before = len([e for t, e in sim.events_of("data")
                               if e.get("code") == str(tag) and t < killed_at - 1.0])
            logged = [int(r["value"]) for r in rows if int(r["tag"]) == tag]
            self.assertEqual(logged, list(range(len(logged))), f"tag {tag}")
            self.assertGreaterEqual(len(logged), sent_before, f"tag {tag}")

    def test_a_full_disk_or_an_unwritable_file_ends_with_status_1(self):
        self.start_simulator(counters(20))
        done = self.lyx("log", "/dev/full")
        self.assertExit(done, 1, "cannot write /dev/full: No space left on device")
        lyx = self.start_log("/dev/full", "--format", "jsonl")
        self.assertEqual(lyx.process.wait(timeout=15), 1)
        self.assertRegex(lyx.errors(), r"No space left on device; 0 rows were written, [1-9]\d* "
                                       r"were not")
        missing = self.workspace.path("no-such-folder", "run.csv")
        self.assertExit(self.lyx("log", missing), 1, f"cannot open {missing}")
        self.assertExit(self.lyx("log", missing, "--rotate-size", "lots"), 2,
                        "--rotate-size: expected a size")


if __name__ == "__main__":
    clitest.main()

"""lyx monitor and lyx table against a real simulated base station."""

import os
import pty
import re
import select
import signal
import subprocess
import time

import clitest
from clitest import json_lines, wait_for

# One module of each data type, each with a value that shows how it is decoded.
EVERY_TYPE = """
station 1 usb channel=1 id=0x001234
module 0x000101 tag=101 type=uint8 value=200 rate=5 status=5 rssi=-20 quality=48 battery=low
module 0x000102 tag=102 type=uint16 value=65534 rate=5
module 0x000103 tag=103 type=int32 value=-2 rate=5 error=yes
module 0x000104 tag=104 type=float value=1.5 rate=5
module 0x000105 tag=105 type=string value="LC-1 ok" rate=5
module 0x000106 tag=106 type=binary value=00FF10 rate=5
module 0x000107 tag=107 type=int32 value=123456789 rate=5
"""

EXPECTED = {  # tag: (value, value_type, text shown)
    101: (200, "number", "200"),
    102: (65534, "number", "65534"),
    103: (-2, "number", "-2"),
    104: (1.5, "number", "1.500000"),
    105: ("LC-1 ok", "text", "LC-1 ok"),
    106: ("00FF10", "binary", "<hex 00FF10>"),
    107: (123456789.0, "number", "1.234568E+08"),
}


class Monitor(clitest.CliTest):
    def test_json_lines_carry_every_data_type(self):
        self.start_simulator(EVERY_TYPE)
        # The tag file in its default place names one of them.
        os.makedirs(self.workspace.path("config", "lyx"), exist_ok=True)
        self.workspace.write("config/lyx/tags.ini", "[0x65]\nname = Hook load\nunit = kg\n")
        lyx = self.start_lyx("monitor", "--json")
        wait_for(lambda: {p["tag"] for p in json_lines(lyx.output())} >= set(EXPECTED),
                 timeout=15, what="a packet of every tag")
        self.assertEqual(lyx.stop(), 0)
        packets = {p["tag"]: p for p in json_lines(lyx.output())}
        for tag, (value, kind, _) in EXPECTED.items():
            with self.subTest(tag=tag):
                self.assertEqual(packets[tag]["value_type"], kind)
                if isinstance(value, float):
                    self.assertAlmostEqual(packets[tag]["value"], value, delta=abs(value) * 1e-6)
                else:
                    self.assertEqual(packets[tag]["value"], value)
                self.assertEqual(packets[tag]["station"], 1)
                self.assertRegex(packets[tag]["time"],
                                 r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
        first = packets[101]
        self.assertEqual((first["status"], first["rssi"], first["cv"]), (5, -20, 48))
        self.assertEqual((first["batt_low"], first["error"]), (True, False))
        self.assertEqual((packets[103]["batt_low"], packets[103]["error"]), (False, True))
        self.assertEqual((first["name"], first["unit"]), ("Hook load", "kg"))
        self.assertFalse({"name", "unit"} & packets[102].keys())

    def test_a_malformed_tag_file_ends_each_tool_with_status_2_naming_the_line(self):
        bad = self.workspace.write("bad.ini", "[101]\nname = Hook\nunti = kg\n")
        for args in (("monitor",), ("table",), ("log", self.workspace.path("x.csv"))):
            with self.subTest(args=args):
                done = self.lyx(*args, "--tags", bad)
                self.assertExit(done, 2, f"lyx: tag file {bad}:3: unknown key 'unti'")
        self.assertFalse(os.path.exists(self.workspace.path("x.csv")))
        missing = self.workspace.path("missing.ini")
        self.assertExit(self.lyx("monitor", "--tags", missing), 2, f"{missing}: cannot read it")

    def test_text_lines_tag_filter_and_summary(self):
        self.start_simulator(EVERY_TYPE)
        lyx = self.start_lyx("monitor", "--tag", "104", "--tag", "105,106")
        def tag_of(line):
            return int(re.search(r" tag +(\d+) \(0x", line).group(1))

        wait_for(lambda: {tag_of(line) for line in lyx.lines()} >= {104, 105, 106},
                 timeout=15, what="the three tags")
        self.assertEqual(lyx.stop(signal.SIGINT), 0)
        lines = lyx.lines()
        self.assertEqual({tag_of(line) for line in lines}, {104, 105, 106})
        for tag in (104, 105, 106):
            line = next(line for line in lines if tag_of(line) == tag)
            self.assertIn(f"(0x{tag:04X})", line)
            self.assertIn(f"  {EXPECTED[tag][2]}  ", line)
        # The summary counts what was printed, per tag, then what the link delivered
        # (every packet of every tag, the filtered ones too) and that nothing was lost.
        summary, link = lyx.errors().strip().splitlines()[-2:]
        counts = {int(t): int(n) for t, n in re.findall(r"tag (\d+): (\d+)", summary)}
        self.assertEqual(counts, {t: sum(tag_of(line) == t for line in lines)
                                  for t in (104, 105, 106)})
        self.assertRegex(summary, rf"^lyx: {len(lines)} packets ")
        delivered = int(re.match(r"lyx: link: (\d+) packets delivered, none lost", link).group(1))
        self.assertGreaterEqual(delivered, len(lines))


THREE = """
station 1 usb channel=1 id=0x001234
module 0x000201 tag=201 type=float value=1.25 rate=5
module 0x000202 tag=202 type=uint16 value=7 rate=5 battery=low
module 0x000203 tag=203 type=string value=abc rate=5
"""


class Table(clitest.CliTest):
    def snapshots(self, lyx):
        """The plain-text snapshots printed so far, each a dict of tag -> row fields."""
        out = []
        for block in lyx.output().split("\n\n"):
            rows = {}
            for line in block.splitlines():
                fields = line.split()
                if fields and fields[0].isdigit() and len(fields) >= 10:
                    rows[int(fields[0])] = fields
            if rows:
                out.append(rows)
        return out

    def test_rows_for_every_module_and_a_stale_one(self):
        sim = self.start_simulator(THREE)
        names = self.workspace.write("names.ini", "[202]\nname = Gate\n")
        lyx = self.start_lyx("table", "--tags", names)
        wait_for(lambda: any(len(s) == 3 for s in self.snapshots(lyx)), timeout=15,
                 what="a row per module")
        rows = next(s for s in self.snapshots(lyx) if len(s) == 3)
        # TAG NAME STATION VALUE AGE PKT/S ...
        self.assertEqual(rows[201][1:4], ["-", "1", "1.250000"])
        self.assertEqual(rows[202][1:4], ["Gate", "1", "7"])
        self.assertIn("batt-low", rows[202])
        self.assertEqual(rows[203][3], "abc")
        self.assertTrue(all(r[-1] == "live" for r in rows.values()), rows)
        self.assertEqual(sim.command("powerdown 0x000202").split()[0], "ok")
        # Three seconds after its last packet the row turns stale; the others stay live.
        latest = wait_for(lambda: [s for s in self.snapshots(lyx)
                                   if 202 in s and s[202][-1] == "stale"],
                          timeout=10, what="the powered-down module's row to turn stale")[-1]
        self.assertEqual((latest[201][-1], latest[203][-1]), ("live", "live"))
        self.assertGreaterEqual(float(latest[202][4].rstrip("s")), 3.0)  # shown to 0.1 s
        rate = float(latest[201][5])
        self.assertTrue(3.0 <= rate <= 7.0, rate)
        self.assertEqual(lyx.stop(signal.SIGTERM), 0)
        self.assertNotIn("\x1b[", lyx.output())  # plain text on a pipe

    def test_on_a_terminal_it_redraws_in_place_at_most_four_times_a_second(self):
        self.start_simulator(THREE)
        master, slave = pty.openpty()
        process = subprocess.Popen([self.lyx_path, "table"], env=self.workspace.env,
                                   stdin=slave, stdout=slave, stderr=subprocess.DEVNULL)
        os.close(slave)
        output = b""
        try:
            deadline = time.monotonic() + 15
            while b"203" not in output:  # the third module's row
                self.assertLess(time.monotonic(), deadline, "no table on the terminal")
                output += self.read_pty(master)
            start_frames, start = output.count(b"\x1b[H"), time.monotonic()
            while time.monotonic() - start < 3.0:
                output += self.read_pty(master)
            frames = output.count(b"\x1b[H") - start_frames
            process.send_signal(signal.SIGINT)
            self.assertEqual(process.wait(timeout=10), 0)
            output += self.read_pty(master)
        finally:
            clitest.end_process(process)
            os.close(master)
        self.assertTrue(output.startswith(b"\x1b[?1049h"))  # its own screen
        self.assertTrue(9 <= frames <= 13, frames)  # 4 a second, give or take a frame
        self.assertIn(b"\x1b[?1049l", output)  # the screen given back at the end
        self.assertIn(b"lyx table: USB, 3 modules", output)

    @staticmethod
    def read_pty(fd):
        ready, _, _ = select.select([fd], [], [], 0.1)
        try:
            return os.read(fd, 65536) if ready else b""
        except OSError:  # the other end closed
            return b""


if __name__ == "__main__":
    clitest.main()

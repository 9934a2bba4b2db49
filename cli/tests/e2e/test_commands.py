"""The requests of lyx against a real simulated base station: each reaches the simulated
module or station, with the right exit status and message."""

import os
import signal
import time

import clitest
from networks import COMMAND_NETWORK, COUNTER, LOAD_CELL


class Commands(clitest.CliTest):
    def setUp(self):
        super().setUp()
        self.start_simulator(COMMAND_NETWORK)

    def test_sleep_and_wake_a_module(self):
        since = time.monotonic()
        self.assertExit(self.lyx("sleep", "1235"), 0, "sleep sent to tag 1235")
        self.assertHeard("command", since, module=COUNTER, code=1)
        self.sim.wait_event("asleep", since, match=lambda e: e.get("module") == str(COUNTER))
        self.assertFalse(self.heard("command", since, module=LOAD_CELL))  # only that tag
        since = time.monotonic()
        self.assertExit(self.lyx("wake", "--id", hex(COUNTER)), 0,
                        f"module 0x0A0B0D ({COUNTER}) is awake")
        self.sim.wait_event("woken", since, match=lambda e: e.get("module") == str(COUNTER))

    def test_pause_one_module(self):
        since = time.monotonic()
        self.assertExit(self.lyx("pause", "1234"), 0, "pause sent to tag 1234")
        self.assertHeard("command", since, module=LOAD_CELL, code=2)
        self.assertFalse(self.heard("command", since, module=COUNTER, code=2))

    def test_sleep_every_module(self):
        since = time.monotonic()
        self.assertExit(self.lyx("sleep", "--all"), 0, "sleep sent to tags 1234, 1235, 1236")
        for module in (LOAD_CELL, COUNTER):
            self.assertHeard("command", since, module=module, code=1)

    def test_a_sleep_nobody_hears_and_a_module_that_does_not_answer(self):
        self.assertExit(self.lyx("sleep", "999"), 1,
                        "no packet of tag 999 arrived within 5 s", "RT_NORESPONSE")
        done = self.lyx("read", "0x0A0B0E", "20")
        self.assertExit(done, 1, "cannot read parameter 20 of module 0x0A0B0E (658190) "
                                 "(RT_NORESPONSE)")
        self.assertEqual(done.stderr.count("asking again"), 2, done.stderr)
        self.assertExit(self.lyx("wake", "--id", "0x0A0B0E"), 1, "did not wake (RT_NORESPONSE)")

    def test_stay_awake_repeats_its_broadcast(self):
        since = time.monotonic()
        self.assertExit(self.lyx("stay-awake", "--for", "4s"), 0, "kept 3 modules awake (tags 1234, 1235, 1236)")
        # Every module heard gets the command, again after five seconds at the most.
        for module in (LOAD_CELL, COUNTER):
            self.assertHeard("command", since, module=module, code=3)

    def test_pair_a_module_powered_up_meanwhile(self):
        # By default the station takes the module's channel (7), and says what that means.
        since = time.monotonic()
        lyx = self.start_lyx("pair", "--seconds", "8")
        self.sim.wait_event("bind-requested", since)
        self.assertTrue(self.sim.command("powerup 66051").startswith("ok"))
        self.assertEqual(lyx.process.wait(timeout=15), 0, lyx.errors())
        self.assertEqual(lyx.output(), "paired module 0x010203 (66051) tag 42; base station 1 now "
                                       "on channel 7; other modules on channel 1 are no longer "
                                       "heard\n")
        self.assertIn("the base station takes its radio channel", lyx.errors())
        self.assertHeard("paired", since, module=66051)
        self.assertHeard("channel", since, station=1, code=7)
        # With --keep-channel the module moves to the station's channel instead.
        self.assertExit(self.lyx("channel", "1"), 0, "base station 1 is now on channel 1")
        self.assertTrue(self.sim.command("powerdown 66051").startswith("ok"))
        since = time.monotonic()
        lyx = self.start_lyx("pair", "--seconds", "8", "--keep-channel")
        self.sim.wait_event("bind-requested", since)
        self.assertTrue(self.sim.command("powerup 66051").startswith("ok"))
        self.assertEqual(lyx.process.wait(timeout=15), 0, lyx.errors())
        self.assertEqual(lyx.output(), "paired module 0x010203 (66051) tag 42; it now uses "
                                       "channel 1 of base station 1\n")
        self.assertHeard("channel", since, module=66051, code=1)
        self.assertFalse(self.heard("channel", since, station=1))
        self.assertExit(self.lyx("pair", "--seconds", "1"), 1,
                        "no module paired within 1 s (RT_NORESPONSE)")

    def test_station_and_its_channel(self):
        self.assertExit(self.lyx("station"), 0, "base station 1: ID 0x001234 (4660), channel 1")
        since = time.monotonic()
        self.assertExit(self.lyx("channel", "7"), 0, "base station 1 is now on channel 7")
        self.assertHeard("channel", since, station=1, code=7)
        self.assertExit(self.lyx("station"), 0, "channel 7")

    def test_parameters_round_trip(self):
        self.assertExit(self.lyx("read", hex(LOAD_CELL), "21"), 0, "LC-1")
        since = time.monotonic()
        self.assertExit(self.lyx("write", hex(LOAD_CELL), "20", "float", "2.5"), 0,
                        "wrote parameter 20 of module 0x0A0B0C (658188)")
        self.assertHeard("written", since, module=LOAD_CELL, code=20)
        self.assertEqual(self.lyx("read", hex(LOAD_CELL), "20").stdout.strip(), "2.5")
        # The module refuses a value beyond its limits, and a read-only parameter.
        self.assertExit(self.lyx("write", hex(LOAD_CELL), "20", "float", "50"), 1,
                        "RT_INVALID_DATA")
        self.assertEqual(self.lyx("write", hex(LOAD_CELL), "21", "string", "x").returncode, 1)

    def test_requests_that_change_nothing_are_asked_again_and_changes_never(self):
        def lose_a_reply():
            self.assertTrue(self.sim.command("fault 1 lose-replies=1").startswith("ok"))

        lose_a_reply()
        done = self.lyx("station")
        self.assertExit(done, 0, "base station 1: ID 0x001234 (4660), channel 1")
        self.assertIn("asking again (try 2 of 3)", done.stderr)
        lose_a_reply()
        done = self.lyx("read", hex(LOAD_CELL), "21")
        self.assertExit(done, 0, "LC-1")
        self.assertRegex(done.stderr, r"^lyx: cannot read parameter 21 of module 0x0A0B0C "
                                      r"\(658188\) \(RT_\w+\); asking again \(try 2 of 3\)\n$")
        lose_a_reply()
        done = self.lyx("station", "--retries", "0")
        self.assertExit(done, 2, "no base station 1 answers")
        self.assertNotIn("asking again", done.stderr)
        # A write whose answer is lost reached the module once, and is not sent again.
        lose_a_reply()
        since = time.monotonic()
        done = self.lyx("write", hex(LOAD_CELL), "20", "float", "3")
        self.assertExit(done, 2, "cannot write parameter 20 of module 0x0A0B0C (658188) "
                                 "(RT_NOBASE)")
        self.assertNotIn("asking again", done.stderr)
        self.assertHeard("written", since, module=LOAD_CELL, code=20)
        time.sleep(1)
        self.assertEqual(len(self.sim.events_of("written", since)), 1)

    def test_send_a_packet_and_decode_a_store_and_forward_block(self):
        since = time.monotonic()
        self.assertExit(self.lyx("send", "500", "uint16", "4660", "--status", "3"), 0,
                        "packet sent to tag 500 through base station 1")
        sent = self.assertHeard("packet-to-tag", since, station=1, code=500)
        self.assertTrue(sent["line"].endswith(" 03 02 12 34"), sent["line"])  # status, type, value
        block = "00000100" + "FFFFFFFF" + "00" * 32 + "012C"
        self.assertExit(self.lyx("rlx", block), 0, "timestamp 300  readings 256 -1 0 0 0 0 0 0 0 0")


class Faults(clitest.CliTest):
    def test_bad_arguments_name_what_is_wrong(self):
        cases = [
            (("sleep",), "lyx sleep: missing TAG (or --all)"),
            (("read", "0x0A0B0C"), "lyx read: missing PARAM"),
            (("read",), "lyx read: missing ID and PARAM"),
            (("write", "0x0A0B0C", "20", "float"), "lyx write: missing VALUE"),
            (("send", "500", "uint16"), "lyx send: missing VALUE"),
            (("send", "500"), "lyx send: missing TYPE and VALUE"),
            (("channel", "0"), "CHANNEL: '0' is out of range (from 1 to 255)"),
            (("station", "--retries", "11"), "--retries: '11' is out of range (from 0 to 10)"),
            (("write", "1", "20", "double", "3"), "TYPE: 'double' is not one of uint8"),
            (("write", "1", "20", "uint8", "300"), "VALUE: '300' is out of range (from 0 to 255)"),
            (("monitor", "--tag", "70000"), "--tag: '70000' is out of range"),
            (("monitor", "--colour"), "unknown option '--colour'"),
            (("monitor", "--usb", "--port", "3"), "--usb and --port exclude each other"),
            (("rlx", "0102"), "a store-and-forward block is 42 bytes"),
            (("frobnicate",), "unknown subcommand 'frobnicate'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                done = self.lyx(*args)
                self.assertExit(done, 2, message)
                self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)

    def test_no_base_station_and_no_component(self):
        # No simulator: the USB bus is empty.
        self.assertExit(self.lyx("station"), 2, "no base station 1 answers on USB (RT_NOBASE)")
        self.assertExit(self.lyx("sleep", "5"), 2, "no base station answers on USB")
        self.workspace.env["LYX_REGISTRY"] = self.workspace.path("empty.ini")
        self.assertExit(self.lyx("station"), 2, "the DataProvider component is not registered")
        done = self.lyx("--version")
        self.assertExit(done, 0, "lyx ", "not registered")

    def test_missing_and_busy_serial_ports(self):
        os.symlink("/nonexistent/ttyUSB9", self.workspace.path("ports", "COM9"))
        self.assertExit(self.lyx("station", "--port", "9"), 2,
                        "serial port COM9 (", "does not exist")
        self.start_simulator("station 1 serial com=5 id=0x000777 channel=3\n"
                             "module 0x000501 tag=501 channel=3 type=uint8 value=9 rate=10\n", args=())
        self.assertExit(self.lyx("station", "--port", "5"), 0,
                        "base station 1: ID 0x000777 (1911), channel 3")
        holder = self.start_lyx("monitor", "--port", "5")
        holder.wait_lines(1)  # it has the port
        self.assertExit(self.lyx("station", "--port", "5"), 2,
                        "serial port COM5 (", "is in use by another program")
        self.assertEqual(holder.stop(signal.SIGINT), 0)

    def test_help_and_version(self):
        done = self.lyx("--help")
        self.assertExit(done, 0, "usage: lyx SUBCOMMAND", "monitor", "rlx")
        self.assertExit(self.lyx("log", "--help"), 0, "usage: lyx log FILE",
                        "--rotate-every TIME", "--port N")
        self.assertExit(self.lyx("--version"), 0, "lyx 1.", "DataProvider component 2.", "driver 2.")


if __name__ == "__main__":
    clitest.main()

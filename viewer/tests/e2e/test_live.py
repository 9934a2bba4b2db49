#!/usr/bin/python3
"""The live display, search, pairing and the module commands, end to end: LyxGlance and
lyx-basestation-sim as their own processes, the window read through AT-SPI, its buttons
pressed with the real pointer.

    desktop-session -- test_live.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
                                    --version X.Y.Z
"""

import os
import time

import pyatspi

import desk

ONE_LOAD_CELL = """
station 1 usb channel=1 id=0x001234
module 0x0A0B0C tag=1234 type=float value=12.5 rate=5
"""


class LiveDisplay(desk.ViewerTest):
    def start(self, scenario_text=ONE_LOAD_CELL, scenario_file=None, sim_args=("--trace-data",)):
        if scenario_file is None:
            scenario_file = self.scenario(scenario_text)
        return self.start_simulator(scenario_file, sim_args), self.start_viewer()

    def button(self, name):
        return self.viewer.wait_find(name=name, role=pyatspi.ROLE_PUSH_BUTTON)

    def label(self, description):
        return self.viewer.wait_find(description=description, role=pyatspi.ROLE_LABEL)

    def display(self):
        return self.viewer.wait_find(description="Value", role=pyatspi.ROLE_LABEL)

    def wait_enabled(self, name, enabled=True, timeout=5):
        b = self.button(name)
        desk.wait_for(lambda: desk.is_enabled(b) == enabled, timeout=timeout,
                      what=f"{name} {'enabled' if enabled else 'disabled'}")
        return b

    def test_the_first_module_heard_is_followed_and_shown(self):
        sim, viewer = self.start()
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10,
                      what="the module followed")
        self.assertEqual(viewer.x_title(), "Lyx Glance - 4D2")
        self.assertEqual(self.label("Data tag").name, "4D2")
        display = self.display()
        desk.wait_for(lambda: display.name == "12.500", timeout=5, what="the value shown")
        # Five packets a second.
        persec = self.label("Packets per second")
        desk.wait_for(lambda: persec.name in ("5", "4", "6"), timeout=5, what="a count")
        counts = set()
        for _ in range(3):
            time.sleep(1.0)
            counts.add(persec.name)
        self.assertTrue(counts <= {"4", "5", "6"}, counts)
        self.assertIn("5", counts)
        searching = viewer.find(description="Search", role=pyatspi.ROLE_LABEL)
        self.assertTrue(searching is None or not desk.is_showing(searching))
        for name in ("Zero", "Log", "Sleep", "Fewer decimals"):
            self.wait_enabled(name)
        quality = viewer.find(role=pyatspi.ROLE_PROGRESS_BAR)
        # The simulator's default signal (-60 dBm) and link byte (100): (-60 + 100 + 39) / 2
        # x 3.9, held at 100.
        desk.wait_for(lambda: desk.value_of(quality) == 100.0, timeout=5, what="link quality")
        viewer.screenshot(self.gallery("lyxglance-following.png"))

    def test_search_moves_to_another_module(self):
        sim, viewer = self.start()
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10)
        self.assertTrue(sim.command("module 0x0A0B0D tag=1235 type=int32 value=42 rate=5")
                        .startswith("ok"))
        time.sleep(0.5)
        viewer.click(self.button("Search"))
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D3", timeout=5,
                      what="the other module followed")
        display = self.display()
        desk.wait_for(lambda: display.name.startswith("42"), timeout=5, what="its value")

    def test_sleep_loses_the_signal_and_wake_brings_the_buttons_back(self):
        sim, viewer = self.start()
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10)
        lost = viewer.wait_find(description="Signal", role=pyatspi.ROLE_LABEL)
        self.assertFalse(desk.is_showing(lost))
        self.wait_enabled("Sleep")
        pressed = time.monotonic()
        viewer.click(self.button("Sleep"))
        _, asleep = sim.wait_event("asleep", since=pressed, timeout=5)
        self.assertEqual(asleep["module"], str(0x0A0B0C))
        # The lost-signal indicator 3 s after the last display refresh, which at five packets
        # a second is at most 0.4 s before the module's last packet.
        desk.wait_for(lambda: desk.is_showing(lost), timeout=6, interval=0.02,
                      what="the lost-signal indicator")
        shown_at = time.monotonic()
        last_packet = max(t for t, e in sim.events_of("data") if e.get("code") == "1234")
        self.assertGreater(shown_at - last_packet, 2.5)
        self.assertLess(shown_at - last_packet, 3.5)
        self.assertEqual(lost.name, "Lost Signal!")
        for name in ("Zero", "Log", "Sleep", "More decimals", "Fewer decimals"):
            self.assertFalse(desk.is_enabled(self.button(name)), name)
        self.assertEqual(self.display().name, "------")

        woken_from = time.monotonic()
        viewer.click(self.button("Wake all"))
        sim.wait_event("woken", since=woken_from, timeout=5)
        for name in ("Zero", "Log", "Sleep", "Fewer decimals"):
            self.wait_enabled(name, timeout=5)
        self.assertFalse(desk.is_showing(lost))

    def test_a_serial_station_unplugged_loses_the_signal_and_plugged_in_again_is_shown_again(self):
        self.start_simulator(self.scenario("station 1 serial com=5 channel=1 id=0x001234\n"
                                           "module 0x0A0B0C tag=1234 type=float value=12.5 "
                                           "rate=5\n"), ("--trace-data",))
        viewer = self.start_viewer(("--port", "5"))
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10,
                      what="the module followed")
        lost = viewer.wait_find(description="Signal", role=pyatspi.ROLE_LABEL)
        display = self.display()
        desk.wait_for(lambda: display.name == "12.500", timeout=5, what="the value shown")
        self.assertTrue(self.sim.command("unplug 1").startswith("ok"))
        desk.wait_for(lambda: desk.is_showing(lost), timeout=6, what="the lost-signal indicator")
        self.assertEqual(display.name, "------")
        self.assertTrue(self.sim.command("set 0x0A0B0C value=7.25").startswith("ok"))
        plugged = time.monotonic()
        self.assertTrue(self.sim.command("plug 1").startswith("ok"))
        # Two whole digits, as the display had before.
        desk.wait_for(lambda: display.name == "07.250", timeout=5, what="the value after the plug")
        self.assertFalse(desk.is_showing(lost))
        self.assertLess(time.monotonic() - plugged, 3)

    def test_a_module_hears_stay_awake_commands_while_the_viewer_runs(self):
        sim, viewer = self.start("station 1 usb channel=1\n"
                                 "module 0x0A0B0C tag=1234 type=float value=3 rate=1\n")
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10)
        started = time.monotonic()
        time.sleep(17)
        heard = [t for t, e in sim.events_of("command", since=started) if e.get("code") == "3"]
        self.assertGreaterEqual(len(heard), 3, heard)
        gaps = [b - a for a, b in zip(heard, heard[1:])]
        self.assertTrue(all(g <= 6.0 for g in gaps), gaps)
        self.assertLessEqual(heard[0] - started, 6.0)

    def test_pairing_finds_the_module_on_another_channel(self):
        sim, viewer = self.start(scenario_file=os.path.join(self.args.scenarios, "demo.scn"),
                                 sim_args=())
        channel = viewer.wait_find(description="Radio channel")
        self.assertEqual(channel.name, "RF Channel: 1")
        pressed = time.monotonic()
        viewer.click(self.button("Pair"))
        sim.wait_event("bind-requested", since=pressed, timeout=5)
        self.assertTrue(sim.command("powerup 66051").startswith("ok"))
        desk.wait_for(lambda: channel.name == "RF Channel: 7", timeout=15, what="channel 7")
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 2A", timeout=5,
                      what="the paired module followed")

    def test_low_battery_and_error_flags_light_their_indicators(self):
        sim, viewer = self.start("station 1 usb channel=1\n"
                                 "module 0x0A0B0C tag=1234 type=float value=1 rate=5 "
                                 "battery=low error=yes\n")
        desk.wait_for(lambda: viewer.title() == "Lyx Glance - 4D2", timeout=10)
        battery = viewer.wait_find(name="Lo Batt", role=pyatspi.ROLE_CHECK_BOX)
        error = viewer.wait_find(name="Error", role=pyatspi.ROLE_CHECK_BOX)
        desk.wait_for(lambda: desk.is_checked(battery) and desk.is_checked(error), timeout=5,
                      what="both indicators lit")
        zeroed = viewer.find(name="Zeroed", role=pyatspi.ROLE_CHECK_BOX)
        self.assertFalse(desk.is_checked(zeroed))
        self.assertTrue(sim.command("set 0x0A0B0C battery=ok error=no").startswith("ok"))
        desk.wait_for(lambda: not desk.is_checked(battery) and not desk.is_checked(error),
                      timeout=5, what="both indicators out")


if __name__ == "__main__":
    desk.main()

#!/usr/bin/python3
"""LyxGlance as its users meet it: started as its own process beside the base-station
simulator (also its own process), read through AT-SPI, closed through the window manager
protocol.

    desktop-session -- test_window.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
                                      --version X.Y.Z
"""

import os
import signal
import subprocess
import time

import pyatspi

import desk


class ViewerWindow(desk.ViewerTest):
    def start(self, scenario="demo.scn", viewer_args=()):
        sim = self.start_simulator(os.path.join(self.args.scenarios, scenario))
        return sim, self.start_viewer(viewer_args)

    def test_window_shows_channel_and_versions_and_stores_its_place_on_close(self):
        _, viewer = self.start()
        self.assertEqual(viewer.title().split(" - ")[0], "Lyx Glance")
        self.assertEqual(viewer.x_title(), viewer.title(), "the title bar shows the same")
        channel = viewer.wait_find(name="RF Channel: 1", role=pyatspi.ROLE_LABEL)
        self.assertEqual(channel.description, "Radio channel")
        versions = viewer.wait_find(description="Versions", role=pyatspi.ROLE_LABEL)
        self.assertEqual(versions.name,
                         f"App: {self.args.version} | Drv COM: 2.3 | Drv DLL: 2.7")

        # The buttons are push buttons named for what they do, the tooltip as description.
        search = viewer.find(name="Search", role=pyatspi.ROLE_PUSH_BUTTON)
        self.assertIsNotNone(search)
        self.assertTrue(search.description.startswith("Search for another module."))
        self.assertTrue(desk.is_enabled(search))
        for name in ("Pair", "Sleep", "Wake all", "Zero", "More decimals", "Fewer decimals",
                     "Log", "View log"):
            self.assertIsNotNone(viewer.find(name=name, role=pyatspi.ROLE_PUSH_BUTTON), name)
        # The buttons that share a place with a shown one are not showing.
        for hidden in ("Gross", "Stop log"):
            button = viewer.find(name=hidden, role=pyatspi.ROLE_PUSH_BUTTON)
            self.assertTrue(button is None or not desk.is_showing(button), hidden)
        bar = viewer.find(role=pyatspi.ROLE_PROGRESS_BAR)
        self.assertIsNotNone(bar)
        self.assertEqual(bar.description, "Link quality")
        for name in ("Zeroed", "Error", "Lo Batt"):
            self.assertIsNotNone(viewer.find(name=name, role=pyatspi.ROLE_CHECK_BOX), name)

        # Let a person look at it.
        time.sleep(1.5)
        shot = viewer.screenshot(self.gallery("lyxglance-window.png"))
        self.assertGreater(os.path.getsize(shot), 1000)

        self.assertFalse(os.path.exists(self.workspace.ini_file))
        viewer.close()
        self.assertEqual(viewer.wait_exit(timeout=20), 0)
        values = desk.read_ini(self.workspace.ini_file)
        for key in ("left", "top", "width", "height"):
            self.assertIn(("settings", key), values)
        self.assertEqual(values[("settings", "width")], "12000")

    def test_a_stored_place_is_used_again(self):
        os.makedirs(os.path.dirname(self.workspace.ini_file))
        with open(self.workspace.ini_file, "w") as f:
            f.write("[Settings]\nLeft=1500\nTop=750\nWidth=13500\nHeight=7500\n")
        _, viewer = self.start()
        x, y, w, h = desk.extents(viewer.frame)
        self.assertEqual((x, y, w, h), (100, 50, 900, 500))
        viewer.close()
        self.assertEqual(viewer.wait_exit(timeout=20), 0)
        values = desk.read_ini(self.workspace.ini_file)
        self.assertEqual(values[("settings", "left")], "1500")
        self.assertEqual(values[("settings", "width")], "13500")

    def test_terminating_the_program_closes_the_window_as_the_user_would(self):
        _, viewer = self.start()
        viewer.wait_find(name="RF Channel: 1")
        viewer.process.terminate()
        self.assertEqual(viewer.wait_exit(timeout=20), 0)
        self.assertIn(("settings", "width"), desk.read_ini(self.workspace.ini_file))

    def test_a_signal_while_a_start_up_box_waits_ends_the_program_as_a_close_does(self):
        # No simulator: no base station, so the start-up says so in a box and waits.
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                process = subprocess.Popen([os.path.join(self.build.bin, "LyxGlance")],
                                           env=self.workspace.env)
                try:
                    box = desk.wait_for(lambda: desk.top_level_of(process.pid, "No Base Station"),
                                        timeout=30, what="the No Base Station box")
                    self.assertTrue(desk.is_showing(box))
                    if sig == signal.SIGTERM:
                        os.makedirs(self.args.gallery, exist_ok=True)
                        subprocess.run(["import", "-window", "root",
                                        self.gallery("lyxglance-no-base-station.png")],
                                       check=True)
                    process.send_signal(sig)
                    self.assertEqual(process.wait(timeout=20), 0)
                finally:
                    desk.end_process(process)
                values = desk.read_ini(self.workspace.ini_file)
                self.assertEqual(values[("settings", "width")], "12000")
                os.remove(self.workspace.ini_file)

    def test_an_unknown_option_is_refused_without_a_window(self):
        done = subprocess.run([os.path.join(self.build.bin, "LyxGlance"), "--bogus", "delta"],
                              env=self.workspace.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stdout, "")
        self.assertEqual(done.stderr,
                         'LyxGlance: Unknown option "--bogus".\n'
                         "Usage: LyxGlance [--port N [--baud RATE]] [delta]\n"
                         "Try 'LyxGlance --help' for more.\n")
        self.assertFalse(os.path.exists(self.workspace.ini_file))


if __name__ == "__main__":
    desk.main()

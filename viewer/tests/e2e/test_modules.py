#!/usr/bin/python3
"""The window All modules end to end: LyxGlance and lyx-basestation-sim as their own
processes, the list read through AT-SPI as a screen reader reads it, rows chosen with the real
pointer.

    desktop-session -- test_modules.py --bin DIR --lib DIR --scenarios DIR --gallery DIR
                                       --version X.Y.Z
"""

import os
import subprocess
import tempfile

import pyatspi

import desk

THREE_MODULES = """
station 1 usb channel=1 id=0x001234
module 0x0A0B0C tag=1234 type=float value=12.5 rate=5
module 0x0A0B0D tag=1235 type=int32 value=42 rate=5
module 0x0A0B0E tag=1236 type=float value=7.25 rate=5 battery=low
"""

TITLES = ["Tag", "Name", "Value", "Unit", "Packets/s", "LQI (%)", "Battery", "Error",
          "Last heard", "Station"]


class AllModules(desk.ViewerTest):
    def open_list(self, viewer):
        """Presses All modules with the real pointer; the list's window and its table."""
        button = viewer.wait_find(name="All modules", role=pyatspi.ROLE_PUSH_BUTTON)
        self.assertEqual(button.description, "Show every module heard")
        viewer.click(button)

        def window():
            for i in range(viewer.app.childCount):
                child = viewer.app.getChildAtIndex(i)
                if child is not None and child.name == "Lyx Glance - All modules" and \
                        desk.is_showing(child):
                    return child
            return None

        frame = desk.wait_for(window, timeout=10, what="the window All modules")
        self.assertEqual(frame.getRole(), pyatspi.ROLE_FRAME)
        table = desk.wait_for(lambda: desk.first(frame, pyatspi.ROLE_TABLE, "All modules"),
                              timeout=5, what="the table")
        return frame, table

    @staticmethod
    def rows(table):
        """The table's cells as a screen reader reads them: one dict per row, by title."""
        t = table.queryTable()
        titles = [t.getColumnDescription(c) for c in range(t.nColumns)]
        out = []
        for r in range(t.nRows):
            cells = [t.getAccessibleAt(r, c) for c in range(t.nColumns)]
            row = {title: cell.name for title, cell in zip(titles, cells)}
            row["_description"] = cells[0].description
            row["_cells"] = cells
            out.append(row)
        return out

    def row_of(self, table, tag):
        return next((r for r in self.rows(table) if r["Tag"] == tag), None)

    @staticmethod
    def brightest(accessible):
        """The brightest red level (0 to 1) in the accessible's extents on the screen: near 1
        for the list's white text and the followed row's red, about half for dimmed text."""
        x, y, w, h = desk.extents(accessible)
        with tempfile.TemporaryDirectory() as folder:
            shot = os.path.join(folder, "cell.png")
            subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", shot],
                           check=True)
            out = subprocess.run(["convert", shot, "-channel", "R", "-separate", "-format",
                                  "%[fx:maxima]", "info:"], check=True, capture_output=True,
                                 text=True).stdout
        return float(out.strip())

    def test_every_module_is_listed_and_a_double_click_follows_one(self):
        self.start_simulator(self.scenario(THREE_MODULES))
        viewer = self.start_viewer()
        desk.wait_for(lambda: viewer.title().startswith("Lyx Glance - 4D"), timeout=10,
                      what="a module followed")
        followed = viewer.title().split(" - ")[1]
        frame, table = self.open_list(viewer)

        # A table with a column per value, named by the header, and a row per module.
        t = table.queryTable()
        self.assertEqual([t.getColumnDescription(c) for c in range(t.nColumns)], TITLES)
        self.assertEqual(t.getColumnHeader(2).name, "Value")
        desk.wait_for(lambda: table.queryTable().nRows == 3, timeout=5, what="three rows")
        rows = self.rows(table)
        self.assertEqual(sorted(r["Tag"] for r in rows), ["04D2", "04D3", "04D4"])
        for row in rows:
            self.assertEqual(row["_cells"][0].getRole(), pyatspi.ROLE_TABLE_CELL)
        by_tag = {r["Tag"]: r for r in rows}
        self.assertEqual(by_tag["04D3"]["Value"], "42.000")
        self.assertEqual(by_tag["04D4"]["Battery"], "Low")
        self.assertEqual(by_tag["04D2"]["Station"], "1")
        # The followed module's row, and only it, is described as followed.
        marked = [r["Tag"] for r in rows if r["_description"] == "followed"]
        self.assertEqual(marked, [followed.rjust(4, "0")])
        # Both windows, for a person to look at.
        os.makedirs(self.args.gallery, exist_ok=True)
        subprocess.run(["import", "-window", "root",
                        os.path.join(self.args.gallery, "lyxglance-all-modules.png")], check=True)

        # A double-click with the real pointer on another module's row follows it.
        other = "4D3" if followed != "4D3" else "4D4"
        cell = self.row_of(table, other.rjust(4, "0"))["_cells"][0]
        x, y, w, h = desk.extents(cell)
        desk.pointer_move(x + w // 2, y + h // 2)
        subprocess.run(["xdotool", "click", "--repeat", "2", "--delay", "80", "1"], check=True)
        desk.wait_for(lambda: viewer.title() == f"Lyx Glance - {other}", timeout=5,
                      what="the other module followed")
        self.assertEqual(viewer.x_title(), f"Lyx Glance - {other}")
        tag_label = viewer.wait_find(description="Data tag", role=pyatspi.ROLE_LABEL)
        self.assertEqual(tag_label.name, other)
        display = viewer.wait_find(description="Value", role=pyatspi.ROLE_LABEL)
        expected = "42.000" if other == "4D3" else "7.2500"
        desk.wait_for(lambda: display.name == expected, timeout=5, what="its value shown")
        desk.wait_for(
            lambda: self.row_of(table, other.rjust(4, "0"))["_description"] == "followed",
            timeout=5, what="its row marked")
        self.assertEqual(self.row_of(table, followed.rjust(4, "0"))["_description"], "")

    def test_a_module_put_to_sleep_is_dimmed(self):
        sim = self.start_simulator(self.scenario(THREE_MODULES))
        viewer = self.start_viewer()
        desk.wait_for(lambda: viewer.title().startswith("Lyx Glance - 4D"), timeout=10)
        tag = viewer.title().split(" - ")[1].rjust(4, "0")
        other = "04D4" if tag != "04D4" else "04D2"
        frame, table = self.open_list(viewer)
        desk.wait_for(lambda: table.queryTable().nRows == 3, timeout=5, what="three rows")
        live = self.row_of(table, tag)
        self.assertEqual(live["Last heard"], "now")
        self.assertGreater(self.brightest(live["_cells"][2]), 0.7)  # the value cell

        # The main window's Sleep sends the followed module to sleep.
        sleep = viewer.wait_find(name="Sleep", role=pyatspi.ROLE_PUSH_BUTTON)
        desk.wait_for(lambda: desk.is_enabled(sleep), timeout=5, what="Sleep enabled")
        viewer.click(sleep)
        sim.wait_event("asleep", timeout=5)
        desk.wait_for(lambda: self.row_of(table, tag)["Last heard"].startswith("Lost Signal"),
                      timeout=6, what="the sleeping module's row lost")
        # Dimmed: its text is grey, while a module still heard stays bright.
        self.assertLess(self.brightest(self.row_of(table, tag)["_cells"][2]), 0.6)
        awake = self.row_of(table, other)
        self.assertEqual(awake["Last heard"], "now")
        self.assertGreater(self.brightest(awake["_cells"][2]), 0.7)
        count = next(frame.getChildAtIndex(i) for i in range(frame.childCount)
                     if frame.getChildAtIndex(i).getRole() == pyatspi.ROLE_LABEL)
        self.assertTrue(count.name.startswith("3 modules heard, 1 with lost signal."), count.name)

        viewer.click(viewer.wait_find(name="Wake all", role=pyatspi.ROLE_PUSH_BUTTON))
        desk.wait_for(lambda: self.row_of(table, tag)["Last heard"] == "now", timeout=6,
                      what="the module heard again")


if __name__ == "__main__":
    desk.main()

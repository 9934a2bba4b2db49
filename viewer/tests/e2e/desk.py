"""Driving the real LyxGlance and lyx-basestation-sim processes as a user and a screen reader
meet them: windows read through AT-SPI, buttons pressed with real pointer events at the
positions AT-SPI reports, the window closed through the window manager protocol.

Run inside scripts/desktop-session (a private X server, session bus and accessibility bus).
Every process started here is ended by its PID.
"""

import argparse
import os
import subprocess
import sys
import time
import unittest

import warnings

warnings.filterwarnings("ignore", category=DeprecationWarning)  # pyatspi's own calls

import pyatspi  # noqa: E402
from Xlib import X, display as xdisplay, protocol  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "sim", "testing"))
from simprocess import (Build, Simulator, Workspace as _Workspace,  # noqa: E402
                        end_process, wait_for)


class Workspace(_Workspace):
    @property
    def ini_file(self):
        return self.path("config", "LyxGlance", "config.ini")


class Viewer:
    """The real LyxGlance process and its window, as AT-SPI shows it."""

    def __init__(self, workspace, args=(), process=None):
        """Starts LyxGlance with `args`, or follows the already started `process`."""
        self.workspace = workspace
        if process is None:
            command = [os.path.join(workspace.build.bin, "LyxGlance")] + list(args)
            process = subprocess.Popen(command, env=workspace.env)
        self.process = process
        self.app = wait_for(self._find_app, timeout=30, what="LyxGlance on the accessibility bus")
        self.frame = wait_for(self._find_frame, timeout=30, what="the LyxGlance window")

    def _find_app(self):
        if self.process.poll() is not None:
            raise AssertionError(f"LyxGlance ended with {self.process.returncode}")
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            try:
                if app.get_process_id() == self.process.pid:
                    return app
            except Exception:
                continue
        return None

    def _find_frame(self):
        for i in range(self.app.childCount):
            child = self.app.getChildAtIndex(i)
            if child is not None and child.getRole() == pyatspi.ROLE_FRAME:
                return child
        return None

    # Reading the window.

    def find(self, name=None, role=None, description=None, showing=None):
        """The first accessible below the window that matches, or None."""
        found = self.find_all(name, role, description, showing)
        return found[0] if found else None

    def find_all(self, name=None, role=None, description=None, showing=None):
        out = []

        def visit(node, depth):
            if node is None or depth > 30:
                return
            if matches(node, name, role, description, showing):
                out.append(node)
            for i in range(node.childCount):
                visit(node.getChildAtIndex(i), depth + 1)

        visit(self.frame, 0)
        return out

    def wait_find(self, name=None, role=None, description=None, showing=None, timeout=10):
        return wait_for(lambda: self.find(name, role, description, showing), timeout=timeout,
                        what=f"an accessible name={name!r} role={role} description={description!r}")

    def title(self):
        return self.frame.name

    # Acting on it.

    def click(self, accessible):
        """Moves the real pointer to the middle of `accessible` and clicks the left button."""
        x, y, w, h = extents(accessible)
        assert w > 0 and h > 0, f"{accessible.name!r} has no extents"
        pointer_click(x + w // 2, y + h // 2)

    def window_id(self):
        return window_of_pid(self.process.pid)

    def x_title(self):
        """The title the window manager shows (_NET_WM_NAME of the X window)."""
        d = _x()
        try:
            window = d.create_resource_object("window", self.window_id())
            prop = window.get_full_property(d.intern_atom("_NET_WM_NAME"),
                                            d.intern_atom("UTF8_STRING"))
            return prop.value.decode("utf-8") if prop else None
        finally:
            d.close()

    def close(self):
        """Asks the window to close through the window manager protocol (WM_DELETE_WINDOW)."""
        send_delete_window(self.window_id())

    def wait_exit(self, timeout=20):
        return self.process.wait(timeout=timeout)

    def dialog(self, title):
        """The showing dialog of this program titled `title`, or None."""
        for i in range(self.app.childCount):
            child = self.app.getChildAtIndex(i)
            if child is not None and child.getRole() == pyatspi.ROLE_DIALOG and \
                    child.name == title and is_showing(child):
                return child
        return None

    def start_logging(self, path):
        """Presses Log, types `path` into the save dialog and presses its Save button, all
        with the real pointer and keyboard. Returns the monotonic time just before Save was
        pressed and the Stop log button."""
        log = self.wait_find(name="Log", role=pyatspi.ROLE_PUSH_BUTTON)
        wait_for(lambda: is_enabled(log), timeout=5, what="Log enabled")
        self.click(log)
        dialog = wait_for(lambda: self.dialog("Log File"), timeout=10, what="the save dialog")
        name = wait_for(lambda: first(dialog, pyatspi.ROLE_TEXT, "File name:"), timeout=5,
                        what="the file name field")
        self.click(name)
        subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+a"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "5", path], check=True)
        wait_for(lambda: name.queryText().getText(0, -1) == path, timeout=5,
                 what="the path typed")
        save = first(dialog, pyatspi.ROLE_PUSH_BUTTON, "Save")
        pressed = time.monotonic()
        self.click(save)
        stop = wait_for(lambda: self.find(name="Stop log", role=pyatspi.ROLE_PUSH_BUTTON,
                                          showing=True), timeout=10, what="logging started")
        return pressed, stop

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-window", hex(self.window_id()), path], check=True)
        return path

    def stop(self):
        end_process(self.process)


def top_level_of(pid, name):
    """The showing top-level accessible named `name` of process `pid` (a window, a dialog or
    a message box), or None."""
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for i in range(app.childCount):
                child = app.getChildAtIndex(i)
                if child is not None and child.name == name and is_showing(child):
                    return child
        except Exception:
            continue
    return None


def first(node, role, name):
    """The first accessible at or below `node` with this role and name, or None."""
    if node is None:
        return None
    if node.getRole() == role and node.name == name:
        return node
    for i in range(node.childCount):
        found = first(node.getChildAtIndex(i), role, name)
        if found is not None:
            return found
    return None


def matches(node, name, role, description, showing):
    try:
        if role is not None and node.getRole() != role:
            return False
        if name is not None:
            if callable(name):
                if not name(node.name):
                    return False
            elif node.name != name:
                return False
        if description is not None and node.description != description:
            return False
        if showing is not None and is_showing(node) != showing:
            return False
        return True
    except Exception:
        return False


def states(accessible):
    return accessible.getState()


def is_showing(accessible):
    return states(accessible).contains(pyatspi.STATE_SHOWING)


def is_enabled(accessible):
    s = states(accessible)
    return s.contains(pyatspi.STATE_ENABLED) or s.contains(pyatspi.STATE_SENSITIVE)


def is_checked(accessible):
    return states(accessible).contains(pyatspi.STATE_CHECKED)


def value_of(accessible):
    return accessible.queryValue().currentValue


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def pointer_click(x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(int(x)), str(int(y))], check=True)
    subprocess.run(["xdotool", "click", "1"], check=True)


def pointer_move(x, y):
    subprocess.run(["xdotool", "mousemove", "--sync", str(int(x)), str(int(y))], check=True)


def _x():
    return xdisplay.Display()


def window_of_pid(pid, timeout=10):
    """The top-level X window whose _NET_WM_PID is `pid` and that is mapped."""
    def search():
        d = _x()
        try:
            atom_pid = d.intern_atom("_NET_WM_PID")
            for w in d.screen().root.query_tree().children:
                prop = w.get_full_property(atom_pid, X.AnyPropertyType)
                if prop and prop.value and prop.value[0] == pid:
                    if w.get_attributes().map_state == X.IsViewable:
                        return w.id
            return None
        finally:
            d.close()
    return wait_for(search, timeout=timeout, what=f"the X window of process {pid}")


def send_delete_window(window_id):
    d = _x()
    try:
        window = d.create_resource_object("window", window_id)
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        # A round trip, so the server has taken the request before the connection closes (a
        # server that sees the connection go first may drop what it had not read yet).
        d.sync()
    finally:
        d.close()


def read_ini(path):
    """The keys of an INI file as {(section, key): value}, names in lower case."""
    values = {}
    section = ""
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and "]" in line:
                section = line[1:line.index("]")].strip().lower()
            elif "=" in line:
                key, value = line.split("=", 1)
                values[(section, key.strip().lower())] = value.strip()
    return values


class ViewerTest(unittest.TestCase):
    """A test with a workspace of its own; the processes it starts are ended after it, by
    their PIDs. `args` holds the command line that main() read."""

    args = None

    def setUp(self):
        self.build = Build(self.args.bin, self.args.lib, self.args.scenarios)
        self.workspace = Workspace(self.build)
        self.processes = []

    def tearDown(self):
        for p in reversed(self.processes):
            p.stop()
        self.workspace.remove()

    def scenario(self, text, name="test.scn"):
        """A scenario file with `text` in the workspace."""
        return self.workspace.write(name, text)

    def start_simulator(self, scenario, sim_args=()):
        self.sim = Simulator(self.workspace, scenario, sim_args)
        self.processes.append(self.sim)
        return self.sim

    def start_viewer(self, args=()):
        self.viewer = Viewer(self.workspace, args)
        self.processes.append(self.viewer)
        return self.viewer

    def gallery(self, name):
        return os.path.join(self.args.gallery, name)


def main():
    """Runs the calling script's tests, given --bin, --lib, --scenarios, --gallery and
    --version (the viewer's version); other arguments go to unittest."""
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--lib", "--scenarios", "--gallery", "--version"):
        parser.add_argument(option, required=True)
    ViewerTest.args, rest = parser.parse_known_args()
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)

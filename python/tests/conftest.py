"""Fixtures of the binding's tests: a private workspace (class registry, driver copies, the
virtual USB bus, serial port entries) with the component registered, and real
lyx-basestation-sim processes serving it, through the helpers that the viewer's and the
command-line tool's end-to-end tests use too (sim/testing/simprocess.py).

CTest runs these with Debian's /usr/bin/python3 and PYTHONPATH set to the build's module
folder; LYX_TEST_BIN and LYX_TEST_LIB name the build's bin and lib folders. Every process
started here is ended by its PID.
"""

import glob
import os
import sys
import time

import pytest

import lyx

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "sim", "testing"))
from simprocess import Build, Simulator, Workspace, wait_for  # noqa: E402,F401

BIN = os.environ.get("LYX_TEST_BIN", "")
LIB = os.environ.get("LYX_TEST_LIB", "")
SCENARIOS = os.path.join(SOURCE, "sim", "scenarios")
EXAMPLES = os.path.join(os.path.dirname(HERE), "examples")
BENCH = os.path.join(os.path.dirname(HERE), "bench")


def pytest_configure(config):
    if not BIN or not LIB:
        raise pytest.UsageError("set LYX_TEST_BIN and LYX_TEST_LIB to the build's bin and lib "
                                "folders (CTest does)")


def pump_until(dp, condition, timeout=10.0, what="condition"):
    """Dispatches the thread's messages until `condition` gives something true."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        left = deadline - time.monotonic()
        if left <= 0:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        dp.pump(min(left, 0.1))


def driver_copies(workspace):
    return sorted(glob.glob(os.path.join(workspace.path("tmp"), "Lyx*.so")))


def thread_count():
    return len(os.listdir("/proc/self/task"))


@pytest.fixture
def workspace(monkeypatch):
    """A private workspace with the component registered, named in the environment of this
    process (where the component reads it) as in that of the processes it starts."""
    ws = Workspace(Build(BIN, LIB, SCENARIOS))
    for key in ("XDG_CONFIG_HOME", "LYX_REGISTRY", "TMPDIR", "LYX_VHID_DIR", "LYX_PORT_DIR"):
        monkeypatch.setenv(key, ws.env[key])
    yield ws
    ws.remove()


@pytest.fixture
def start_sim(workspace):
    """Starts simulators: start_sim("station 1 usb", "module 0x10 tag=7", ...)."""
    started = []

    def start(*commands, scenario=None, args=()):
        arguments = list(args)
        for c in commands:
            arguments += ["-e", c]
        sim = Simulator(workspace, scenario, arguments)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def make_dp(workspace):
    """Creates DataProvider objects and closes every one of them at the end of the test,
    whatever happened to it."""
    made = []

    def make():
        dp = lyx.DataProvider()
        made.append(dp)
        return dp

    yield make
    for dp in made:
        dp.close()


class Unraisables:
    """Collects what is reported through sys.unraisablehook while it is entered, as
    (exception type, exception, object) tuples. (pytest puts its own hook in place for the
    test's call, so this one is entered inside the test.)"""

    def __init__(self):
        self.seen = []

    def _hook(self, args):
        self.seen.append((args.exc_type, args.exc_value, args.object))

    def __enter__(self):
        self._before = sys.unraisablehook
        sys.unraisablehook = self._hook
        return self.seen

    def __exit__(self, *exc):
        sys.unraisablehook = self._before
        return False

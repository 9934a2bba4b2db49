"""Fixtures of the binding's tests: a private workspace (class registry, driver copies, the
virtual USB bus, serial port entries) with the component registered, and real
lyx-basestation-sim processes serving it.

CTest runs these with Debian's /usr/bin/python3 and PYTHONPATH set to the build's module
folder; LYX_TEST_BIN and LYX_TEST_LIB name the build's bin and lib folders. Every process
started here is ended by its PID.
"""

import glob
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

import pytest

import lyx

BIN = os.environ.get("LYX_TEST_BIN", "")
LIB = os.environ.get("LYX_TEST_LIB", "")
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(os.path.dirname(HERE), "examples")
BENCH = os.path.join(os.path.dirname(HERE), "bench")


def pytest_configure(config):
    if not BIN or not LIB:
        raise pytest.UsageError("set LYX_TEST_BIN and LYX_TEST_LIB to the build's bin and lib "
                                "folders (CTest does)")


def wait_for(condition, timeout=10.0, interval=0.02, what="condition"):
    """Polls `condition` until it gives something true, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


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


class Workspace:
    """A private folder for one test, named in the environment of this process (where the
    component reads it) and of the processes it starts."""

    def __init__(self, root, monkeypatch):
        self.root = str(root)
        for sub in ("tmp", "vhid", "ports", "config"):
            os.makedirs(self.path(sub), exist_ok=True)
        env = dict(LYX_REGISTRY=self.path("classes.ini"), TMPDIR=self.path("tmp"),
                   LYX_VHID_DIR=self.path("vhid"), LYX_PORT_DIR=self.path("ports"),
                   XDG_CONFIG_HOME=self.path("config"))
        for key, value in env.items():
            monkeypatch.setenv(key, value)
        self.env = dict(os.environ)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def register(self):
        subprocess.run([os.path.join(BIN, "lyx-regsvr"),
                        os.path.join(LIB, "libLyxDataProviderCOM.so")],
                       env=self.env, check=True, stdout=subprocess.DEVNULL)


EVENT_FIELD = re.compile(r'(\w[\w-]*)=("[^"]*"|\S+)')


def parse_event(line):
    parts = line.split(" ", 2)
    event = {"kind": parts[1] if len(parts) > 1 else "", "raw": line}
    if len(parts) > 2:
        for key, value in EVENT_FIELD.findall(parts[2]):
            event[key] = value.strip('"')
    return event


class Simulator:
    """lyx-basestation-sim as its own process: commands on its standard input, its events
    read from its standard output by a thread of this process."""

    def __init__(self, workspace, args=(), scenario=None):
        command = [os.path.join(BIN, "lyx-basestation-sim"),
                   "--vhid-dir", workspace.path("vhid"),
                   "--port-dir", workspace.path("ports")] + list(args)
        if scenario:
            command.append(scenario)
        self.process = subprocess.Popen(command, env=workspace.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, bufsize=1)
        self.output = []
        self.events = []
        self.replies = queue.Queue()
        self._lock = threading.Lock()
        self._ready = threading.Event()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        if not self._ready.wait(15):
            self.stop()
            raise AssertionError("the simulator did not get ready:\n" + "\n".join(self.output))

    def _read(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            with self._lock:
                self.output.append(line)
            if line == "ready":
                self._ready.set()
            elif line.startswith("event "):
                with self._lock:
                    self.events.append((time.monotonic(), parse_event(line)))
            elif line.startswith("ok") or line.startswith("error"):
                self.replies.put(line)
        self._ready.set()

    def command(self, line, timeout=10):
        """Sends one command and returns its answer line ("ok ..." or "error: ...")."""
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.replies.get(timeout=timeout)

    def events_of(self, kind, since=0.0):
        with self._lock:
            return [e for t, e in self.events if e["kind"] == kind and t >= since]

    def wait_event(self, kind, since=0.0, timeout=10, match=lambda e: True):
        return wait_for(lambda: [e for e in self.events_of(kind, since) if match(e)],
                        timeout=timeout, what=f"simulator event {kind}")[0]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            if stream:
                stream.close()
        self._reader.join(timeout=5)


@pytest.fixture
def workspace(tmp_path, monkeypatch):
    """A private workspace with the component registered."""
    ws = Workspace(tmp_path, monkeypatch)
    ws.register()
    return ws


@pytest.fixture
def start_sim(workspace):
    """Starts simulators: start_sim("station 1 usb", "module 0x10 tag=7", ...)."""
    started = []

    def start(*commands, scenario=None, args=()):
        arguments = list(args)
        for c in commands:
            arguments += ["-e", c]
        sim = Simulator(workspace, arguments, scenario)
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

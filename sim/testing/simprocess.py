"""The real lyx-basestation-sim as a separate process, and a private workspace for the programs
a test runs against it: settings, class registry, driver copies, the virtual USB bus and the
serial port entries. Shared by the end-to-end tests of the viewer and the command-line tool.
Every process started here is ended by its PID.
"""

import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time


class Timeout(AssertionError):
    pass


def wait_for(condition, timeout=10.0, interval=0.05, what="condition"):
    """Polls `condition` until it returns something true; that value is returned."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # the tree may change under a query
            last_error = error
        if time.monotonic() >= deadline:
            raise Timeout(f"timed out after {timeout} s waiting for {what}"
                          + (f" (last error: {last_error})" if last_error else ""))
        time.sleep(interval)


class Workspace:
    """A private folder for one test: settings, class registry, driver copies, the virtual
    USB bus and the serial port entries."""

    def __init__(self, build):
        self.build = build
        self.root = tempfile.mkdtemp(prefix="lyx-e2e-")
        for sub in ("config", "tmp", "vhid", "ports", "program"):
            os.makedirs(os.path.join(self.root, sub))
        self.env = dict(os.environ)
        self.env.update(
            XDG_CONFIG_HOME=self.path("config"),
            LYX_REGISTRY=self.path("classes.ini"),
            TMPDIR=self.path("tmp"),
            LYX_VHID_DIR=self.path("vhid"),
            LYX_PORT_DIR=self.path("ports"),
        )
        subprocess.run([os.path.join(build.bin, "lyx-regsvr"),
                        os.path.join(build.lib, "libLyxDataProviderCOM.so")],
                       env=self.env, check=True, stdout=subprocess.DEVNULL)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, name, text):
        """A file `name` with `text` in the workspace; its path."""
        path = self.path(name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Build:
    def __init__(self, bin_dir, lib_dir, scenarios):
        self.bin = bin_dir
        self.lib = lib_dir
        self.scenarios = scenarios


class Simulator:
    """lyx-basestation-sim as its own process: commands on its standard input, its events
    read from its standard output."""

    def __init__(self, workspace, scenario=None, args=()):
        command = [os.path.join(workspace.build.bin, "lyx-basestation-sim"),
                   "--vhid-dir", workspace.path("vhid"),
                   "--port-dir", workspace.path("ports")] + list(args)
        if scenario:
            command.append(scenario)
        self.process = subprocess.Popen(command, env=workspace.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, bufsize=1)
        self.lines = queue.Queue()
        self.events = []
        self.replies = queue.Queue()
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        wait_for(lambda: self._seen_ready, timeout=15, what="the simulator to be ready")

    _seen_ready = False

    def _read(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            if line == "ready":
                self._seen_ready = True
            elif line.startswith("event "):
                with self._lock:
                    self.events.append((time.monotonic(), parse_event(line)))
            elif line.startswith("ok") or line.startswith("error"):
                self.replies.put(line)
            self.lines.put(line)

    def command(self, line, timeout=10):
        """Sends one command and returns its answer line ("ok ..." or "error: ...")."""
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.replies.get(timeout=timeout)

    def events_of(self, kind, since=0.0):
        with self._lock:
            return [(t, e) for t, e in self.events if e["kind"] == kind and t >= since]

    def wait_event(self, kind, since=0.0, timeout=10, match=lambda e: True):
        return wait_for(lambda: [x for x in self.events_of(kind, since) if match(x[1])],
                        timeout=timeout, what=f"simulator event {kind}")[0]

    def stop(self):
        end_process(self.process)
        for stream in (self.process.stdin, self.process.stdout):
            if stream:
                stream.close()
        self._reader.join(timeout=5)


EVENT_FIELD = re.compile(r'(\w[\w-]*)=("[^"]*"|\S+)')


def parse_event(line):
    parts = line.split(" ", 2)
    event = {"kind": parts[1] if len(parts) > 1 else "", "line": line}
    if len(parts) > 2:
        for key, value in EVENT_FIELD.findall(parts[2]):
            event[key] = value.strip('"')
    return event


def end_process(process, timeout=10):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()

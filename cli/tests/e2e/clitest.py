"""Running the real `lyx` program as a process against a real lyx-basestation-sim process, in a
private workspace (class registry, virtual USB bus, serial port entries). Every process started
here is ended by its PID."""

import argparse
import json
import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "sim", "testing"))
from simprocess import Build, Simulator, Workspace, end_process, wait_for  # noqa: E402,F401


class Lyx:
    """A running `lyx` whose standard output is collected line by line."""

    def __init__(self, test, args):
        self.out_path = test.workspace.path(f"lyx-{time.monotonic_ns()}.out")
        self.err_path = self.out_path + ".err"
        self._out = open(self.out_path, "w")
        self._err = open(self.err_path, "w")
        self.process = subprocess.Popen([test.lyx_path] + list(args), env=test.workspace.env,
                                        stdout=self._out, stderr=self._err,
                                        stdin=subprocess.DEVNULL)

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def errors(self):
        with open(self.err_path) as f:
            return f.read()

    def lines(self):
        return [line for line in self.output().splitlines() if line]

    def wait_lines(self, count, timeout=15):
        return wait_for(lambda: len(self.lines()) >= count and self.lines(), timeout=timeout,
                        what=f"{count} lines from lyx")

    def stop(self, sig=signal.SIGINT, timeout=15):
        """Sends `sig` and returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(timeout=timeout)
        finally:
            self.close()
        return status

    def close(self):
        end_process(self.process)
        self._out.close()
        self._err.close()


class CliTest(unittest.TestCase):
    args = None

    def setUp(self):
        self.build = Build(self.args.bin, self.args.lib, self.args.scenarios)
        self.lyx_path = os.path.join(self.build.bin, "lyx")
        self.workspace = Workspace(self.build)
        self.sim = None
        self.running = []

    def tearDown(self):
        for process in self.running:
            process.close()
        if self.sim:
            self.sim.stop()
        self.workspace.remove()

    def start_simulator(self, text, args=("--trace-data",)):
        self.sim = Simulator(self.workspace, self.workspace.write("test.scn", text), args)
        return self.sim

    def lyx(self, *args, timeout=30):
        """Runs lyx to its end; returns the completed process (text output)."""
        return subprocess.run([self.lyx_path] + list(args), env=self.workspace.env,
                              capture_output=True, text=True, timeout=timeout,
                              stdin=subprocess.DEVNULL)

    def start_lyx(self, *args):
        process = Lyx(self, args)
        self.running.append(process)
        return process

    def heard(self, kind, since, **fields):
        """The simulator's events of `kind` since `since` whose fields match."""
        return [e for _, e in self.sim.events_of(kind, since)
                if all(e.get(k) == str(v) for k, v in fields.items())]

    def assertHeard(self, kind, since, **fields):
        """Such an event comes (its line may still be on its way from the simulator when the
        answer that follows it has already arrived); returns the first."""
        return self.sim.wait_event(kind, since, timeout=5,
                                   match=lambda e: all(e.get(k) == str(v) for k, v in fields.items()))[1]

    def assertExit(self, done, status, *texts):
        """`done` ended with `status` and its output holds every one of `texts`."""
        output = done.stdout + done.stderr
        self.assertEqual(done.returncode, status, output)
        for text in texts:
            self.assertIn(text, output)


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def main():
    """Runs the calling script's tests, given --bin, --lib and --scenarios; other arguments go
    to unittest."""
    parser = argparse.ArgumentParser()
    for option in ("--bin", "--lib", "--scenarios"):
        parser.add_argument(option, required=True)
    CliTest.args, rest = parser.parse_known_args()
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)

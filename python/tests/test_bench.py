"""The benchmarks still run: short runs of both, the simulator one at a low rate where no
packet may be lost on any machine. The figures come from full runs."""

import os
import re
import subprocess
import sys

from conftest import BENCH, BIN

BUILD = os.path.dirname(BIN)


def run(name, *args):
    return subprocess.run([sys.executable, os.path.join(BENCH, name), "--build", BUILD, *args],
                          capture_output=True, text=True, timeout=120)


def test_callback_bench_reports_packets_per_second():
    done = run("callback_bench.py", "--count", "20000")
    assert done.returncode == 0, done.stderr
    rates = re.findall(r"([\d,]+) packets/s", done.stdout)
    assert len(rates) == 4, done.stdout
    assert all(int(r.replace(",", "")) > 0 for r in rates)


def test_sim_bench_loses_nothing_at_a_low_rate():
    done = run("sim_bench.py", "--seconds", "2", "--rate", "100")
    assert done.returncode == 0, done.stdout + done.stderr
    assert re.search(r"\b\d+ sent, 0 lost", done.stdout), done.stdout

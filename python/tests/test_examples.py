"""The example scripts, run as a user runs them, against a real lyx-basestation-sim."""

import csv
import datetime
import os
import subprocess
import sys

import pytest

from conftest import EXAMPLES


def run_example(workspace, name, *args):
    env = dict(workspace.env, PYTHONPATH=os.environ["PYTHONPATH"])
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *args], env=env,
                          capture_output=True, text=True, timeout=60)


@pytest.fixture
def logged(workspace, start_sim):
    start_sim("station 1 usb",
              "module 0x10 tag=1234 type=float wave=sine offset=1000 amplitude=25 period=2s "
              "rate=20",
              'module 0x11 tag=42 type=string text="a, \\"quoted\\" text" rate=5 battery=low',
              args=("--quiet",))
    output = workspace.path("packets.csv")
    done = run_example(workspace, "log_csv.py", "--seconds", "2", "--output", output)
    assert done.returncode == 0, done.stderr
    assert done.stdout.endswith(f"packets in 2 s written to {output}\n")
    return output


def test_log_csv_writes_every_packet_with_its_fields(logged):
    with open(logged, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    assert list(rows[0]) == ["time", "ms", "station", "tag", "value", "status", "rssi", "cv",
                             "batt_low", "error", "number"]
    floats = [r for r in rows if r["tag"] == "1234"]
    texts = [r for r in rows if r["tag"] == "42"]
    assert 30 <= len(floats) <= 50 and 5 <= len(texts) <= 15
    for r in floats:
        assert 975 <= float(r["number"]) <= 1025
        assert float(r["value"]) == float(r["number"])
        assert (r["station"], r["batt_low"], r["error"]) == ("1", "0", "0")
        assert datetime.datetime.fromisoformat(r["time"]).utcoffset() is not None
    assert {(r["value"], r["number"], r["batt_low"]) for r in texts} == {
        ('a, "quoted" text', "", "1")}
    ms = [int(r["ms"]) for r in rows]
    assert ms == sorted(ms) and 0 <= ms[0] and ms[-1] <= 2500


def test_log_csv_is_read_by_pandas(logged):
    pd = pytest.importorskip("pandas")
    packets = pd.read_csv(logged, parse_dates=["time"])
    assert str(packets["number"].dtype) == "float64"
    assert str(packets["time"].dtype).startswith("datetime64")
    assert str(packets["batt_low"].dtype) == "int64"
    assert packets[packets.tag == 42]["number"].isna().all()


def test_remote_parameter_reads_and_writes(workspace, start_sim):
    start_sim("station 1 usb", "module 0x0A0B0C tag=1234 type=float value=1 rate=5",
              "param 0x0A0B0C 20 type=float value=1.0 min=0.1 max=10",
              'param 0x0A0B0C 21 type=string value="LC-1" access=ro', args=("--quiet",))
    done = run_example(workspace, "remote_parameter.py", "--id", "0x0A0B0C", "--parameter", "21")
    assert (done.returncode, done.stdout) == (0, "parameter 21 of module 0x0A0B0C: LC-1\n")

    done = run_example(workspace, "remote_parameter.py", "--id", "0x0A0B0C", "--parameter", "20",
                       "--write", "2.5")
    assert (done.returncode, done.stdout) == (
        0, "write '2.5' to parameter 20 of module 0x0A0B0C: RT_ACK\n"
           "parameter 20 of module 0x0A0B0C: 2.5\n")

    done = run_example(workspace, "remote_parameter.py", "--id", "0x0A0B0C", "--parameter", "21",
                       "--write", "x")
    assert done.returncode == 2
    assert done.stdout == "write 'x' to parameter 21 of module 0x0A0B0C: RT_NAK\n"


def test_the_readme_example_says_when_nothing_arrives(workspace, start_sim):
    readme = open(os.path.join(os.path.dirname(EXAMPLES), "..", "README.md"),
                  encoding="utf-8").read()
    start = readme.index("```python\n", readme.index("## Python: `import lyx`"))
    code = readme[start + len("```python\n"):readme.index("```\n", start)]
    assert "timeout=10" in code
    script = workspace.write("readme_example.py", code.replace("timeout=10", "timeout=2"))
    env = dict(workspace.env, PYTHONPATH=os.environ["PYTHONPATH"])

    def run():
        return subprocess.run([sys.executable, script], env=env, capture_output=True,
                              text=True, timeout=60)

    # No base station: a warning, the reason and a failure status instead of silence.
    done = run()
    assert (done.returncode, done.stdout) == (1, ""), done.stderr
    assert "RuntimeWarning: Initialise(0, 0): no USB base station is plugged in" in done.stderr
    assert done.stderr.endswith("no packet in 10 s; base stations on the link: []\n")
    start_sim("station 1 usb", "module 0x10 tag=1234 type=float value=2.5 rate=10",
              args=("--quiet",))
    done = run()
    assert done.returncode == 0 and done.stderr == "", done.stderr
    assert done.stdout.splitlines()[0] == "1234 2.500000 2.5 -60"

"""Replay benchmark: a recording of 1 000 000 rows (three modules of one USB base station, in
the CSV form lyx log writes) replayed by lyx-basestation-sim at --speed 0, as fast as the link
takes the packets, into `lyx log`. Reports the time to read the recording, rows per second, the
rows logged against the rows sent, the CPU share of the simulator and of lyx, and the
simulator's peak memory.

    /usr/bin/python3 sim/bench/replay_bench.py --bin build/release/bin --lib build/release/lib
"""

import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing"))
from simprocess import Build, Simulator, Workspace, end_process, wait_for  # noqa: E402


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_memory_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def write_recording(path, rows):
    """`rows` rows at 12 000 a second: a counting int32, a float and a string."""
    with open(path, "w") as f:
        f.write("time,ms,station,tag,value,status,rssi,cv,batt_low,error\n")
        chunk = []
        for i in range(rows):
            ms = i // 12
            second, millis = divmod(ms, 1000)
            minute, second = divmod(second, 60)
            stamp = f"2026-12-08T07:{minute % 60:02d}:{second:02d}.{millis:03d}+01:00"
            kind = i % 3
            value = (str(i // 3) if kind == 0 else
                     f"{1 + (i % 1000) / 8:.6f}"[:8] if kind == 1 else f"state {i % 7}")
            chunk.append(f"{stamp},{ms},1,{301 + kind},{value},0,-60,100,0,0\n")
            if len(chunk) == 10000:
                f.write("".join(chunk))
                chunk.clear()
        f.write("".join(chunk))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--rows", type=int, default=1_000_000)
    args = parser.parse_args()
    workspace = Workspace(Build(args.bin, args.lib, ""))
    sim = lyx = None
    try:
        recording = workspace.path("recording.csv")
        write_recording(recording, args.rows)
        sim = Simulator(workspace, workspace.write("station.scn", "station 1 usb channel=1\n"))
        out = workspace.path("replayed.csv")
        err = open(workspace.path("lyx.err"), "w")
        lyx = subprocess.Popen([os.path.join(args.bin, "lyx"), "log", out], env=workspace.env,
                               stdout=subprocess.DEVNULL, stderr=err)
        wait_for(lambda: "logging to" in open(workspace.path("lyx.err")).read(), timeout=20,
                 what="lyx to listen")
        sim_cpu0, lyx_cpu0 = cpu_seconds(sim.process.pid), cpu_seconds(lyx.pid)
        asked = time.monotonic()
        answer = sim.command(f"replay {recording} speed=0", timeout=600)
        started = time.monotonic()
        if not answer.startswith("ok"):
            raise SystemExit(f"replay refused: {answer}")
        sim_cpu1 = cpu_seconds(sim.process.pid)
        _, ended = sim.wait_event("replay-ended", since=asked, timeout=3600)
        finished = time.monotonic()
        sim_cpu2, lyx_cpu2 = cpu_seconds(sim.process.pid), cpu_seconds(lyx.pid)
        status = sim.command("show replay")
        stats = sim.command("show stats")
        memory = peak_memory_mib(sim.process.pid)
        time.sleep(2.0)  # the last rows on their way into the file
        lyx.send_signal(signal.SIGINT)
        lyx.wait(timeout=60)
        err.close()
        with open(out) as f:
            logged = sum(1 for _ in f) - 1
        sent = int(ended["sent"])
        seconds = finished - started
        print(f"replay of {args.rows} rows at --speed 0 into lyx log (one USB base station)")
        print(f"  reading the recording {started - asked:.2f} s "
              f"(simulator CPU {sim_cpu1 - sim_cpu0:.2f} s), peak memory {memory:.0f} MiB")
        print(f"  replay {seconds:.1f} s: {sent / seconds:.0f} rows/s sent, "
              f"{logged} rows logged of {sent} ({'all' if logged == sent else logged - sent})")
        print(f"  CPU while replaying: simulator {100 * (sim_cpu2 - sim_cpu1) / seconds:.1f} %, "
              f"lyx {100 * (lyx_cpu2 - lyx_cpu0) / (finished - asked):.1f} % of one core")
        print(f"  simulator: {status}")
        print(f"  simulator: {stats}")
    finally:
        if lyx:
            end_process(lyx)
        if sim:
            sim.stop()
        workspace.remove()


if __name__ == "__main__":
    main()

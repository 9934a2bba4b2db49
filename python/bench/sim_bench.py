#!/usr/bin/python3
"""Packets delivered to a Python callback from lyx-basestation-sim (its own process): three
USB base stations, each hearing one module that sends `--rate` packets a second (default
1 000), for `--seconds`; the packets each module sent against those the callback got. The
stations send at most one USB report a millisecond, as real ones do.

    sim_bench.py --build BUILD [--seconds 30] [--rate 1000] [--sim PATH]

--sim takes the simulator from elsewhere, to measure an older build against the same one.

The modules are switched on after the link is open and off before the count, so every
packet sent was one the script could receive. Exits with 1 when a packet was lost.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

STATIONS = (1, 2, 3)


def module_id(station):
    return 0x100 + station


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--rate", type=int, default=1000)
    parser.add_argument("--sim", help="the lyx-basestation-sim to run (default: the build's)")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import lyx

    folder = tempfile.mkdtemp(prefix="lyx-bench-")
    for sub in ("tmp", "vhid"):
        os.makedirs(os.path.join(folder, sub))
    os.environ.update(LYX_REGISTRY=os.path.join(folder, "classes.ini"),
                      TMPDIR=os.path.join(folder, "tmp"), LYX_VHID_DIR=os.path.join(folder, "vhid"))
    subprocess.run([os.path.join(args.build, "bin", "lyx-regsvr"),
                    os.path.join(args.build, "lib", "libLyxDataProviderCOM.so")],
                   check=True, stdout=subprocess.DEVNULL)
    command = [args.sim or os.path.join(args.build, "bin", "lyx-basestation-sim"), "--quiet",
               "--vhid-dir", os.path.join(folder, "vhid")]
    for n in STATIONS:
        command += ["-e", f"station {n} usb channel={n} report-every=1ms",
                    "-e", f"module {module_id(n)} tag={1000 + n} channel={n} type=int32 "
                          f"wave=ramp offset=0 amplitude=100000 period=10s rate={args.rate} "
                          "power=off"]
    sim = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                           bufsize=1)

    def ask(line):
        sim.stdin.write(line + "\n")
        sim.stdin.flush()
        while True:
            answer = sim.stdout.readline()
            if answer.startswith(("ok", "error")):
                return answer

    try:
        while sim.stdout.readline().strip() != "ready":
            pass
        received = {1000 + n: 0 for n in STATIONS}

        def count(packet):
            received[packet.tag] += 1

        with lyx.DataProvider() as dp:
            assert dp.Initialise(0, 0) == 0
            dp.on_packet(count)
            for n in STATIONS:
                ask(f"powerup {module_id(n)}")
            cpu0, wall0 = time.process_time(), time.monotonic()
            while time.monotonic() - wall0 < args.seconds:
                dp.pump(0.1)
            cpu1, wall1 = time.process_time(), time.monotonic()
            for n in STATIONS:
                ask(f"powerdown {module_id(n)}")
            while dp.pump(0.5):  # what is still on its way
                pass
            sent = {}
            for n in STATIONS:
                shown = ask(f"show module {module_id(n)}")
                sent[1000 + n] = int(re.search(r"packets=(\d+)", shown).group(1))
        lost = {tag: sent[tag] - received[tag] for tag in sent}
        total_sent, total_lost = sum(sent.values()), sum(lost.values())
        print(f"lyx-basestation-sim: {len(STATIONS)} USB stations x {args.rate} packets/s, "
              f"{wall1 - wall0:.1f} s, one Python callback counting them")
        for tag in sent:
            print(f"  tag {tag}: sent {sent[tag]}, received {received[tag]}, lost {lost[tag]}")
        print(f"  {total_sent} sent, {total_lost} lost; "
              f"{sum(received.values()) / (wall1 - wall0):,.0f} packets/s received; "
              f"CPU of this process {100 * (cpu1 - cpu0) / (wall1 - wall0):.1f} % of one core")
        return 1 if total_lost != 0 else 0
    finally:
        if sim.poll() is None:
            sim.terminate()
            sim.wait(timeout=10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

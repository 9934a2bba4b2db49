#!/usr/bin/python3
"""Readings lost to commands: one module counting its packets (wave=count) at `--rate` a second
(default 1 000) for `--seconds` (default 60), while the same Python script reads one of the
module's parameters every 0.5 s and, once, pairs for 5 s with nobody to pair. Every reading must
arrive, in order: the counts the callback saw must run without a gap up to the number the module
sent.

    loss_bench.py --build BUILD [--seconds 60] [--rate 1000]

Exits with 1 when a reading was lost or came out of order.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

MODULE = 0x0A0B0C
TAG = 100
PARAMETER = 20


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rate", type=int, default=1000)
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import lyx

    folder = tempfile.mkdtemp(prefix="lyx-loss-")
    for sub in ("tmp", "vhid"):
        os.makedirs(os.path.join(folder, sub))
    os.environ.update(LYX_REGISTRY=os.path.join(folder, "classes.ini"),
                      TMPDIR=os.path.join(folder, "tmp"), LYX_VHID_DIR=os.path.join(folder, "vhid"))
    subprocess.run([os.path.join(args.build, "bin", "lyx-regsvr"),
                    os.path.join(args.build, "lib", "libLyxDataProviderCOM.so")],
                   check=True, stdout=subprocess.DEVNULL)
    command = [os.path.join(args.build, "bin", "lyx-basestation-sim"), "--quiet",
               "--vhid-dir", os.path.join(folder, "vhid"),
               "-e", "station 1 usb channel=1",
               "-e", f"module {MODULE} tag={TAG} channel=1 type=int32 wave=count "
                     f"rate={args.rate} power=off",
               "-e", f"param {MODULE} {PARAMETER} type=float value=2.5"]
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
        values = []
        reads = {"done": 0, "answered": 0}
        pairing = None

        def take(packet):
            if packet.tag == TAG:
                values.append(int(packet.value))

        with lyx.DataProvider() as dp:
            assert dp.Initialise(0, 0) == 0
            dp.on_packet(take)
            ask(f"powerup {MODULE}")
            start = time.monotonic()
            next_read = start + 0.5
            paired = False
            while time.monotonic() - start < args.seconds:
                now = time.monotonic()
                if not paired and now - start >= args.seconds / 3:
                    paired = True
                    t0 = time.monotonic()
                    result = dp.Pair(1, 0, 5)[0]
                    pairing = (result, time.monotonic() - t0)
                elif now >= next_read:
                    next_read += 0.5
                    answer, _ = dp.RemoteRead(1, MODULE, PARAMETER)
                    reads["done"] += 1
                    reads["answered"] += int(answer) == 0
                else:
                    dp.pump(max(0.0, next_read - now))
            ask(f"powerdown {MODULE}")
            while dp.pump(0.5):  # what is still on its way
                pass
            sent = int(re.search(r"packets=(\d+)", ask(f"show module {MODULE}")).group(1))
            link = dp.link_statistics() if hasattr(dp, "link_statistics") else None
        gaps = sum(1 for a, b in zip(values, values[1:]) if b != a + 1)
        lost = sent - len(values)
        print(f"one module at {args.rate} packets/s for {args.seconds:.0f} s; a parameter read "
              f"every 0.5 s ({reads['done']} reads, {reads['answered']} answered); one pairing "
              f"of 5 s (result {pairing[0]}, {pairing[1]:.1f} s)")
        print(f"  sent {sent}, received {len(values)}, lost {lost}, "
              f"breaks in the count {gaps}")
        if link is not None:
            print(f"  link: delivered {link['frames_delivered']}, dropped "
                  f"{link['frames_dropped']}, bytes dropped {link['bytes_dropped']}, "
                  f"at most {link['held_max']} held at once")
        return 1 if lost != 0 or gaps != 0 else 0
    finally:
        if sim.poll() is None:
            sim.terminate()
            sim.wait(timeout=10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Packets per second delivered to a Python callback through TriggerEvent, the routine the
driver's notification ends in: the frame of a DT_FLOAT packet handed over again and again.

    callback_bench.py --build BUILD [--count 500000]

BUILD is the build folder (its bin/, lib/ and python/ are used). The component is
registered in a private class registry for the run.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# A DT_FLOAT packet of tag 1234, value 1.5, as the driver hands it over.
FRAME = bytes([11, 11, 1, 0x03, 0x04, 0xD2, 0, 4, 0x3F, 0xC0, 0, 0, 0xC8, 0x64, 0, 0])


def setup(build):
    sys.path.insert(0, os.path.join(build, "python"))
    folder = tempfile.mkdtemp(prefix="lyx-bench-")
    os.environ.update(LYX_REGISTRY=os.path.join(folder, "classes.ini"),
                      TMPDIR=os.path.join(folder, "tmp"))
    os.makedirs(os.environ["TMPDIR"])
    subprocess.run([os.path.join(build, "bin", "lyx-regsvr"),
                    os.path.join(build, "lib", "libLyxDataProviderCOM.so")],
                   check=True, stdout=subprocess.DEVNULL)
    return folder


def rate(dp, count):
    trigger = dp.TriggerEvent
    start = time.perf_counter()
    for _ in range(count):
        trigger(FRAME)
    return count / (time.perf_counter() - start)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--count", type=int, default=500000)
    args = parser.parse_args()
    folder = setup(args.build)
    import lyx

    try:
        with lyx.DataProvider() as dp:
            results = []
            dp.on_packet(None)
            results.append(("no callback (the component alone)", rate(dp, args.count)))
            dp.on_packet(lambda packet: None)
            results.append(("a callback that does nothing", rate(dp, args.count)))
            dp.on_packet(lambda packet: packet.number)
            results.append(("a callback reading packet.number", rate(dp, args.count)))
            dp.on_packet(None)
            packets = dp.packets(timeout=0)
            waiting = rate(dp, min(args.count, 100000))
            packets.close()
            results.append(("a packets() iterator collecting them", waiting))
            assert dp.ReadPacket(1234, 60000) == "1.500000"
        print(f"TriggerEvent from Python, {args.count} frames of a DT_FLOAT packet "
              f"({sys.executable} {sys.version.split()[0]}):")
        for what, r in results:
            print(f"  {what:40s} {r:12,.0f} packets/s")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()

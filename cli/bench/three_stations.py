"""What the benchmarks of lyx share: three simulated USB base stations with one module each,
sending a rising int32 at a given rate while powered up, and the CPU time of a process.

The stations send at most one USB report a millisecond, as real full-speed base stations do;
at more than 1 000 packets a second a report carries several packets. `packed=False` gives
every packet a report of its own, at once, as the simulator does by default."""

import argparse
import os
import time

MODULES = ("0x0C0001", "0x0C0002", "0x0C0003")


def scenario(rate, packed=True):
    every = " report-every=1ms" if packed else ""
    return "".join(
        f"station {n} usb channel={n} id=0x00000{n}{every}\n"
        f"module 0x0C000{n} tag={100 + n} channel={n} type=int32 wave=ramp amplitude=1000000 "
        f"period=1000s rate={rate} power=off\n" for n in (1, 2, 3))


def arguments():
    """The options every benchmark takes; callers may add their own."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--lib", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--rate", type=int, default=1000)
    parser.add_argument("--report-per-packet", action="store_true",
                        help="every packet in a USB report of its own (not as real stations)")
    return parser


def power(sim, on):
    for m in MODULES:
        sim.command(f"{'powerup' if on else 'powerdown'} {m}")


def packets_sent(sim):
    """How many packets each module has sent, in the order of MODULES."""
    return [int(sim.command(f"show module {m}").split("packets=")[1].split()[0])
            for m in MODULES]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def send_for(sim, seconds, pid):
    """Powers the modules up for `seconds`, then down; returns the CPU share of process `pid`
    meanwhile, in percent of one core."""
    cpu0, wall0 = cpu_seconds(pid), time.monotonic()
    power(sim, True)
    time.sleep(seconds)
    power(sim, False)
    return 100.0 * (cpu_seconds(pid) - cpu0) / (time.monotonic() - wall0)

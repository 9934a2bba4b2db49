"""The MQTT gateway's spool: three simulated USB base stations, one module each at 1 000 packets
a second, published by `lyx mqtt --qos 1 --spool DIR` to a local mosquitto broker.

1. The broker up for --seconds, with the spool and without it: the gateway's CPU share (the
   spool must cost nothing while the broker keeps up).
2. The broker (with persistence) stopped for --outage seconds and started again while the
   modules go on sending; a subscriber of QoS 1 with a persistent session must receive every
   packet of the run, each module's in order. Reports the gateway's CPU share while it spools,
   and the replay rate: the spooled packets over the time from the reconnection until the last
   of them reached the subscriber.

    /usr/bin/python3 cli/bench/spool_bench.py --bin build/release/bin --lib build/release/lib
"""

import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "sim", "testing"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from mqttprocess import Broker, Subscriber  # noqa: E402
from simprocess import Build, Simulator, Workspace, end_process, wait_for  # noqa: E402
from three_stations import MODULES, arguments, cpu_seconds, packets_sent, power  # noqa: E402


def scenario(rate):
    """As three_stations.scenario, but every packet's value one more than its module's last, so
    that a lost or reordered packet shows."""
    return "".join(
        f"station {n} usb channel={n} id=0x00000{n} report-every=1ms\n"
        f"module 0x0C000{n} tag={100 + n} channel={n} type=int32 wave=count rate={rate} "
        f"power=off\n" for n in (1, 2, 3))


class Run:
    """The simulator, a broker, a subscriber and the gateway, ended by their PIDs."""

    def __init__(self, args, persistent, spool):
        self.workspace = Workspace(Build(args.bin, args.lib, ""))
        gateway_args = ("--spool", self.workspace.path("spool")) if spool else ()
        self.sim = self.gateway = self.broker = self.sub = None
        self.err_path = self.workspace.path("gateway.err")
        path = self.workspace.write("scenario.scn", scenario(args.rate))
        self.sim = Simulator(self.workspace, path, ("--quiet",))
        self.broker = Broker(self.workspace.root, persistent=persistent)
        self.sub = Subscriber(self.broker, self.workspace.root, ["lyx/+/+/packet"], qos=1,
                              client_id="spool-bench")
        self.err = open(self.err_path, "w")
        self.gateway = subprocess.Popen(
            [os.path.join(args.bin, "lyx"), "mqtt", "--broker", self.broker.url(), "--qos", "1",
             "--client-id", "bench", *gateway_args],
            env=self.workspace.env, stdout=subprocess.DEVNULL, stderr=self.err)
        wait_for(lambda: "connected to" in self.errors(), timeout=20,
                 what="the gateway to connect")

    def errors(self):
        with open(self.err_path) as f:
            return f.read()

    def quiet(self):
        """Waits until the subscriber has had nothing new for 3 s."""
        last, stable = -1, 0
        while stable < 3:
            time.sleep(1)
            with open(self.sub.path) as f:
                n = sum(1 for _ in f)
            stable = stable + 1 if n == last else 0
            last = n

    def close(self):
        if self.gateway:
            end_process(self.gateway)
            self.err.close()
        if self.sub:
            self.sub.stop()
        if self.broker:
            self.broker.stop()
        if self.sim:
            self.sim.stop()
        self.workspace.remove()


def cpu_while_up(args, spool):
    run = Run(args, False, spool)
    try:
        pid = run.gateway.pid
        cpu0, wall0 = cpu_seconds(pid), time.monotonic()
        power(run.sim, True)
        time.sleep(args.seconds)
        power(run.sim, False)
        cpu = 100.0 * (cpu_seconds(pid) - cpu0) / (time.monotonic() - wall0)
        sent = sum(packets_sent(run.sim))
        run.quiet()
        received = len(run.sub.messages())
        print(f"  broker up, {'with' if spool else 'without'} the spool: CPU of lyx mqtt "
              f"{cpu:.1f} % of one core; {received} of {sent} packets received")
    finally:
        run.close()


def outage(args):
    run = Run(args, True, True)
    try:
        pid = run.gateway.pid
        power(run.sim, True)
        time.sleep(5)
        run.broker.stop()
        cpu0, wall0 = cpu_seconds(pid), time.monotonic()
        time.sleep(args.outage)
        spooling = 100.0 * (cpu_seconds(pid) - cpu0) / (time.monotonic() - wall0)
        run.broker.start()
        back = time.time()
        time.sleep(5)
        power(run.sim, False)
        sent = packets_sent(run.sim)
        run.quiet()
        messages = run.sub.messages()
        ok = True
        for n, module in enumerate(MODULES, start=1):
            values = [json.loads(m.payload)["value"] for m in messages
                      if m.topic == f"lyx/00000{n}/{100 + n}/packet"]
            unique = list(dict.fromkeys(values))
            whole = unique == list(range(unique[0], unique[0] + sent[n - 1])) if unique else False
            ok = ok and whole
            print(f"  station {n}: {len(unique)} of {sent[n - 1]} packets"
                  f"{'' if len(values) == len(unique) else f' ({len(values) - len(unique)} twice)'}"
                  f", {'all, in order' if whole else 'MISSING OR OUT OF ORDER'}")
        historical = [m for m in messages if '"historical":true' in m.payload]
        if historical:
            seconds = max(m.received for m in historical) - back
            print(f"  {len(historical)} packets from the spool; the last reached the subscriber "
                  f"{seconds:.1f} s after the broker was started again: "
                  f"{len(historical) / seconds:.0f} packets/s replayed (while 3 000/s more came)")
        run.gateway.send_signal(signal.SIGTERM)
        run.gateway.wait(timeout=30)
        print(f"  CPU of lyx mqtt while it spooled: {spooling:.1f} % of one core")
        print(f"  {run.errors().strip().splitlines()[-1] if run.errors().strip() else ''}")
        print(f"  every packet of the run received: {'yes' if ok else 'NO'}")
    finally:
        run.close()


def main():
    parser = arguments()
    parser.add_argument("--outage", type=float, default=60)
    args = parser.parse_args()
    print(f"lyx mqtt --qos 1 --spool: {len(MODULES)} stations x {args.rate} packets/s")
    cpu_while_up(args, False)
    cpu_while_up(args, True)
    outage(args)


if __name__ == "__main__":
    main()

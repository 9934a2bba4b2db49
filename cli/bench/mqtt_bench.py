"""MQTT gateway benchmark: three simulated USB base stations, one module each at 1 000 packets
a second, published by `lyx mqtt` to a local mosquitto broker for a minute, at QoS 0 and then
at QoS 1. Reports packets published against packets sent, the median and 99th percentile of
the time from the gateway's receipt of a packet (its "time") to a subscriber's receipt, and
the CPU share of the gateway.

    /usr/bin/python3 cli/bench/mqtt_bench.py --bin build/release/bin --lib build/release/lib
"""

import datetime
import json
import os
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "sim", "testing"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from mqttprocess import Broker, Subscriber  # noqa: E402
from simprocess import Build, Simulator, Workspace, end_process, wait_for  # noqa: E402
from three_stations import (MODULES, arguments, packets_sent, scenario,  # noqa: E402
                            send_for)



def gateway_time(text):
    return datetime.datetime.fromisoformat(text).timestamp()


def run(args, qos):
    workspace = Workspace(Build(args.bin, args.lib, ""))
    sim = gateway = broker = sub = None
    try:
        path = workspace.write("scenario.scn", scenario(args.rate, not args.report_per_packet))
        sim = Simulator(workspace, path, ("--quiet",))
        broker = Broker(workspace.root)
        sub = Subscriber(broker, workspace.root, ["lyx/+/+/packet"], qos=qos)
        err = open(workspace.path("gateway.err"), "w")
        gateway = subprocess.Popen(
            [os.path.join(args.bin, "lyx"), "mqtt", "--broker", broker.url(), "--qos", str(qos),
             "--client-id", "bench"], env=workspace.env, stdout=subprocess.DEVNULL, stderr=err)
        wait_for(lambda: "connected to" in open(workspace.path("gateway.err")).read(),
                 timeout=20, what="the gateway to connect")
        cpu = send_for(sim, args.seconds, gateway.pid)
        per_station = packets_sent(sim)
        sent = sum(per_station)
        # Whatever is still on its way.
        last, stable = -1, 0
        while stable < 3:
            time.sleep(1)
            n = sum(1 for _ in open(sub.path))
            stable = stable + 1 if n == last else 0
            last = n
        gateway.send_signal(signal.SIGTERM)
        gateway.wait(timeout=30)
        err.close()
        messages = sub.messages()
        received = len(messages)
        by_station = [sum(1 for m in messages if m.topic.startswith(f"lyx/00000{n}/"))
                      for n in (1, 2, 3)]
        latencies = [(m.received - gateway_time(json.loads(m.payload)["time"])) * 1000.0
                     for m in messages]
        latencies.sort()
        summary = open(workspace.path("gateway.err")).read().strip().splitlines()[-1]
        print(f"lyx mqtt, QoS {qos}: {len(MODULES)} stations x {args.rate} packets/s "
              f"for {args.seconds:.0f} s")
        print(f"  packets sent {sent}, received by the subscriber {received} "
              f"({'all' if received == sent else received - sent}); per station "
              + ", ".join(f"{r}/{s}" for r, s in zip(by_station, per_station)))
        if latencies:
            p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
            print(f"  gateway receipt to subscriber: median {statistics.median(latencies):.1f} ms, "
                  f"p99 {p99:.1f} ms, largest {latencies[-1]:.1f} ms "
                  "(the packet's time is in whole milliseconds)")
        print(f"  CPU of lyx mqtt {cpu:.1f} % of one core")
        print(f"  {summary}")
    finally:
        for p in (gateway,):
            if p:
                end_process(p)
        if sub:
            sub.stop()
        if broker:
            broker.stop()
        if sim:
            sim.stop()
        workspace.remove()


def main():
    parser = arguments()
    parser.add_argument("--qos", type=int, choices=(0, 1), action="append")
    args = parser.parse_args()
    for qos in args.qos or (0, 1):
        run(args, qos)


if __name__ == "__main__":
    main()

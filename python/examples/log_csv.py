#!/usr/bin/python3
"""Logs every packet that arrives to a CSV file for a number of seconds, in a form pandas
reads as it is.

    python3 log_csv.py --seconds 60 --output packets.csv               # the USB base stations
    python3 log_csv.py --port 3 --baud 115200 --output packets.csv     # serial port 3

    import pandas as pd
    packets = pd.read_csv("packets.csv", parse_dates=["time"])
    packets[packets.tag == 1234].plot(x="time", y="number")

The columns are those of the command-line tool's `lyx log` CSV files, and one more: time
(ISO 8601, local time with its UTC offset, milliseconds), ms (milliseconds since the
start), station, tag, value (the value text), status, rssi, cv, batt_low and error (1 or
0), and number (the value as a number, empty when it is none). The file is UTF-8.
"""

import argparse
import csv
import datetime
import sys
import time

import lyx

COLUMNS = ["time", "ms", "station", "tag", "value", "status", "rssi", "cv", "batt_low", "error",
           "number"]


def row(packet, start):
    now = datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")
    number = packet.number
    return [now, round(1000 * (time.monotonic() - start)), packet.base_station, packet.tag,
            packet.value, packet.status, packet.rssi, packet.cv, int(packet.batt_low),
            int(packet.error), "" if number is None else repr(number)]


def main(argv=None):
    parser = argparse.ArgumentParser(description="Log every packet to a CSV file.")
    parser.add_argument("--seconds", type=float, default=10, help="how long (default 10)")
    parser.add_argument("--output", required=True, help="the CSV file to write")
    parser.add_argument("--port", type=int, default=0,
                        help="serial port number; 0 (the default) for the USB base stations")
    parser.add_argument("--baud", type=int, default=115200, help="serial line speed")
    args = parser.parse_args(argv)

    count = 0
    with lyx.DataProvider() as dp:
        opened = dp.Initialise(args.port, args.baud)
        if opened != 0:
            print(f"log_csv: cannot open port {args.port} (result {opened})", file=sys.stderr)
            return 1
        with open(args.output, "w", newline="", encoding="utf-8") as f:
            writer = csv.writer(f)
            writer.writerow(COLUMNS)
            start = time.monotonic()
            for packet in dp.packets(timeout=args.seconds):
                writer.writerow(row(packet, start))
                count += 1
    print(f"{count} packets in {args.seconds:g} s written to {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Reads a parameter of a remote module and, when asked, writes it first.

    python3 remote_parameter.py --id 0x0A0B0C --parameter 20              # read it
    python3 remote_parameter.py --id 0x0A0B0C --parameter 20 --write 2.5  # write, read back

The module should be paused or in configuration mode after a pairing for its parameters
to be reached (PauseByDataTag, PairConfig). Every value travels as text; the module
converts it to the parameter's type. Exits with 0 when every request was acknowledged,
2 when one was not.
"""

import argparse
import sys

import lyx


def number(text):
    return int(text, 0)


def name(result):
    """RT_ACK, RT_NAK, ... or the number of a result that is none of them."""
    return getattr(result, "name", str(result))


def main(argv=None):
    parser = argparse.ArgumentParser(description="Read or write a remote module parameter.")
    parser.add_argument("--id", type=number, required=True,
                        help="the module's ID (0x.. or decimal)")
    parser.add_argument("--parameter", type=number, required=True, help="the parameter number")
    parser.add_argument("--write", metavar="VALUE", help="write VALUE first")
    parser.add_argument("--base-station", type=number, default=1, help="base station (default 1)")
    parser.add_argument("--port", type=int, default=0,
                        help="serial port number; 0 (the default) for the USB base stations")
    parser.add_argument("--baud", type=int, default=115200, help="serial line speed")
    args = parser.parse_args(argv)

    with lyx.DataProvider() as dp:
        opened = dp.Initialise(args.port, args.baud)
        if opened != 0:
            print(f"remote_parameter: cannot open port {args.port} (result {opened})",
                  file=sys.stderr)
            return 1
        where = f"parameter {args.parameter} of module 0x{args.id:06X}"
        if args.write is not None:
            result = dp.RemoteWrite(args.base_station, args.id, args.parameter, args.write)
            print(f"write {args.write!r} to {where}: {name(result)}")
            if result != lyx.RT_ACK:
                return 2
        result, value = dp.RemoteRead(args.base_station, args.id, args.parameter)
        if result != lyx.RT_ACK:
            print(f"read {where}: {name(result)}")
            return 2
        print(f"{where}: {value}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

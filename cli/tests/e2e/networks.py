"""The simulated network that the command tests of lyx and of its MQTT gateway both use:
one base station, a load cell with two parameters, a counter, a module that never answers,
and a module kept powered off for pairing."""

COMMAND_NETWORK = """
station 1 usb channel=1 id=0x001234
module 0x0A0B0C tag=1234 type=float value=12.5 rate=5
param 0x0A0B0C 20 type=float value=1.0 min=0.1 max=10
param 0x0A0B0C 21 type=string value="LC-1" access=ro
module 0x0A0B0D tag=1235 type=uint16 value=7 rate=5
module 0x0A0B0E tag=1236 type=uint8 value=1 rate=5 answers=no
module 66051 tag=42 channel=7 type=float value=12.5 rate=2 power=off
"""
LOAD_CELL = 0x0A0B0C
COUNTER = 0x0A0B0D
SILENT = 0x0A0B0E

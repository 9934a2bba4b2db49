"""Packets from a real lyx-basestation-sim process through on_packet() and packets()."""

import threading
import time

import pytest

import lyx
from conftest import Unraisables, pump_until

# One module of every data type on USB base station 1, each on its own tag, with the
# signal, link, status and flag fields set apart; and what the packet gives of each. (A
# DT_NONE packet carries no value bytes: at 12 bytes it is below the component's minimum and
# never raised; test_module shows one with a value byte.)
MODULES = [
    ("module 0x102 tag=102 type=uint8 value=200 rate=20 status=5", "200"),
    ("module 0x103 tag=103 type=uint16 value=65534 rate=20 rssi=-70", "65534"),
    ("module 0x104 tag=104 type=int32 value=-2 rate=20 quality=33", "-2"),
    ("module 0x105 tag=105 type=int32 value=123456789 rate=20", "1.234568E+08"),
    ("module 0x106 tag=106 type=float value=1.5 rate=20 battery=low", "1.500000"),
    ("module 0x107 tag=107 type=float value=-5.5 rate=20 error=yes", "-5.500000"),
    ('module 0x108 tag=108 type=string text="Load cell 1" rate=20', "Load cell 1"),
    ("module 0x109 tag=109 type=binary bytes=00FF80 rate=20", "\x00\xff\x80"),
]


def expected(tag):
    line, value = next(m for m in MODULES if f"tag={tag} " in m[0])
    return lyx.Packet(1, tag, value,
                      status=5 if "status=5" in line else 0,
                      rssi=-70 if "rssi=-70" in line else -60,
                      cv=33 if "quality=33" in line else 100,
                      batt_low="battery=low" in line,
                      error="error=yes" in line)


@pytest.fixture
def usb(start_sim, make_dp):
    """An initialised DataProvider on the simulator's USB base station with every module."""
    sim = start_sim("station 1 usb", *[m for m, _ in MODULES], args=("--quiet",))
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    return sim, dp


def test_every_data_type_arrives_through_on_packet_with_its_fields(usb):
    _, dp = usb
    last = {}
    dp.on_packet(lambda p: last.__setitem__(p.tag, p))
    pump_until(dp, lambda: len(last) == len(MODULES), what="a packet of every module")
    for tag, packet in last.items():
        assert packet == expected(tag), tag
    assert last[102].number == 200.0 and last[105].number == 1.234568e8
    assert last[108].number is None
    assert last[109].raw == b"\x00\xff\x80"


def test_every_data_type_arrives_through_packets(usb):
    _, dp = usb
    last = {}
    for packet in dp.packets(timeout=10):
        last[packet.tag] = packet
        if len(last) == len(MODULES):
            break
    assert {tag: p for tag, p in last.items()} == {tag: expected(tag) for tag in last}
    assert len(last) == len(MODULES)


def test_on_packet_and_packets_both_get_every_packet(usb):
    _, dp = usb
    called = []
    dp.on_packet(called.append)
    iterated = list(dp.packets(timeout=1.0))
    assert len(iterated) >= len(MODULES) * 12
    assert called[:len(iterated)] == iterated


def test_packets_ends_when_its_time_is_over_and_pumps_while_it_waits(usb):
    _, dp = usb
    start = time.monotonic()
    got = list(dp.packets(timeout=0.5))
    assert 0.5 <= time.monotonic() - start < 1.5
    assert got, "packets arrive while the iterator waits"
    it = dp.packets(timeout=5)
    next(it)
    it.close()
    with pytest.raises(StopIteration):
        next(it)
    assert it.dropped == 0


def test_packets_without_traffic_ends_on_time(start_sim, make_dp):
    start_sim("station 1 usb", args=("--quiet",))
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    # The driver delivers what its ring still held from the link of an earlier test.
    list(dp.packets(timeout=0.3))
    start = time.monotonic()
    assert list(dp.packets(timeout=0.3)) == []
    assert 0.3 <= time.monotonic() - start < 1.3


def test_a_raising_callback_is_reported_and_deliveries_go_on(usb):
    _, dp = usb
    seen = []

    def handler(packet):
        seen.append(packet)
        if len(seen) <= 3:
            raise RuntimeError(f"bad handler {len(seen)}")

    dp.on_packet(handler)
    with Unraisables() as reported:
        pump_until(dp, lambda: len(seen) >= 20, what="twenty packets")
    assert [str(e) for _, e, _ in reported] == ["bad handler 1", "bad handler 2",
                                                 "bad handler 3"]
    assert all(obj is handler for _, _, obj in reported)


def test_the_gil_is_released_while_packets_waits(start_sim, make_dp):
    start_sim("station 1 usb", "module 0x10 tag=7 type=uint8 value=1 rate=2", args=("--quiet",))
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    counted = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counted[0] += 1
            time.sleep(0.001)

    worker = threading.Thread(target=count)
    worker.start()
    try:
        for _ in dp.packets(timeout=1.0):
            pass
    finally:
        stop.set()
        worker.join()
    assert counted[0] > 100


def test_ctrl_c_ends_a_wait_in_packets(usb):
    import _thread
    import signal

    _, dp = usb
    timer = threading.Timer(0.3, lambda: _thread.interrupt_main(signal.SIGINT))
    timer.start()
    start = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt):
            for _ in dp.packets(timeout=20):
                pass
    finally:
        timer.cancel()
    assert time.monotonic() - start < 5

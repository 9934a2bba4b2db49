"""Objects and their links against a real lyx-basestation-sim process: two objects in one
script, the with block, Terminate."""

import gc
import os
import threading
import time
import warnings
import weakref

import pytest

import lyx
from conftest import driver_copies, pump_until, thread_count, wait_for


def test_two_objects_in_one_script_one_usb_and_one_serial(workspace, start_sim, make_dp):
    start_sim("station 1 usb", "module 0x201 tag=201 type=uint8 value=1 rate=20",
              "station 3 usb channel=9",
              "module 0x301 tag=301 channel=9 type=uint8 value=3 rate=20",
              "station 4 serial com=6 channel=8",
              "module 0x401 tag=401 channel=8 type=uint8 value=4 rate=20",
              args=("--quiet",))
    assert os.path.islink(workspace.path("ports", "COM6"))
    usb, serial = make_dp(), make_dp()
    assert usb.Initialise(0, 0) == 0
    assert serial.Initialise(6, 115200) == 0
    assert len(driver_copies(workspace)) == 2
    from_usb, from_serial = [], []
    usb.on_packet(from_usb.append)
    serial.on_packet(from_serial.append)
    # One pump serves both: they live on this thread.
    pump_until(usb, lambda: {p.tag for p in from_usb} >= {201, 301} and
               {p.tag for p in from_serial} >= {401},
               what="packets on both links")
    assert {(p.base_station, p.tag) for p in from_usb} <= {(1, 201), (3, 301)}
    assert {(p.base_station, p.tag) for p in from_serial} == {(4, 401)}
    # Each answers through its own link.
    assert usb.BaseStationChannel[3] == 9
    assert serial.BaseStationChannel[4] == 8


def test_leaving_the_with_block_closes_the_link_and_deletes_the_driver_copy(workspace,
                                                                           start_sim):
    start_sim("station 1 usb", "module 0x10 tag=7 type=uint8 value=1 rate=20", args=("--quiet",))
    threads = thread_count()
    with lyx.DataProvider() as dp:
        assert len(driver_copies(workspace)) == 1
        assert dp.Initialise(0, 0) == 0
        assert thread_count() > threads  # the driver's readers and frame processor
        assert next(dp.packets(timeout=5)).tag == 7
        start = time.monotonic()
    assert time.monotonic() - start >= 0.9  # Terminate dispatches messages for a second
    assert dp.closed
    assert driver_copies(workspace) == []
    wait_for(lambda: thread_count() == threads, timeout=5, what="the driver's threads to end")
    try:
        dp.ReadPacket(7, 1000)
        raise AssertionError("a closed object answered")
    except ValueError:
        pass


def test_an_error_inside_the_with_block_still_closes_it(workspace):
    start = time.monotonic()
    try:
        with lyx.DataProvider() as dp:
            raise KeyError("inside")
    except KeyError:
        pass
    assert dp.closed and driver_copies(workspace) == []
    assert time.monotonic() - start < 0.9  # no link was opened: nothing for Terminate


def test_terminate_closes_the_link_and_the_object_can_open_it_again(start_sim, make_dp):
    sim = start_sim("station 1 usb", "module 0x10 tag=7 type=uint8 value=1 rate=20",
                    args=("--quiet",))
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    assert next(dp.packets(timeout=5)).tag == 7
    dp.Terminate()
    assert not dp.closed
    assert dp.Initialise(0, 0) == 0
    assert next(dp.packets(timeout=5)).tag == 7
    assert "plugged=yes" in sim.command("show station 1")


def test_opening_a_link_while_another_thread_has_one_warns(start_sim, make_dp):
    start_sim("station 1 usb", "station 4 serial com=6", args=("--quiet",))
    usb = make_dp()
    assert usb.Initialise(0, 0) == 0
    caught = {}

    def other():
        serial = lyx.DataProvider()
        try:
            with warnings.catch_warnings(record=True) as seen:
                warnings.simplefilter("always")
                caught["result"] = serial.Initialise(6, 115200)
            caught["warnings"] = [w.category for w in seen]
        finally:
            serial.close()

    worker = threading.Thread(target=other)
    worker.start()
    worker.join()
    assert caught == {"result": 0, "warnings": [RuntimeWarning]}


def test_an_object_whose_callback_refers_to_it_is_collected_and_closes_its_link(workspace,
                                                                                 start_sim):
    start_sim("station 1 usb", "module 0x10 tag=7 type=uint8 value=1 rate=50", args=("--quiet",))
    threads = thread_count()

    class Client:
        """Keeps its DataProvider and hands its packets to a method: the usual cycle."""

        def __init__(self):
            self.dp = lyx.DataProvider()
            self.seen = []
            self.dp.on_packet(self.on_packet)

        def on_packet(self, packet):
            self.seen.append(packet.tag)

    def with_lambda():
        dp = lyx.DataProvider()
        seen = []
        dp.on_packet(lambda packet: seen.append(dp.closed))
        return dp, seen

    def with_method():
        client = Client()
        return client.dp, client.seen

    for make in (with_lambda, with_method):
        gc.collect()
        dp, seen = make()
        assert dp.Initialise(0, 0) == 0
        pump_until(dp, lambda: seen, what="a packet")
        assert len(driver_copies(workspace)) == 1
        gone = weakref.ref(dp)
        del dp, seen
        gc.collect()
        assert gone() is None, make.__name__
        assert driver_copies(workspace) == [], make.__name__
        wait_for(lambda: thread_count() == threads, timeout=5, what="the driver's threads to end")


def test_an_object_dropped_on_another_thread_while_its_own_pumps_is_released_by_its_own(
        workspace, start_sim):
    start_sim("station 1 usb", "module 0x10 tag=7 type=uint8 value=1 rate=200",
              args=("--quiet",))
    random = __import__("random").Random(22)
    for round in range(200):
        dp = lyx.DataProvider()
        seen = []
        dp.on_packet(lambda packet: seen.append(packet.tag))
        assert dp.Initialise(0, 0) == 0
        pump_until(dp, lambda: seen, what="a packet")
        held = [dp]
        del dp
        delay = random.uniform(0, 0.005)
        dropper = threading.Thread(target=lambda: (time.sleep(delay), held.clear()))
        dropper.start()
        # Packets keep arriving while the other thread lets the object go.
        while dropper.is_alive():
            lyx.pump(0.001)
        dropper.join()
        # Its own thread closes its link the next time it dispatches.
        deadline = time.monotonic() + 10
        while driver_copies(workspace) and time.monotonic() < deadline:
            lyx.pump(0.05)
        assert driver_copies(workspace) == [], f"round {round}"


def test_base_stations_and_the_warning_of_a_usb_link_without_one(start_sim, make_dp):
    # No base station: the USB link opens (0) and says that nothing will arrive.
    lonely = make_dp()
    assert lonely.base_stations() == []
    with pytest.warns(RuntimeWarning, match="no USB base station is plugged in"):
        assert lonely.Initialise(0, 0) == 0
    assert lonely.base_stations() == []
    # Stations that come later are counted once the thread dispatches.
    sim = start_sim("station 2 usb", "station 4 serial com=6", args=("--quiet",))
    pump_until(lonely, lambda: lonely.base_stations() == [2], what="station 2 on the link")
    lonely.Terminate()
    assert "ok" in sim.command("station 3 usb")
    # Stations already plugged in are there as soon as Initialise returns: no warning.
    usb, serial = make_dp(), make_dp()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert usb.Initialise(0, 0) == 0
        assert serial.Initialise(6, 115200) == 0
    assert usb.base_stations() == [2, 3]
    assert serial.base_stations() == [1]  # a serial link has one station, numbered 1
    sim.command("unplug 2")
    pump_until(usb, lambda: usb.base_stations() == [3], what="station 2 gone")

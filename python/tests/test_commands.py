"""Members that talk to the base station and the modules, against a real
lyx-basestation-sim process: the last-value store, pairing, remote parameters, packets
sent, the base station's ID and channel, sleep and wake."""

import threading
import time

import pytest

import lyx
from conftest import pump_until

MODULE = 0x0A0B0C

# Remote parameters of every type; what is written and what is read back.
PARAMETERS = [
    ("param 0x0A0B0C 1 type=uint8 value=7", 1, "200", "200"),
    ("param 0x0A0B0C 2 type=uint16 value=0", 2, "65534", "65534"),
    ("param 0x0A0B0C 3 type=int32 value=0", 3, "-70000", "-70000"),
    ("param 0x0A0B0C 4 type=float value=0", 4, "2.5", "2.5"),
    ("param 0x0A0B0C 5 type=string", 5, "Load cell 1", "Load cell 1"),
    ("param 0x0A0B0C 6 type=binary", 6, "AB", "4142"),  # the text's bytes, in hexadecimal
]


@pytest.fixture
def station(start_sim, make_dp):
    """USB base station 1 (ID 0x1234, channel 3) with one module on tag 7 and its
    parameters; an initialised DataProvider on it."""
    sim = start_sim("station 1 usb channel=3 id=0x001234",
                    f"module {MODULE} tag=7 channel=3 type=float value=12.5 rate=20 status=9 "
                    "rssi=-66 quality=77",
                    *[p[0] for p in PARAMETERS], args=("--trace-data",))
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    return sim, dp


def test_read_packet_ex_gives_the_last_value_and_its_fields(station):
    _, dp = station
    assert dp.ReadPacket(7, 1000) == ""
    pump_until(dp, lambda: dp.ReadPacket(7, 1000), what="a value of tag 7")
    assert dp.ReadPacket(7, 1000) == "12.50000"
    result = dp.ReadPacketEx(7, 1000)
    assert isinstance(result, tuple)
    assert result == ("12.50000", 9, -66, 77, False, False)
    time.sleep(0.2)
    # Too old: no value, the other fields all the same.
    assert dp.ReadPacketEx(7, 10) == ("", 9, -66, 77, False, False)


def test_pair_with_a_module_powered_up_returns_its_id_and_tag(start_sim, make_dp):
    sim = start_sim("station 1 usb channel=3",
                    "module 66051 tag=42 channel=7 type=float value=12.5 rate=2")
    dp = make_dp()
    assert dp.Initialise(0, 0) == 0
    # Take what the driver still holds from the link of an earlier test first.
    while dp.pump(0.2):
        pass
    asked = time.monotonic()

    def press_the_button():
        sim.wait_event("bind-requested", since=asked)
        sim.command("powerup 66051")

    button = threading.Thread(target=press_the_button)
    button.start()  # runs while Pair waits with the GIL released
    try:
        rt, module_id, tag = dp.Pair(1, 0, 5)
    finally:
        button.join()
    assert (rt, module_id, tag) == (0, 66051, 42)
    assert "channel=3" in sim.command("show module 66051")  # moved to the station's channel


def test_pair_config_without_a_module_pairs_nothing(station):
    _, dp = station
    # Modules are sending; outside a packet callback the driver is never busy (99).
    pump_until(dp, lambda: dp.ReadPacket(7, 1000), what="a packet")
    start = time.monotonic()
    result = dp.PairConfig(1, 0, 1)
    assert result == (1, 0, 0)
    assert 0.5 < time.monotonic() - start < 5


def test_remote_write_and_read_round_trip_every_typed_value(station):
    _, dp = station
    for _, number, written, read in PARAMETERS:
        rt = dp.RemoteWrite(1, MODULE, number, written)
        assert rt is lyx.RT_ACK, number
        rt, value = dp.RemoteRead(1, MODULE, number)
        assert (rt, value) == (lyx.RT_ACK, read), number
        assert isinstance(rt, lyx.Response_Type)
    # Numbers travel as their text; bytes as they are.
    assert dp.RemoteWrite(1, MODULE, 4, 0.125) is lyx.RT_ACK
    assert dp.RemoteRead(1, MODULE, 4) == (lyx.RT_ACK, "0.125")
    assert dp.RemoteWrite(1, MODULE, 3, -5) is lyx.RT_ACK
    assert dp.RemoteRead(1, MODULE, 3) == (lyx.RT_ACK, "-5")
    assert dp.RemoteWrite(1, MODULE, 6, b"\x0a\xff") is lyx.RT_ACK
    assert dp.RemoteRead(1, MODULE, 6) == (lyx.RT_ACK, "0AFF")
    # A value the parameter cannot take, and a parameter the module does not have.
    assert dp.RemoteWrite(1, MODULE, 1, "300") is lyx.RT_INVALID_DATA
    assert dp.RemoteRead(1, MODULE, 99) == (lyx.RT_NAK, "")
    assert dp.RemoteRead(1, 0x777777, 1) == (lyx.RT_NORESPONSE, "")


def test_a_waiting_member_inside_a_callback_raises_the_busy_error(station):
    _, dp = station
    errors = []

    def handler(packet):
        try:
            dp.RemoteRead(1, MODULE, 1)
        except lyx.AutomationError as e:
            errors.append(e.number)

    dp.on_packet(handler)
    pump_until(dp, lambda: errors, what="a callback")
    assert errors[0] == lyx.E_BUSY


def test_written_packets_reach_the_base_station_and_bad_types_raise(station):
    sim, dp = station
    since = time.monotonic()
    dp.WritePacketNumeric(1, 0x1234, 0, 1000, lyx.DT_UINT16)
    dp.WritePacketString(1, 5, 0, "abc", lyx.DT_STRING)
    dp.WritePacketString(1, 6, 0, b"\x00\xff", lyx.DT_BINARY)
    frames = lambda: [e["line"] for _, e in sim.events_of("frame", since)]  # noqa: E731
    wait = lambda n: pump_until(dp, lambda: len(frames()) >= n, what=f"{n} frames")  # noqa
    wait(3)
    assert frames()[:3] == [
        "event frame station=1 code=3 03 12 34 00 02 03 E8",
        "event frame station=1 code=3 03 00 05 00 05 61 62 63",
        "event frame station=1 code=3 03 00 06 00 06 00 FF"]
    with pytest.raises(lyx.AutomationError) as caught:
        dp.WritePacketNumeric(1, 5, 0, 7, lyx.DT_STRING)
    assert caught.value.number == 0x800403EB
    assert caught.value.description == \
        "Invalid DataType! Type must be DT_UINT8, DT_UINT16, DT_INT32 or DT_FLOAT!"
    with pytest.raises(lyx.AutomationError) as caught:
        dp.WritePacketNumeric(1, 5, 0, 65536, lyx.DT_UINT16)
    assert (caught.value.number, caught.value.description) == \
        (0x800403EC, "Value invalid for DT_UINT16!")
    # Nothing was sent for them: the next frame is the next valid packet.
    dp.WritePacketNumeric(1, 5, 0, 1.5, lyx.DT_FLOAT)
    wait(4)
    assert frames()[3] == "event frame station=1 code=3 03 00 05 00 04 3F C0 00 00"


def test_base_station_id_and_channel(station):
    sim, dp = station
    assert dp.BaseStationID(1) == 0x1234
    assert dp.BaseStationID(2) == 0
    assert dp.BaseStationChannel[1] == 3
    assert dp.BaseStationChannel(1) == 3
    assert dp.ReadBaseStationChannel == 3
    dp.BaseStationChannel[1] = 9
    assert dp.BaseStationChannel[1] == 9
    dp.WriteBaseStationChannel = 4
    assert dp.ReadBaseStationChannel == 4
    assert "channel=4" in sim.command("show station 1")


def test_sleep_wake_stay_awake_and_pause(station):
    sim, dp = station
    since = time.monotonic()
    dp.SleepByDataTag(7)
    pump_until(dp, lambda: sim.events_of("asleep", since), what="the module to fall asleep")
    since = time.monotonic()
    dp.WakeByID(1, MODULE)
    sim.wait_event("woken", since=since)

    since = time.monotonic()
    dp.SleepBroadcastByDataTag()
    pump_until(dp, lambda: sim.events_of("asleep", since), what="the module to fall asleep")
    since = time.monotonic()
    dp.WakeBroadcast(1)
    sim.wait_event("woken", since=since)

    since = time.monotonic()
    dp.BroadcastStayAwake()
    stay_awake = lambda: [e for _, e in sim.events_of("command", since)  # noqa: E731
                          if e.get("code") == "3"]
    pump_until(dp, stay_awake, what="a stay-awake command")

    since = time.monotonic()
    dp.PauseByDataTag(7)
    pump_until(dp, lambda: sim.events_of("paused", since), what="the module to pause")
    dp.PauseByDataTag(0)


def test_a_counting_module_loses_no_reading_to_commands_or_a_stalled_thread(start_sim, make_dp):
    # 3 000 packets a second counting themselves; reads, writes, a pairing and two seconds
    # without pumping in between. Every count must arrive, in order.
    sim = start_sim("station 1 usb channel=3",
                    f"module {MODULE} tag=7 channel=3 type=int32 wave=count rate=3000",
                    "param 0x0A0B0C 4 type=float value=0")
    dp = make_dp()
    values = []
    dp.on_packet(lambda p: values.append(int(p.value)) if p.tag == 7 else None)
    assert dp.Initialise(0, 0) == 0
    pump_until(dp, lambda: len(values) > 100, what="the counting module")
    assert dp.RemoteRead(1, MODULE, 4)[0] == lyx.RT_ACK
    assert dp.RemoteWrite(1, MODULE, 4, 2.5) == lyx.RT_ACK
    assert dp.Pair(1, 0, 1)[0] == 1  # nobody to pair with: it waits its 1.3 s out
    time.sleep(2)  # the thread does not dispatch
    assert dp.RemoteRead(1, MODULE, 4) == (lyx.RT_ACK, "2.5")
    sim.command(f"powerdown {MODULE}")
    while dp.pump(0.5):
        pass
    gaps = [(a, b) for a, b in zip(values, values[1:]) if b != a + 1]
    assert gaps == []
    stats = dp.link_statistics()
    assert stats["frames_dropped"] == 0 and stats["bytes_dropped"] == 0
    assert stats["held_max"] >= 3000  # the stalled two seconds waited in the driver
    assert stats["stations"] == [1]

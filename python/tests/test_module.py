"""The module on its own: types, errors, packets, the member table and the stubs, threads;
the component registered in a private registry, no base station."""

import ast
import enum
import math
import os
import pickle
import threading
import time

import pytest

import lyx
from conftest import HERE, Unraisables, driver_copies

# A DT_UINT8 packet: base station 1, tag 0x1234, status 5, value 200, RSSI byte
# 0xC8, link byte 0xB0, type byte 0x43 (battery low).
UINT8_FRAME = bytes([0, 0, 1, 0x43, 0x12, 0x34, 5, 1, 200, 0xC8, 0xB0, 0, 0])


def frame(tag, data_type, value, base_station=1, kind=0x03, status=0, rssi=-60, cv=100):
    """A link frame as the driver hands it over: length bytes, base station, payload, signal
    and link bytes, the frame check (not read)."""
    body = bytes([base_station, kind, tag >> 8, tag & 0xFF, status, data_type]) + value
    return bytes([len(body), len(body)]) + body + bytes([(rssi + 45) & 0xFF, cv, 0, 0])


def test_the_module_comes_from_the_build_and_says_its_version():
    assert os.path.dirname(lyx.__file__) == os.environ["PYTHONPATH"].split(os.pathsep)[0]
    assert lyx.__version__.count(".") == 2
    assert lyx.PROG_ID == "LyxDataProviderCOM.DataProvider"
    assert lyx.CLASS_ID == "{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}"


def test_the_enumerations_are_int_enums_with_the_type_library_values():
    assert issubclass(lyx.Data_Type, enum.IntEnum)
    assert issubclass(lyx.Response_Type, enum.IntEnum)
    assert {m.name: m.value for m in lyx.Data_Type} == {
        "DT_NONE": 0, "DT_UINT8": 1, "DT_UINT16": 2, "DT_INT32": 3, "DT_FLOAT": 4,
        "DT_STRING": 5, "DT_BINARY": 6, "DT_INTERFACE": 255}
    assert {m.name: m.value for m in lyx.Response_Type} == {
        "RT_ACK": 0, "RT_NOBASE": 1, "RT_NORESPONSE": 2, "RT_NAK": 3, "RT_INVALID_DATA": 4}
    assert lyx.DT_FLOAT is lyx.Data_Type.DT_FLOAT and lyx.RT_NAK is lyx.Response_Type.RT_NAK
    assert lyx.Data_Type.__module__ == "lyx"
    assert lyx.Response_Type(3).name == "RT_NAK"


def test_automation_errors_carry_number_and_description_and_pickle():
    e = lyx.AutomationError(-2147220501, "Invalid DataType!")
    assert isinstance(e, Exception)
    assert e.number == 0x800403EB and e.description == "Invalid DataType!"
    assert str(e) == "Invalid DataType! (automation error 0x800403EB)"
    copy = pickle.loads(pickle.dumps(e))
    assert type(copy) is lyx.AutomationError
    assert (copy.number, copy.description) == (e.number, e.description)
    assert lyx.E_INVALID_DATA_TYPE == 0x800403EB and lyx.E_INVALID_VALUE == 0x800403EC
    assert lyx.E_BUSY == 0x800403ED and lyx.E_WRONG_THREAD == 0x8001010E


def test_a_packet_has_its_fields_equality_hash_repr_and_pickles():
    p = lyx.Packet(1, 1234, "12.5", status=5, rssi=-70, cv=100, batt_low=True)
    assert (p.base_station, p.tag, p.value, p.status, p.rssi, p.cv, p.batt_low, p.error) == \
        (1, 1234, "12.5", 5, -70, 100, True, False)
    assert p == lyx.Packet(1, 1234, b"12.5", 5, -70, 100, True, False)
    assert p != lyx.Packet(1, 1234, "12.6", 5, -70, 100, True, False)
    assert p != "12.5"
    assert hash(p) == hash(lyx.Packet(1, 1234, "12.5", 5, -70, 100, True))
    assert repr(p) == ("Packet(base_station=1, tag=1234, value='12.5', status=5, rssi=-70, "
                       "cv=100, batt_low=True, error=False)")
    assert pickle.loads(pickle.dumps(p)) == p
    with pytest.raises(OverflowError):
        lyx.Packet(256, 1)
    with pytest.raises(AttributeError):
        p.value = "x"


@pytest.mark.parametrize("text, number", [
    ("12.5", 12.5), ("-3", -3.0), ("1.234568E+08", 1.234568e8), ("0.0012340", 0.001234),
    (" 7 ", 7.0), ("+2", 2.0), (".5", 0.5), ("1e3", 1000.0), ("Infinity", math.inf),
    ("-Infinity", -math.inf), ("", None), ("abc", None), ("1,5", None), ("0x10", None),
    ("1.2.3", None), ("E5", None), ("1E", None), ("inf", None), ("nan", None), ("12 kg", None),
])
def test_number_reads_the_value_with_a_point_or_gives_none(text, number):
    assert lyx.Packet(1, 1, text).number == number


def test_number_of_nan_is_nan():
    assert math.isnan(lyx.Packet(1, 1, "NaN").number)


def test_values_keep_every_byte_as_one_character():
    raw = bytes(range(256))
    p = lyx.Packet(1, 1, raw)
    assert p.raw == raw
    assert p.value == raw.decode("latin-1")
    assert lyx.Packet(1, 1, p.value).raw == raw
    with pytest.raises(UnicodeEncodeError):
        lyx.Packet(1, 1, "\u20ac")


def test_creating_an_unregistered_component_says_how_to_register_it(tmp_path, monkeypatch):
    monkeypatch.setenv("LYX_REGISTRY", str(tmp_path / "classes.ini"))
    with pytest.raises(lyx.AutomationError) as caught:
        lyx.DataProvider()
    e = caught.value
    assert e.number == 0x80040154
    assert e.description.startswith("The DataProvider component is not registered")
    assert str(tmp_path / "classes.ini") in e.description
    assert "lyx-regsvr" in e.description and "libLyxDataProviderCOM.so" in e.description


def test_versions_are_those_of_the_component_and_the_driver(make_dp):
    dp = make_dp()
    assert dp.Version == 2.3
    assert dp.DLLVersion == 2.7


def test_every_member_of_the_default_interface_is_there_and_in_the_stubs(make_dp):
    dp = make_dp()
    members = lyx._interface_members(dp)
    assert len(members) == 27
    names = {name for name, _, _ in members}
    assert {"Initialise", "WritePacketNumeric", "ReadPacketEx", "Pair", "RemoteRead",
            "DecodeRLX", "TriggerEvent", "BSIFID"} <= names
    for name in names:
        assert hasattr(lyx.DataProvider, name), name

    tree = ast.parse(open(os.path.join(os.path.dirname(HERE), "lyx.pyi")).read())
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    stubbed = set()
    for node in classes["DataProvider"].body:
        if isinstance(node, ast.FunctionDef):
            stubbed.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            stubbed.add(node.target.id)
    public = {n for n in dir(lyx.DataProvider) if not n.startswith("_")}
    assert names <= stubbed
    assert public <= stubbed, public - stubbed
    packet_fields = {n.name for n in classes["Packet"].body if isinstance(n, ast.FunctionDef)}
    assert {n for n in dir(lyx.Packet) if not n.startswith("_")} <= packet_fields
    module_names = {n for n in dir(lyx) if not n.startswith("_")}
    stub_names = set(classes) | {n.name for n in tree.body if isinstance(n, ast.FunctionDef)} | {
        n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    assert module_names <= stub_names, module_names - stub_names


def test_trigger_event_raises_the_packet_with_every_field(make_dp):
    dp = make_dp()
    got = []
    dp.on_packet(got.append)
    packets = dp.packets(timeout=0)
    dp.TriggerEvent(UINT8_FRAME)
    expected = lyx.Packet(1, 4660, "200", status=5, rssi=-101, cv=48, batt_low=True, error=False)
    assert got == [expected]
    assert list(packets) == [expected]
    assert dp.ReadPacket(4660, 60000) == "200"
    assert dp.ReadPacketEx(4660, 60000) == ("200", 5, -101, 48, True, False)
    # A list of byte values and a shorter length do as well; 12 bytes are too few.
    dp.TriggerEvent(list(UINT8_FRAME) + [0, 0], 13)
    dp.TriggerEvent(UINT8_FRAME, 12)
    assert len(got) == 2
    with pytest.raises(lyx.AutomationError) as caught:
        dp.TriggerEvent(UINT8_FRAME, 14)
    assert caught.value.number == 0x800A0009  # subscript out of range


def test_packet_values_of_every_type_through_trigger_event(make_dp):
    dp = make_dp()
    got = []
    dp.on_packet(got.append)
    cases = [
        (lyx.DT_NONE, b"\x07", "", None),
        (lyx.DT_UINT16, b"\xff\xfe", "65534", 65534.0),
        (lyx.DT_INT32, b"\xff\xff\xff\xfe", "-2", -2.0),
        (lyx.DT_INT32, b"\x07\x5b\xcd\x15", "1.234568E+08", 1.234568e8),
        (lyx.DT_FLOAT, b"\x3f\xc0\x00\x00", "1.500000", 1.5),
        (lyx.DT_FLOAT, b"\xc0\xb0\x00\x00", "-5.500000", -5.5),
        (lyx.DT_STRING, b"hello", "hello", None),
        (lyx.DT_BINARY, b"\x00\xff\x80", "\x00\xff\x80", None),
    ]
    for data_type, value, _, _ in cases:
        dp.TriggerEvent(frame(7, data_type, value))
    assert [(p.value, p.number) for p in got] == [(text, n) for _, _, text, n in cases]
    assert got[-1].raw == b"\x00\xff\x80"


def test_decode_rlx_gives_the_timestamp_and_ten_readings(make_dp):
    dp = make_dp()
    block = bytes([0, 0, 1, 0]) + bytes([0xFF] * 4) + bytes(32) + bytes([1, 0x2C])
    assert dp.DecodeRLX(block) == (300, [256.0, -1.0] + [0.0] * 8)
    assert dp.DecodeRLX(block.decode("latin-1")) == (300, [256.0, -1.0] + [0.0] * 8)
    assert dp.DecodeRLX(b"") == (0, [0.0] * 10)


def test_rejected_data_types_and_values_raise_their_automation_errors(make_dp):
    dp = make_dp()
    with pytest.raises(lyx.AutomationError) as caught:
        dp.WritePacketNumeric(1, 5, 0, 7, lyx.DT_STRING)
    assert caught.value.number == 0x800403EB
    assert caught.value.description == \
        "Invalid DataType! Type must be DT_UINT8, DT_UINT16, DT_INT32 or DT_FLOAT!"
    with pytest.raises(lyx.AutomationError) as caught:
        dp.WritePacketString(1, 5, 0, "x", lyx.DT_FLOAT)
    assert caught.value.description == \
        "Invalid DataType! Type must be DT_STRING or DT_BINARY or DT_NONE!"
    with pytest.raises(lyx.AutomationError) as caught:
        dp.WritePacketNumeric(1, 5, 0, 256, lyx.DT_UINT8)
    assert (caught.value.number, caught.value.description) == \
        (0x800403EC, "Value invalid for DT_UINT8!")


def test_arguments_out_of_their_automation_type_raise_overflow_or_type_errors(make_dp):
    dp = make_dp()
    with pytest.raises(OverflowError, match=r"BaseStation: 256 is out of range for a BYTE"):
        dp.WakeByID(256, 1)
    with pytest.raises(OverflowError, match=r"Port: 40000 is out of range for a SHORT"):
        dp.Initialise(40000, 0)
    with pytest.raises(OverflowError, match=r"DataTag"):
        dp.ReadPacket(2 ** 31, 0)
    with pytest.raises(TypeError):
        dp.ReadPacket("7", 0)
    with pytest.raises(TypeError, match="Value: expected str or bytes"):
        dp.WritePacketString(1, 5, 0, 5, lyx.DT_STRING)
    with pytest.raises(TypeError):
        dp.RemoteWrite(1, 2, 3, True)
    with pytest.raises(TypeError, match="ByteArray"):
        dp.TriggerEvent([1, "x"])
    with pytest.raises(ValueError):
        dp.pump(-1)


def test_the_parameterised_and_write_only_properties(make_dp):
    dp = make_dp()
    assert "BaseStationChannel[BaseStation]" in repr(dp.BaseStationChannel)
    with pytest.raises(AttributeError, match="write-only"):
        dp.WriteBaseStationChannel
    assert dp.BSIFID == 0
    dp.BSIFID = -5
    assert dp.BSIFID == -5


def test_a_callback_that_raises_is_reported_and_later_packets_still_arrive(make_dp):
    dp = make_dp()
    got = []

    def handler(packet):
        got.append(packet.tag)
        if packet.tag == 1:
            raise ValueError("a bad handler")

    dp.on_packet(handler)
    with Unraisables() as reported:
        dp.TriggerEvent(frame(1, lyx.DT_UINT8, b"\x01"))
        dp.TriggerEvent(frame(2, lyx.DT_UINT8, b"\x02"))
    assert got == [1, 2]
    assert len(reported) == 1
    exc_type, exc, obj = reported[0]
    assert exc_type is ValueError and str(exc) == "a bad handler"
    assert obj is handler


def test_keyboard_interrupt_and_system_exit_in_a_callback_end_the_dispatching_call(make_dp):
    dp = make_dp()

    def stop(packet):
        raise KeyboardInterrupt if packet.tag == 1 else SystemExit(3)

    dp.on_packet(stop)
    with pytest.raises(KeyboardInterrupt):
        dp.TriggerEvent(frame(1, lyx.DT_UINT8, b"\x01"))
    with pytest.raises(SystemExit) as caught:
        dp.TriggerEvent(frame(2, lyx.DT_UINT8, b"\x01"))
    assert caught.value.code == 3
    dp.on_packet(None)
    dp.TriggerEvent(frame(2, lyx.DT_UINT8, b"\x01"))  # nothing pending any more


def test_on_packet_replaces_removes_and_decorates(make_dp):
    dp = make_dp()
    first, second = [], []
    dp.on_packet(first.append)

    @dp.on_packet
    def handler(packet):
        second.append(packet)

    assert handler is dp.packet_callback and callable(handler)
    dp.TriggerEvent(UINT8_FRAME)
    assert (len(first), len(second)) == (0, 1)
    dp.on_packet(None)
    assert dp.packet_callback is None
    dp.TriggerEvent(UINT8_FRAME)
    assert len(second) == 1
    with pytest.raises(TypeError):
        dp.on_packet(5)


def test_pump_waits_at_most_its_timeout_with_the_gil_released(make_dp):
    dp = make_dp()
    assert dp.pump(0) == 0
    assert lyx.pump(0) == 0
    counted = [0]
    running = threading.Event()
    stop = threading.Event()

    def count():
        running.set()
        while not stop.is_set():
            counted[0] += 1
            time.sleep(0.001)

    worker = threading.Thread(target=count)
    worker.start()
    running.wait()
    try:
        before = counted[0]
        start = time.monotonic()
        assert dp.pump(0.3) == 0
        waited = time.monotonic() - start
        during = counted[0] - before
    finally:
        stop.set()
        worker.join()
    assert 0.29 <= waited < 2
    assert during > 20  # the other thread ran while this one waited


def test_an_object_belongs_to_the_thread_that_made_it(make_dp):
    dp = make_dp()
    outcome = {}

    def other():
        try:
            dp.ReadPacket(1, 0)
        except lyx.AutomationError as e:
            outcome["call"] = e.number
        try:
            dp.close()
        except lyx.AutomationError as e:
            outcome["close"] = e.number
        # One of its own works there.
        own = lyx.DataProvider()
        outcome["own"] = own.Version
        own.close()

    worker = threading.Thread(target=other)
    worker.start()
    worker.join()
    assert outcome == {"call": 0x8001010E, "close": 0x8001010E, "own": 2.3}
    assert not dp.closed


def test_a_closed_object_refuses_calls_and_its_driver_copy_is_gone(workspace, make_dp):
    dp = make_dp()
    assert len(driver_copies(workspace)) == 1
    dp.close()
    dp.close()
    assert dp.closed and repr(dp) == "<lyx.DataProvider, closed>"
    assert driver_copies(workspace) == []
    for call in (lambda: dp.ReadPacket(1, 0), lambda: dp.Version, lambda: dp.pump(0),
                 lambda: dp.packets(), lambda: dp.on_packet(None), lambda: dp.__enter__()):
        with pytest.raises(ValueError, match="closed"):
            call()


def test_an_object_dropped_without_close_deletes_its_driver_copy(workspace):
    dp = lyx.DataProvider()
    assert len(driver_copies(workspace)) == 1
    del dp
    assert driver_copies(workspace) == []


def test_closing_from_inside_a_callback_ends_the_object_after_the_call(workspace, make_dp):
    dp = make_dp()
    dp.on_packet(lambda packet: dp.close())
    dp.TriggerEvent(UINT8_FRAME)
    assert dp.closed
    assert driver_copies(workspace) == []

"""Type stubs of the `lyx` extension module: the Lyx DataProvider component for scripts."""

import enum
from typing import Any, Callable, Iterator, Optional, Sequence, SupportsIndex, TypeVar, Union

__version__: str
PROG_ID: str
CLASS_ID: str
E_INVALID_DATA_TYPE: int  # 0x800403EB
E_INVALID_VALUE: int  # 0x800403EC
E_BUSY: int  # 0x800403ED
E_WRONG_THREAD: int  # 0x8001010E

ByteString = Union[bytes, bytearray, memoryview, str]
"""Raw bytes; text is taken as Latin-1, one byte per character (code points 0 to 255)."""

class AutomationError(Exception):
    """An automation error of the component or the platform."""

    def __init__(self, number: int, description: str = ...) -> None: ...
    @property
    def number(self) -> int:
        """The error number (HRESULT) as an unsigned 32-bit number, e.g. 0x800403EB."""
    @property
    def description(self) -> str: ...

class Data_Type(enum.IntEnum):
    DT_NONE = 0
    DT_UINT8 = 1
    DT_UINT16 = 2
    DT_INT32 = 3
    DT_FLOAT = 4
    DT_STRING = 5
    DT_BINARY = 6
    DT_INTERFACE = 255

class Response_Type(enum.IntEnum):
    RT_ACK = 0
    RT_NOBASE = 1
    RT_NORESPONSE = 2
    RT_NAK = 3
    RT_INVALID_DATA = 4

DT_NONE: Data_Type
DT_UINT8: Data_Type
DT_UINT16: Data_Type
DT_INT32: Data_Type
DT_FLOAT: Data_Type
DT_STRING: Data_Type
DT_BINARY: Data_Type
DT_INTERFACE: Data_Type
RT_ACK: Response_Type
RT_NOBASE: Response_Type
RT_NORESPONSE: Response_Type
RT_NAK: Response_Type
RT_INVALID_DATA: Response_Type

class Packet:
    """One Data Provider packet as the PacketArrived event gives it."""

    def __init__(self, base_station: int, tag: int, value: ByteString = "", status: int = 0,
                 rssi: int = 0, cv: int = 0, batt_low: bool = False,
                 error: bool = False) -> None: ...
    @property
    def base_station(self) -> int: ...
    @property
    def tag(self) -> int: ...
    @property
    def value(self) -> str:
        """The value text: numbers with "." as the decimal point; string and binary values
        one character per byte."""
    @property
    def status(self) -> int: ...
    @property
    def rssi(self) -> int: ...
    @property
    def cv(self) -> int: ...
    @property
    def batt_low(self) -> bool: ...
    @property
    def error(self) -> bool: ...
    @property
    def number(self) -> Optional[float]:
        """The value as a number ("." as the decimal point), or None when it is none."""
    @property
    def raw(self) -> bytes:
        """The value's bytes."""
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

class Packets(Iterator[Packet]):
    """The iterator of DataProvider.packets()."""

    def __iter__(self) -> "Packets": ...
    def __next__(self) -> Packet: ...
    def close(self) -> None: ...
    @property
    def dropped(self) -> int: ...

class BaseStationChannelProperty:
    """DataProvider.BaseStationChannel: dp.BaseStationChannel[bs] reads, assigning sets."""

    def __getitem__(self, BaseStation: int) -> int: ...
    def __setitem__(self, BaseStation: int, value: int) -> None: ...
    def __call__(self, BaseStation: int) -> int: ...

_Callback = TypeVar("_Callback", bound=Optional[Callable[[Packet], object]])

def pump(timeout: Optional[float] = None) -> int:
    """Dispatches the calling thread's waiting messages; waits up to `timeout` seconds (None:
    without limit) for them; returns how many were dispatched (0: the time ran out)."""

class DataProvider:
    """The DataProvider component: the link to the base stations."""

    def __init__(self) -> None: ...
    # --- the binding's own members ---
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def __enter__(self) -> "DataProvider": ...
    def __exit__(self, *exc: object) -> bool: ...
    def on_packet(self, callback: _Callback) -> _Callback: ...
    @property
    def packet_callback(self) -> Optional[Callable[[Packet], object]]: ...
    def pump(self, timeout: Optional[float] = None) -> int: ...
    def packets(self, timeout: Optional[float] = None) -> Packets: ...
    def link_statistics(self) -> dict[str, Any]:
        """The link's counters: frames_delivered, frames_dropped, bytes_dropped,
        bytes_discarded, held, held_max (ints) and stations (list of base-station numbers)."""
    def base_stations(self) -> list[int]:
        """The base-station numbers on the link now: USB base stations plugged in (1 to 3),
        or [1] for an open serial port; empty when no USB base station is plugged in."""
    # --- the default interface _DataProvider, in slot order ---
    def Initialise(self, Port: int, Baudrate: int) -> int:
        """Opens serial port `Port` at `Baudrate`, or the USB base stations when Port is 0;
        returns the driver's open result (0 opened). Warns (RuntimeWarning) when the USB
        link has no base station."""
    def Terminate(self) -> None: ...
    def ReadPacket(self, DataTag: int, Timeout: int) -> str: ...
    def ReadPacketEx(self, DataTag: int, Timeout: int) -> tuple[str, int, int, int, bool, bool]:
        """Returns (Value, Status, RSSI, CV, BattLow, Error)."""
    def WritePacketString(self, BaseStation: int, DataTag: int, Status: int, Value: ByteString,
                          DataType: int) -> None: ...
    def WritePacketNumeric(self, BaseStation: int, DataTag: int, Status: int, Value: float,
                           DataType: int) -> None: ...
    def WakeBroadcast(self, BaseStation: int) -> None: ...
    def WakeByID(self, BaseStation: int, ID: int) -> None: ...
    def SleepByDataTag(self, DataTag: int) -> None: ...
    def SleepBroadcastByDataTag(self) -> None: ...
    def BroadcastStayAwake(self) -> None: ...
    @property
    def Version(self) -> float: ...
    @property
    def DLLVersion(self) -> float: ...
    def TriggerEvent(self, ByteArray: Union[ByteString, Sequence[SupportsIndex]],
                     Length: Optional[int] = None) -> None: ...
    def Pair(self, BaseStation: int, UseRemoteSettings: int,
             Duration: int) -> tuple[int, int, int]:
        """Returns (result, ID, DataTag): result 0 paired, 1 nothing paired, 99 busy (called
        from inside a packet callback). Packets that arrive meanwhile wait and come after."""
    @property
    def BaseStationChannel(self) -> BaseStationChannelProperty: ...
    def PairConfig(self, BaseStation: int, UseRemoteSettings: int,
                   Duration: int) -> tuple[int, int, int]: ...
    def BaseStationID(self, BaseStation: int) -> int: ...
    def RemoteWrite(self, BaseStation: int, ID: int, Command: int,
                    NewValue: Union[ByteString, int, float]) -> Union[Response_Type, int]: ...
    def RemoteRead(self, BaseStation: int, ID: int,
                   Command: int) -> tuple[Union[Response_Type, int], str]:
        """Returns (Response_Type, Value)."""
    BSIFID: int
    def PauseByDataTag(self, DataTag: int) -> None: ...
    @property
    def ReadBaseStationChannel(self) -> int: ...
    WriteBaseStationChannel: int  # write-only
    def DecodeRLX(self, Data: ByteString) -> tuple[int, list[float]]:
        """Returns (Timestamp, Values), Values the 10 readings."""

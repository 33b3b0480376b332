"""The object API: a Module for the open adapter, a Channel for each counter channel."""

from __future__ import annotations

import ctypes
import enum
import math
import operator
import struct
import time
from datetime import datetime
from typing import Any, Callable, Dict, Iterator, NamedTuple, Optional, Tuple

from ._lib import DeviceError, Library, check_versions, load

# Accepted settings, as the console accepts them. Real bounds apply to the value as it will
# be sent, in single precision; every test is written so that NaN fails it.
GAIN_RANGE = (0.0, 256.0)  # upper bound exclusive
POLARITY_RANGE = (0, 1)
LPF_BETA_RANGE = (2, 24)
HPF_TAU_RANGE = (1, 20)
THRESHOLD_RANGE = (0.001, 5.0)  # volts
DURATION_RANGE = (0.01, 10.0)  # seconds
SLOT_RANGE = (0, 255)


def single(value: float) -> float:
    """`value` rounded to single precision, as a float argument of the library receives it
    (beyond the single range: an infinity)."""
    try:
        return float(struct.unpack("f", struct.pack("f", value))[0])
    except OverflowError:
        return math.copysign(math.inf, value)


def _shortest(value: float) -> float:
    """The shortest decimal that names the same single-precision number: 0.1, not
    0.10000000149011612."""
    if not math.isfinite(value):
        return value
    for digits in range(1, 10):
        candidate = float(f"{value:.{digits}g}")
        if single(candidate) == value:
            return candidate
    return value


def _real(value: Any, what: str) -> float:
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{what} must be a number, not {type(value).__name__}")
    if not isinstance(value, (int, float)):
        try:
            value = float(value)  # e.g. numpy scalars, Decimal, Fraction
        except (TypeError, ValueError):
            raise TypeError(f"{what} must be a number, not {type(value).__name__}") from None
    return single(float(value))


def _integer(value: Any, what: str, bounds: Tuple[int, int]) -> int:
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
    if not bounds[0] <= number <= bounds[1]:
        raise ValueError(f"{what} must be from {bounds[0]} to {bounds[1]}, not {number}")
    return number


def _thousandths(value: float) -> float:
    """A register of whole millivolts or milliseconds, as its exact decimal (0.1, not the
    single-precision 0.10000000149011612)."""
    return round(value, 3)


def _real_in(value: Any, what: str, low: float, high: float, unit: str) -> float:
    sent = _real(value, what)
    if not single(low) <= sent <= single(high):
        raise ValueError(f"{what} must be from {low} {unit} to {high} {unit}, not {value!r}")
    return sent


def _gain(value: Any) -> float:
    gain = _real(value, "gain")
    if not GAIN_RANGE[0] <= gain < GAIN_RANGE[1]:
        raise ValueError(f"gain must not be negative and must be lower than "
                         f"{GAIN_RANGE[1]:g}, not {value!r}")
    return gain


_CHECKS: Dict[str, Callable[[Any], Any]] = {
    "gain": _gain,
    "polarity": lambda value: _integer(value, "polarity", POLARITY_RANGE),
    "threshold": lambda value: _real_in(value, "threshold", *THRESHOLD_RANGE, "V"),
    "duration": lambda value: _real_in(value, "duration", *DURATION_RANGE, "s"),
    "hpf_tau": lambda value: _integer(value, "HPF Tau", HPF_TAU_RANGE),
    "lpf_beta": lambda value: _integer(value, "LPF Beta", LPF_BETA_RANGE),
}


def check_setting(setting: str, value: Any) -> Any:
    """The value of a channel setting (a Channel property's name) as it will be sent.

    Raises ValueError when the value is out of the setting's range (judged in single
    precision for the real-valued ones), TypeError when it is no number of the right kind.
    """
    return _CHECKS[setting](value)


def check_slot(value: Any) -> int:
    """An RVL slot number as it will be sent; ValueError beyond 0 to 255."""
    return _integer(value, "slot", SLOT_RANGE)


def _reading(value: float, decimals: Optional[int] = None) -> Optional[float]:
    """None for a reading the module marks as unavailable (delivered below zero); else the
    reading, rounded to the decimals of its register's unit."""
    if not value >= 0.0:
        return None
    return float(value) if decimals is None else round(value, decimals)


class State(enum.IntFlag):
    """Bits of the counter state byte."""

    X_NEW = 0x10  #: Ch X has a result not read yet
    Y_NEW = 0x20
    X_READY = 0x40  #: Ch X has a result that can be read
    Y_READY = 0x80


class FirmwareVersion(NamedTuple):
    major: int
    minor: int

    def __str__(self) -> str:
        return f"{self.major}-{self.minor:02d}"


class Measurement(NamedTuple):
    """One new result of a channel's counter."""

    time: datetime  #: the computer's time (local, with its offset) when it was read
    uptime: float  #: the module's uptime in seconds, read in the same poll
    channel: str  #: "X" or "Y"
    frequency: Optional[float]  #: Hz; None when the counter overflowed


CHANNELS = "XY"
_NEW_BIT = {"X": State.X_NEW, "Y": State.Y_NEW}


class Channel:
    """One counter channel's settings and result (``module.x``, ``module.y``)."""

    def __init__(self, module: "Module", index: int) -> None:
        self._module = module
        self._index = index
        self.name = CHANNELS[index]

    def __repr__(self) -> str:
        return f"<qvx3.Channel {self.name}>"

    def _get(self, function: str, ctype: Any) -> Any:
        out = ctype()
        self._module._call(function, self._index, ctypes.byref(out))
        return out.value

    def _set(self, function: str, setting: str, value: Any) -> None:
        self._module._call(function, self._index, check_setting(setting, value))

    @property
    def gain(self) -> float:
        """Amplification factor, 0 to below 256, in steps of 1/256 (the setting is truncated
        to a step)."""
        return float(self._get("QVX_3_GetAmplification", ctypes.c_float))  # exact: k/256

    @gain.setter
    def gain(self, value: float) -> None:
        self._set("QVX_3_SetAmplification", "gain", value)

    @property
    def polarity(self) -> int:
        """0 positive, 1 negative."""
        return 1 if self._get("QVX_3_GetPolarity", ctypes.c_uint8) else 0

    @polarity.setter
    def polarity(self, value: int) -> None:
        self._set("QVX_3_SetPolarity", "polarity", value)

    @property
    def threshold(self) -> float:
        """Counter threshold in volts, 0.001 to 5 (kept in whole millivolts)."""
        return _thousandths(self._get("QVX_3_GetThreshold", ctypes.c_float))

    @threshold.setter
    def threshold(self, value: float) -> None:
        self._set("QVX_3_SetThreshold", "threshold", value)

    @property
    def duration(self) -> float:
        """Measurement duration in seconds, 0.01 to 10 (kept in whole milliseconds)."""
        return _thousandths(self._get("QVX_3_GetDuration", ctypes.c_float))

    @duration.setter
    def duration(self, value: float) -> None:
        self._set("QVX_3_SetDuration", "duration", value)

    @property
    def hpf_tau(self) -> int:
        """High-pass filter Tau, 1 to 20."""
        return int(self._get("QVX_3_GetHPF_Tau", ctypes.c_uint8))

    @hpf_tau.setter
    def hpf_tau(self, value: int) -> None:
        self._set("QVX_3_SetHPF_Tau", "hpf_tau", value)

    def _lpf(self) -> Tuple[int, int]:
        alpha = ctypes.c_uint16()
        beta = ctypes.c_uint8()
        self._module._call("QVX_3_GetLPF", self._index, ctypes.byref(alpha), ctypes.byref(beta))
        return int(alpha.value), int(beta.value)

    @property
    def lpf_beta(self) -> int:
        """Low-pass filter Beta, 2 to 24; the module picks the Alpha that goes with it."""
        return self._lpf()[1]

    @lpf_beta.setter
    def lpf_beta(self, value: int) -> None:
        self._set("QVX_3_SetLPF", "lpf_beta", value)

    @property
    def lpf_alpha(self) -> int:
        """Low-pass filter Alpha, as the module chose it for its Beta (read-only)."""
        return self._lpf()[0]

    @property
    def lpf_frequency(self) -> float:
        """Low-pass corner frequency in Hz, from the filter registers as read (0.0 when the
        filter passes nothing)."""
        alpha, beta = self._lpf()
        return _shortest(self._module._lib.raw("QVX_3_GetLPF_Frequency")(alpha, beta))

    @property
    def lpf_damping(self) -> float:
        """Low-pass damping, from the filter registers as read."""
        alpha, beta = self._lpf()
        return _shortest(self._module._lib.raw("QVX_3_GetLPF_Damping")(alpha, beta))

    @property
    def hpf_frequency(self) -> float:
        """High-pass corner frequency in Hz, from Tau as read."""
        tau = self.hpf_tau
        return _shortest(self._module._lib.raw("QVX_3_GetHPF_Frequency")(tau))

    def frequency(self) -> Optional[float]:
        """The latest measured frequency in Hz; None when the counter overflowed. Reading it
        marks the result as read."""
        hertz = self._get("QVX_3_GetFrequency", ctypes.c_double)
        return float(hertz) if hertz >= 0.0 else None


class Module:
    """The QVX-3 in the adapter's selected RVL slot; see :func:`open`.

    A context manager: leaving it ends the use of the module from Python and leaves the module
    and the adapter as they are (the adapter has no close). Calls may come from several
    threads; they are made one at a time.
    """

    def __init__(self, lib: Library) -> None:
        self._lib = lib
        self._open = True
        self.x = Channel(self, 0)
        self.y = Channel(self, 1)

    # ---- housekeeping of the object ----------------------------------------------------

    def __enter__(self) -> "Module":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def close(self) -> None:
        """Ends the use of this object; nothing is sent to the module."""
        self._open = False

    @property
    def closed(self) -> bool:
        return not self._open

    @property
    def library_path(self) -> str:
        """The device library file in use."""
        return self._lib.path

    def __repr__(self) -> str:
        return f"<qvx3.Module {'closed' if self.closed else 'open'} via {self._lib.path}>"

    def _call(self, function: str, *args: Any) -> None:
        if not self._open:
            raise ValueError("I/O operation on a closed qvx3.Module")
        self._lib.call(function, *args)

    def _read(self, function: str, ctype: Any) -> Any:
        out = ctype()
        self._call(function, ctypes.byref(out))
        return out.value

    def channel(self, name: str) -> Channel:
        """The channel named "X" or "Y" (either case)."""
        key = str(name).upper()
        if key not in ("X", "Y"):
            raise ValueError(f"channel must be X or Y, not {name!r}")
        return self.x if key == "X" else self.y

    # ---- the adapter -------------------------------------------------------------------

    @property
    def slot(self) -> int:
        """The RVL slot the adapter addresses, 0 to 255."""
        slot = ctypes.c_uint8()
        self._call("BXA_7_GetSlot", ctypes.byref(slot), 1, 0)
        return int(slot.value)

    @slot.setter
    def slot(self, value: int) -> None:
        self._call("BXA_7_SetSlot", check_slot(value), 1, 0)

    def flush(self) -> None:
        """Empties the adapter's communication buffers."""
        if not self._open:
            raise ValueError("I/O operation on a closed qvx3.Module")
        self._lib.call_unflushed("BXA_7_Flush_LPT")

    # ---- identification ----------------------------------------------------------------

    def check(self) -> bool:
        """True when a QVX-3 answers in the selected slot."""
        return bool(self._read("QVX_3_Check", ctypes.c_uint8))

    def _text(self, function: str, size: int) -> str:
        buffer = ctypes.create_string_buffer(size)
        self._call(function, buffer)
        return buffer.value.decode("utf-8", "replace")

    @property
    def product_id(self) -> str:
        """Product identification text."""
        return self._text("QVX_3_Prod_ID", 84)

    @property
    def product_number(self) -> int:
        return int(self._read("QVX_3_Prod_No", ctypes.c_uint32))

    @property
    def firmware_version(self) -> FirmwareVersion:
        """(major, minor); ``str()`` gives the module's own form, e.g. "1-02"."""
        word = int(self._read("QVX_3_FW_Ver", ctypes.c_uint16))
        return FirmwareVersion(word >> 8, word & 0xFF)

    @property
    def firmware_date(self) -> str:
        return self._text("QVX_3_FW_Date", 20)

    # ---- readouts ----------------------------------------------------------------------

    def _float_reading(self, function: str, decimals: Optional[int] = None) -> Optional[float]:
        return _reading(self._read(function, ctypes.c_float), decimals)

    @property
    def supply_5v(self) -> Optional[float]:
        """5 V supply in volts; None when the module has no reading."""
        return self._float_reading("QVX_3_Get5V", 3)

    @property
    def supply_3v3(self) -> Optional[float]:
        """3.3 V supply in volts; None when the module has no reading."""
        return self._float_reading("QVX_3_Get3V", 3)

    @property
    def temperature(self) -> Optional[float]:
        """Module temperature in kelvin; None when the module has no reading."""
        return self._float_reading("QVX_3_GetTemp", 2)

    @property
    def temperature_celsius(self) -> Optional[float]:
        """Module temperature in degrees Celsius (to 0.01); None when there is no reading."""
        kelvin = self.temperature
        return None if kelvin is None else round(kelvin - 273.15, 2)

    @property
    def clock_cpu(self) -> Optional[float]:
        """CPU clock in Hz; None when the module has no reading (likewise the other clocks)."""
        return self._float_reading("QVX_3_GetClkCPU")

    @property
    def clock_peripheral(self) -> Optional[float]:
        return self._float_reading("QVX_3_GetClkPer")

    @property
    def clock_adc(self) -> Optional[float]:
        return self._float_reading("QVX_3_GetClkADC")

    @property
    def clock_dac(self) -> Optional[float]:
        return self._float_reading("QVX_3_GetClkDAC")

    @property
    def uptime(self) -> float:
        """Seconds since the module's power-on (resolution 1/1024 s)."""
        return float(self._read("QVX_3_GetUptime", ctypes.c_double))

    @property
    def state(self) -> State:
        """The counter state byte's bits."""
        return State(int(self._read("QVX_3_GetState", ctypes.c_uint8)) & 0xF0)

    # ---- measuring ---------------------------------------------------------------------

    def measure(self, channels: str = "XY", seconds: Optional[float] = None,
                count: Optional[int] = None) -> Iterator[Measurement]:
        """Yields a Measurement for each new result of the given channels, as the state byte's
        new-data bits announce them. Polls the state byte, pausing 1 ms after a poll that
        finds nothing new; a poll that finds new results reads the uptime once for them.

        Ends after `seconds` (from the call) or after `count` records of all channels
        together, whichever comes first; with neither it runs until the caller stops.
        """
        wanted = _channels(channels)
        if seconds is not None and not (seconds >= 0):
            raise ValueError(f"seconds must not be negative, not {seconds!r}")
        if count is not None:
            count = operator.index(count)
            if count < 0:
                raise ValueError(f"count must not be negative, not {count}")
        return self._measure(wanted, seconds, count)

    def _measure(self, wanted: str, seconds: Optional[float],
                 count: Optional[int]) -> Iterator[Measurement]:
        end = None if seconds is None else time.monotonic() + seconds
        left = count
        while (left is None or left > 0) and (end is None or time.monotonic() < end):
            state = self.state
            fresh = [name for name in wanted if state & _NEW_BIT[name]]
            if not fresh:
                time.sleep(0.001)
                continue
            uptime = self.uptime
            for name in fresh:
                if left is not None:
                    if left == 0:
                        break  # its new-data bit stays for whoever reads next
                    left -= 1
                frequency = self.channel(name).frequency()
                yield Measurement(datetime.now().astimezone(), uptime, name, frequency)


def _channels(channels: str) -> str:
    text = str(channels).upper()
    if not text or any(c not in CHANNELS for c in text):
        raise ValueError(f"channels must be X, Y or XY, not {channels!r}")
    return "".join(c for c in CHANNELS if c in text)


def open(library: Optional[str] = None) -> Module:  # noqa: A001 - the package's verb
    """Loads the libraries, checks their versions, opens and flushes the adapter.

    `library` is the device library file or its folder, the only place looked at when given;
    without it ``QVX3_LIBRARY_DIR``, then ``sys.prefix/lib``, then the system loader's path
    are searched.

    Raises LibraryError when the library is missing or of another major version, DeviceError
    when the adapter does not open or flush.
    """
    lib = load(library)
    check_versions(lib)
    lib.call_unflushed("BXA_7_Open")
    lib.call_unflushed("BXA_7_Flush_LPT")
    return Module(lib)


__all__ = ["Channel", "DeviceError", "FirmwareVersion", "Measurement", "Module", "State", "open"]

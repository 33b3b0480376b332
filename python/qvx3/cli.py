"""The qvx3 command: one-shot reads and settings, logging to CSV, plotting a log.

Results go to stdout, messages to stderr. Exit status: 0 done; 1 a device or library failure
(or a plot that cannot be made); 2 a usage error, an out-of-range value included.
"""

from __future__ import annotations

import argparse
import csv
import json
import signal
import sys
from datetime import datetime
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Sequence, TextIO

from . import module as qvx3
from ._lib import DeviceError, LibraryError

EXIT_FAILURE = 1
EXIT_USAGE = 2

CSV_HEADER = ["time", "uptime_s", "channel", "frequency_hz"]


class UsageError(Exception):
    """A command line value that cannot be used; exit status 2."""


# ---- number entry ---------------------------------------------------------------------------

def parse_integer(text: str) -> int:
    """Decimal, or hexadecimal with a trailing "h" (14h is 20), or binary with a trailing "b"
    (10100b is 20)."""
    base = {"h": 16, "b": 2}.get(text[-1:], 10)
    digits = text[:-1] if base != 10 else text
    # int() would also take blanks and "_" separators, which are no part of these forms.
    if not digits or digits.strip() != digits or "_" in digits:
        raise UsageError(f"not an integer: {text!r}")
    try:
        return int(digits, base)
    except ValueError:
        raise UsageError(f"not an integer: {text!r}") from None


def parse_real(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise UsageError(f"not a number: {text!r}") from None


def parse_polarity(text: str) -> int:
    names = {"positive": 0, "negative": 1}
    return names[text.lower()] if text.lower() in names else parse_integer(text)


def show_real(value: Optional[float]) -> Any:
    return value


def show_polarity(value: int) -> str:
    return "negative" if value else "positive"


class Setting(NamedTuple):
    attribute: str
    parse: Callable[[str], Any]
    text: Callable[[Any], Any]  # the value as the text output shows it


SETTINGS: Dict[str, Setting] = {
    "gain": Setting("gain", parse_real, show_real),
    "polarity": Setting("polarity", parse_polarity, show_polarity),
    "threshold": Setting("threshold", parse_real, show_real),
    "duration": Setting("duration", parse_real, show_real),
    "hpf": Setting("hpf_tau", parse_integer, show_real),
    "lpf": Setting("lpf_beta", parse_integer, show_real),
}
ALIASES = {"amplification": "gain"}
SETTING_NAMES = sorted([*SETTINGS, *ALIASES, "slot"])


def setting_name(text: str) -> str:
    name = ALIASES.get(text.lower(), text.lower())
    if name != "slot" and name not in SETTINGS:
        raise UsageError(f"unknown setting {text!r} (one of {', '.join(SETTING_NAMES)})")
    return name


def channel_names(text: Optional[str]) -> str:
    if text is None:
        return "XY"
    name = {"0": "X", "1": "Y"}.get(text, text.upper())
    if name not in ("X", "Y"):
        raise UsageError(f"channel must be X or Y, not {text!r}")
    return name


# ---- output ---------------------------------------------------------------------------------

def text_value(value: Any) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    return "n/a" if value is None else str(value)


def print_json(data: Any) -> None:
    print(json.dumps(data, indent=2))


def print_pairs(pairs: Dict[str, Any]) -> None:
    for key, value in pairs.items():
        print(f"{key}: {text_value(value)}")


# ---- subcommands ----------------------------------------------------------------------------

def open_module(args: argparse.Namespace) -> qvx3.Module:
    return qvx3.open(args.library)


def cmd_info(args: argparse.Namespace) -> int:
    with open_module(args) as module:
        info: Dict[str, Any] = {"found": module.check(), "slot": module.slot}
        if info["found"]:
            info.update({
                "product_id": module.product_id,
                "product_number": module.product_number,
                "firmware_version": str(module.firmware_version),
                "firmware_date": module.firmware_date,
                "supply_5v": module.supply_5v,
                "supply_3v3": module.supply_3v3,
                "temperature_k": module.temperature,
                "temperature_c": module.temperature_celsius,
                "clock_cpu_hz": module.clock_cpu,
                "clock_peripheral_hz": module.clock_peripheral,
                "clock_adc_hz": module.clock_adc,
                "clock_dac_hz": module.clock_dac,
                "uptime_s": module.uptime,
            })
    if args.json:
        print_json(info)
    else:
        print_pairs(info)
    if not info["found"]:
        print(f"qvx3: no QVX-3 in RVL slot {info['slot']}", file=sys.stderr)
        return EXIT_FAILURE
    return 0


def cmd_get(args: argparse.Namespace) -> int:
    name = setting_name(args.setting)
    if name == "slot" and args.channel is not None:
        raise UsageError("the slot belongs to no channel")
    channels = channel_names(args.channel)
    with open_module(args) as module:
        if name == "slot":
            slot = module.slot
            if args.json:
                print_json({"slot": slot})
            else:
                print(slot)
            return 0
        setting = SETTINGS[name]
        values = {ch: getattr(module.channel(ch), setting.attribute)
                  for ch in channels}
    if args.json:
        print_json(values)
    elif len(values) == 1:
        print(text_value(setting.text(*values.values())))
    else:
        for ch, value in values.items():
            print(f"{ch}: {text_value(setting.text(value))}")
    return 0


def checked(check: Callable[..., Any], *args: Any) -> Any:
    """A value as it will be sent; one out of range is a usage error, found before the
    adapter is opened."""
    try:
        return check(*args)
    except ValueError as error:
        raise UsageError(str(error)) from None


def cmd_set(args: argparse.Namespace) -> int:
    name = setting_name(args.setting)
    if name == "slot":
        if len(args.values) != 1:
            raise UsageError("usage: qvx3 set slot N")
        slot = checked(qvx3.check_slot, parse_integer(args.values[0]))
        with open_module(args) as module:
            module.slot = slot
        return 0
    if len(args.values) != 2:
        raise UsageError(f"usage: qvx3 set {name} X|Y VALUE")
    channel = channel_names(args.values[0])
    setting = SETTINGS[name]
    value = checked(qvx3.check_setting, setting.attribute, setting.parse(args.values[1]))
    with open_module(args) as module:
        setattr(module.channel(channel), setting.attribute, value)
    return 0


class _Stop(Exception):
    """Ctrl-C or SIGTERM while watching."""


class _Interrupts:
    """Turns SIGINT and SIGTERM into _Stop, held back while a row is being written, so that
    the log and stdout both end with whole rows, the same rows."""

    SIGNALS = (signal.SIGINT, signal.SIGTERM)

    def __init__(self) -> None:
        self.writing = False
        self.pending = False
        self.previous: Dict[int, Any] = {}

    def __enter__(self) -> "_Interrupts":
        for number in self.SIGNALS:
            self.previous[number] = signal.signal(number, self._handle)
        return self

    def __exit__(self, *exc: Any) -> None:
        for number, handler in self.previous.items():
            signal.signal(number, handler)

    def _handle(self, signum: int, frame: Any) -> None:
        if self.writing:
            self.pending = True
        else:
            raise _Stop()

    def write_row(self, writers: List[Any], row: List[str]) -> None:
        self.writing = True
        try:
            for out, writer in writers:
                writer.writerow(row)
                out.flush()
        finally:
            self.writing = False
        if self.pending:
            raise _Stop()


def csv_row(record: qvx3.Measurement) -> List[str]:
    frequency = "" if record.frequency is None else repr(record.frequency)
    return [record.time.isoformat(timespec="milliseconds"), repr(record.uptime), record.channel,
            frequency]


def cmd_watch(args: argparse.Namespace) -> int:
    channels = args.channels
    try:
        qvx3._channels(channels)
    except ValueError as error:
        raise UsageError(str(error)) from None
    if args.seconds is not None and not args.seconds >= 0:
        raise UsageError("--seconds must not be negative")
    if args.count is not None and args.count < 0:
        raise UsageError("--count must not be negative")
    outputs: List[TextIO] = [sys.stdout]
    log: Optional[TextIO] = None
    try:
        with _Interrupts() as interrupts, open_module(args) as module:
            if args.csv:
                try:
                    log = open(args.csv, "w", newline="", encoding="utf-8")
                except OSError as error:
                    print(f"qvx3 watch: cannot write {args.csv}: {error.strerror}", file=sys.stderr)
                    return EXIT_FAILURE
                outputs.insert(0, log)  # the log first: it is what outlives the run
            writers = [(out, csv.writer(out, lineterminator="\n")) for out in outputs]
            interrupts.write_row(writers, CSV_HEADER)
            for record in module.measure(channels, seconds=args.seconds, count=args.count):
                interrupts.write_row(writers, csv_row(record))
    except _Stop:
        pass  # every row written so far is whole, in every output
    except BrokenPipeError:
        # The reader of stdout went away (qvx3 watch | head): end quietly, the log kept.
        sys.stdout = None  # type: ignore[assignment]
    finally:
        if log is not None:
            log.close()
    return 0


class PlotError(Exception):
    """The plot cannot be made; exit status 1."""


def read_log(path: str) -> Dict[str, List[Any]]:
    """The CSV written by `watch`: per channel, a list of (time, frequency) without the
    overflow rows."""
    series: Dict[str, List[Any]] = {}
    try:
        with open(path, newline="", encoding="utf-8") as handle:
            reader = csv.DictReader(handle)
            missing = [c for c in ("time", "channel", "frequency_hz")
                       if c not in (reader.fieldnames or [])]
            if missing:
                raise PlotError(f"{path}: not a qvx3 watch log (no column {', '.join(missing)})")
            rows = 0
            for row in reader:
                rows += 1
                where = f"{path}, line {reader.line_num}"
                try:
                    when = datetime.fromisoformat(row["time"] or "")
                    frequency = float(row["frequency_hz"]) if row["frequency_hz"] else None
                except (TypeError, ValueError):
                    raise PlotError(f"{where}: not a time and a frequency") from None
                if row["channel"] not in ("X", "Y"):
                    raise PlotError(f"{where}: channel {row['channel']!r} is neither X nor Y")
                series.setdefault(row["channel"], [])
                if frequency is not None:
                    series[row["channel"]].append((when, frequency))
    except OSError as error:
        raise PlotError(f"cannot read {path}: {error.strerror}") from None
    except (UnicodeDecodeError, csv.Error) as error:
        raise PlotError(f"{path}: not a CSV file ({error})") from None
    if rows == 0:
        raise PlotError(f"{path}: no measurements to plot")
    return series


def cmd_plot(args: argparse.Namespace) -> int:
    try:
        series = read_log(args.file)  # before matplotlib, which takes seconds to import
        try:
            import matplotlib  # type: ignore[import]

            matplotlib.use("Agg")
            import matplotlib.pyplot as plt  # type: ignore[import]
        except ImportError as error:
            raise PlotError(f"matplotlib is not available ({error}); on Debian: "
                            "apt-get install python3-matplotlib") from None
        figure, axes = plt.subplots(figsize=(10, 5))
        for channel in sorted(series):
            points = series[channel]
            axes.plot([t for t, _ in points], [f for _, f in points], marker=".",
                      linewidth=1, label=f"Ch {channel}")
        axes.set_xlabel("time")
        axes.set_ylabel("frequency (Hz)")
        axes.set_title(args.file)
        axes.grid(True)
        axes.legend()
        zones = [points[0][0].tzinfo for points in series.values() if points]
        if zones and zones[0] is not None:
            # The clock of the log, not matplotlib's default UTC.
            from matplotlib.dates import (  # type: ignore[import]
                AutoDateLocator, ConciseDateFormatter)

            locator = AutoDateLocator(tz=zones[0])
            axes.xaxis.set_major_locator(locator)
            axes.xaxis.set_major_formatter(ConciseDateFormatter(locator, tz=zones[0]))
        figure.autofmt_xdate()
        try:
            figure.savefig(args.output)
        except (OSError, ValueError) as error:
            raise PlotError(f"cannot write {args.output}: {error}") from None
        finally:
            plt.close(figure)
    except PlotError as error:
        print(f"qvx3 plot: {error}", file=sys.stderr)
        return EXIT_FAILURE
    return 0


# ---- command line ---------------------------------------------------------------------------

def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="qvx3", description="Read and set a QVX-3 module, log its frequencies, plot a log.",
        epilog="Exit status: 0 done, 1 a device or library failure, 2 a usage error.")
    parser.add_argument("--library", metavar="PATH",
                        help="libQVX-3 file or folder (default: $QVX3_LIBRARY_DIR, then "
                             "sys.prefix/lib, then the system's library path)")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    info = commands.add_parser("info", help="identification, housekeeping, clocks, uptime, slot",
                               description="Show what the module in the selected slot reports "
                                           "about itself; exit 1 when no module is found.")
    info.add_argument("--json", action="store_true", help="one JSON object")
    info.set_defaults(run=cmd_info)

    names = ", ".join(SETTING_NAMES)
    get = commands.add_parser("get", help="read a setting",
                              description=f"Read a setting of one or both channels, or the "
                                          f"slot. SETTING: {names}.")
    get.add_argument("setting", metavar="SETTING")
    get.add_argument("channel", metavar="X|Y", nargs="?", help="one channel (default: both)")
    get.add_argument("--json", action="store_true", help="one JSON object")
    get.set_defaults(run=cmd_get)

    set_ = commands.add_parser(
        "set", help="write a setting",
        description=f"Write a setting of one channel (qvx3 set SETTING X|Y VALUE) or the slot "
                    f"(qvx3 set slot N). SETTING: {names}. Polarity takes 0/1 or positive/"
                    f"negative; integers also take 14h (hexadecimal) and 10100b (binary).")
    set_.add_argument("setting", metavar="SETTING")
    set_.add_argument("values", metavar="ARG", nargs="+", help="X|Y VALUE, or N for the slot")
    set_.set_defaults(run=cmd_set)

    watch = commands.add_parser(
        "watch", help="log new measurements as CSV",
        description="Write one CSV row per new measurement (ISO time, uptime in s, channel, "
                    "frequency in Hz, empty for overflow) after a header row, until the time "
                    "or count is reached or Ctrl-C.")
    watch.add_argument("--channels", default="XY", help="X, Y or XY (default XY)")
    limit = watch.add_mutually_exclusive_group()
    limit.add_argument("--seconds", type=float, metavar="N", help="stop after N seconds")
    limit.add_argument("--count", type=int, metavar="N", help="stop after N rows")
    watch.add_argument("--csv", metavar="FILE", help="also write the rows to FILE")
    watch.set_defaults(run=cmd_watch)

    plot = commands.add_parser("plot", help="plot a watch log",
                               description="Plot the frequency over time per channel from a "
                                           "CSV written by qvx3 watch (needs matplotlib).")
    plot.add_argument("file", metavar="FILE.csv")
    plot.add_argument("-o", "--output", metavar="FILE.png", required=True)
    plot.set_defaults(run=cmd_plot)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    where = f"qvx3 {args.command}"
    try:
        return int(args.run(args))
    except UsageError as error:
        print(f"{where}: {error}", file=sys.stderr)
        return EXIT_USAGE
    except (DeviceError, LibraryError) as error:
        print(f"{where}: {error}", file=sys.stderr)
        return EXIT_FAILURE
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())

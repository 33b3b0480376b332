import math

import pytest

import qvx3
from qvx3 import _lib
from conftest import LIBRARY_DIR, PATIENCE_S, reopen_with

K = 100000 / (2 * math.pi)


def test_identification_and_readouts(module, sim):
    assert module.check() is True
    assert module.product_id == "QVX-3 two-channel frequency counter (simulated)"
    assert module.product_number == 300147
    assert module.firmware_version == (1, 2) and str(module.firmware_version) == "1-02"
    assert module.firmware_date == "2021-03-15"
    assert (module.clock_cpu, module.clock_peripheral, module.clock_adc, module.clock_dac) == (
        48e6, 24e6, 12e6, 250e3)
    assert module.supply_5v == pytest.approx(5.021, abs=0.009)
    assert module.supply_3v3 == pytest.approx(3.297, abs=0.006)
    sim("force", "temp", "30815")
    sim("force", "uptime", "3723", "512")
    assert module.temperature == 308.15
    assert module.temperature_celsius == 35.0
    assert module.uptime == 3723.5


def test_missing_readings_are_none(module, sim):
    for register, value in (("5v", "0x8000"), ("3v", "0x8000"), ("temp", "0xFFFF")):
        sim("force", register, value)
    assert (module.supply_5v, module.supply_3v3) == (None, None)
    assert (module.temperature, module.temperature_celsius) == (None, None)


def test_state_bits(module, sim):
    sim("force", "state", "0x9F")
    assert module.state == qvx3.State.X_NEW | qvx3.State.Y_READY


# (property, value written, value read back): the registers' steps and both ends of each range.
ROUND_TRIPS = [
    ("gain", 0.0, 0.0),
    ("gain", 2.3, 2.296875),
    ("gain", 255.999, 255.99609375),
    ("polarity", 1, 1),
    ("threshold", 0.001, 0.001),
    ("threshold", 2.5006, 2.501),
    ("threshold", 5.0, 5.0),
    ("duration", 0.01, 0.01),
    ("duration", 10.0, 10.0),
    ("duration", 0.25, 0.25),
    ("hpf_tau", 1, 1),
    ("hpf_tau", 20, 20),
    ("lpf_beta", 2, 2),
    ("lpf_beta", 24, 24),
]
DEFAULTS = {"gain": 1.0, "polarity": 0, "threshold": 0.1, "duration": 0.1, "hpf_tau": 8,
            "lpf_beta": 2}


@pytest.mark.parametrize("channel", ["x", "y"])
@pytest.mark.parametrize("name,written,read", ROUND_TRIPS)
def test_setting_round_trip(module, channel, name, written, read):
    other = module.y if channel == "x" else module.x
    setattr(getattr(module, channel), name, written)
    assert getattr(getattr(module, channel), name) == read
    assert getattr(other, name) == DEFAULTS[name]


def test_low_pass_alpha_and_filter_frequencies(module):
    module.y.lpf_beta = 10
    module.y.hpf_tau = 8
    assert module.y.lpf_alpha == 108
    r = 2 ** 10 - 108 / 2 - 1
    assert module.y.lpf_frequency == pytest.approx(K / math.sqrt(r), rel=1e-6)
    assert module.y.lpf_damping == pytest.approx(108 / (4 * math.sqrt(r)), rel=1e-6)
    assert module.y.hpf_frequency == pytest.approx(K / 256, rel=1e-6)
    with pytest.raises(AttributeError):
        module.y.lpf_alpha = 4


# Values refused before anything is sent: out of range as sent in single precision, or no
# number of the right kind at all.
REFUSED = [
    ("gain", -0.001, ValueError),
    ("gain", 256.0, ValueError),
    ("gain", 255.99999999, ValueError),  # single precision makes it 256
    ("gain", math.nan, ValueError),
    ("gain", math.inf, ValueError),
    ("gain", 1e300, ValueError),
    ("gain", "2", TypeError),
    ("threshold", 0.0009, ValueError),
    ("threshold", 5.001, ValueError),
    ("threshold", -math.inf, ValueError),
    ("duration", 0.0099, ValueError),
    ("duration", 10.01, ValueError),
    ("duration", 0.0, ValueError),
    ("polarity", 2, ValueError),
    ("polarity", -1, ValueError),
    ("polarity", 0.5, TypeError),
    ("hpf_tau", 0, ValueError),
    ("hpf_tau", 21, ValueError),
    ("hpf_tau", 256 + 8, ValueError),  # would wrap to 8 as a byte
    ("lpf_beta", 1, ValueError),
    ("lpf_beta", 25, ValueError),
]


def test_refused_values_send_nothing(sim, monkeypatch, tmp_path):
    trace = tmp_path / "trace"
    with reopen_with(monkeypatch, BXA7_SIM_TRACE=str(trace)) as module:
        for name, value, error in REFUSED:
            with pytest.raises(error):
                setattr(module.x, name, value)
        with pytest.raises(ValueError):
            module.slot = 256
    assert "BXA_7_Send" not in trace.read_text()
    assert "BXA_7_SetSlot" not in trace.read_text()


def test_single_precision_bound_is_accepted(module):
    module.x.threshold = 5.0000001  # 5.0 in single precision
    assert module.x.threshold == 5.0


def test_slot_and_absent_module(module, sim):
    sim("slot", "3", "module")
    sim("slot", "0", "empty")
    assert module.check() is False
    module.slot = 3
    assert module.slot == 3
    assert module.check() is True
    module.slot = 0
    with pytest.raises(qvx3.DeviceError) as failure:
        module.x.gain
    assert failure.value.function == "QVX_3_GetAmplification"
    assert failure.value.status == 4
    assert failure.value.error_message.endswith("no acknowledge from RVL slot 0")


@pytest.mark.parametrize("rule,status", [("receive:21", 16), ("receive:21=-5", -5)])
def test_device_error_carries_texts_and_flushes(sim, monkeypatch, tmp_path, rule, status):
    trace = tmp_path / "trace"
    with reopen_with(monkeypatch, BXA7_SIM_FAIL=rule, BXA7_SIM_TRACE=str(trace)) as module:
        with pytest.raises(qvx3.DeviceError) as failure:
            module.x.threshold
        assert module.y.threshold == 0.1  # the adapter works on after the flush
    error = failure.value
    assert (error.function, error.status) == ("QVX_3_GetThreshold", status)
    assert error.error_message == "BXA_7_Receive failed: injected fault"
    assert error.io_error_message == "simulated I/O error in BXA_7_Receive"
    assert error.flush_error is None
    assert "QVX_3_GetThreshold" in str(error) and "injected fault" in str(error)
    calls = [line.split()[0] for line in trace.read_text().splitlines()]
    failed = calls.index("BXA_7_Receive", calls.index("BXA_7_Flush_LPT") + 1)
    assert calls[failed + 1:failed + 4] == ["BXA_7_IO_ErrorMessage", "BXA_7_ErrorMessage",
                                           "BXA_7_Flush_LPT"]


def test_failed_flush_after_a_failure_is_reported_too(sim, monkeypatch):
    # The first flush is the one at opening.
    with reopen_with(monkeypatch, BXA7_SIM_FAIL="send:21 flush#2") as module:
        with pytest.raises(qvx3.DeviceError) as failure:
            module.x.threshold
    assert failure.value.function == "QVX_3_GetThreshold"
    assert failure.value.flush_error.function == "BXA_7_Flush_LPT"
    assert failure.value.flush_error.status == 11


@pytest.mark.parametrize("env,error,text", [
    ({"BXA7_SIM_VERSION": "0x0200"}, qvx3.LibraryError, "found 2.00"),
    ({"BXA7_SIM_VERSION": "0x0001"}, qvx3.LibraryError, "found 0.01"),
    ({"BXA7_SIM_FAIL": "open"}, qvx3.DeviceError, "BXA_7_Open failed (status 10)"),
    ({"BXA7_SIM_FAIL": "flush"}, qvx3.DeviceError, "BXA_7_Flush_LPT failed (status 11)"),
])
def test_open_refusals(sim, monkeypatch, env, error, text):
    with pytest.raises(error, match=text.replace("(", r"\(").replace(")", r"\)")):
        reopen_with(monkeypatch, **env)


def test_closed_module_refuses_calls(module):
    module.close()
    with pytest.raises(ValueError):
        module.x.gain


def test_library_lookup(sim, monkeypatch, tmp_path):
    empty = tmp_path / "empty"
    empty.mkdir()
    # A given folder is used although QVX3_LIBRARY_DIR names another.
    monkeypatch.setenv("QVX3_LIBRARY_DIR", str(empty))
    with qvx3.open(LIBRARY_DIR) as module:
        assert module.library_path.startswith(LIBRARY_DIR)

    # A given place is the only one: no other copy is taken instead.
    monkeypatch.setenv("QVX3_LIBRARY_DIR", LIBRARY_DIR)
    with pytest.raises(qvx3.LibraryError) as failure:
        qvx3.open(str(tmp_path / "given.so"))
    assert str(tmp_path / "given.so") in str(failure.value)
    assert LIBRARY_DIR not in str(failure.value)

    # Nowhere: the error names every place, in order.
    monkeypatch.setenv("QVX3_LIBRARY_DIR", str(empty))
    monkeypatch.setattr(_lib, "LIBRARY_NAMES", ("libQVX-3-absent.so.1",))
    with pytest.raises(qvx3.LibraryError) as failure:
        qvx3.open()
    text = str(failure.value)
    places = [str(empty), "sys.prefix/lib", "system loader"]
    positions = [text.find(place) for place in places]
    assert -1 not in positions and positions == sorted(positions), text

    # Found but not loadable: said so, with the loader's reason.
    broken = tmp_path / "libQVX-3-absent.so.1"
    broken.write_bytes(b"not a library")
    with pytest.raises(qvx3.LibraryError, match="cannot load"):
        qvx3.open(str(tmp_path))


# ---- measure() ------------------------------------------------------------------------------

def wait_for(records, predicate):
    for record in records:
        if predicate(record):
            return record
    return None


def test_measure_sees_a_signal(module, sim):
    module.x.duration = 0.01
    module.y.duration = 0.01
    sim("signal", "X", "2500")
    seen = wait_for(module.measure("X", seconds=PATIENCE_S), lambda r: r.frequency == 2500.0)
    assert seen is not None and seen.channel == "X"

    records = list(module.measure("XY", count=9, seconds=PATIENCE_S))
    assert len(records) == 9
    assert {r.channel for r in records} == {"X", "Y"}
    assert [r.uptime for r in records] == sorted(r.uptime for r in records)
    assert [r.time for r in records] == sorted(r.time for r in records)
    assert {r.frequency for r in records if r.channel == "X"} == {2500.0}
    assert {r.frequency for r in records if r.channel == "Y"} == {12500.0}

    sim("signal", "Y", "off")
    assert wait_for(module.measure("Y", seconds=PATIENCE_S), lambda r: r.frequency == 0.0)


def test_measure_only_takes_new_results(module, sim):
    # Both channels announce a result; only Ch X's is read, and its overflow is None.
    sim("force", "state", "0xF0")
    sim("force", "freq-x", "0xFFFFFFFF")
    records = list(module.measure("X", count=3, seconds=PATIENCE_S))
    assert [(r.channel, r.frequency) for r in records] == [("X", None)] * 3
    assert module.x.frequency() is None

    sim("force", "state", "0")
    assert list(module.measure(seconds=0.05)) == []


def test_measure_limits(module):
    assert list(module.measure(seconds=0)) == []
    assert list(module.measure(count=0)) == []
    for arguments in ({"channels": "Z"}, {"channels": ""}, {"count": -1}, {"seconds": -1},
                      {"seconds": math.nan}):
        with pytest.raises(ValueError):
            module.measure(**arguments)


def test_calls_from_two_threads_do_not_interleave(sim, monkeypatch):
    # A read is two adapter calls; on a bus with wire time, two threads' calls interleave
    # unless the package makes them one at a time.
    import threading

    failures = []

    def read(get, expected):
        try:
            for _ in range(100):
                assert get() == expected
        except BaseException as error:  # reported below, in the test's thread
            failures.append(error)

    with reopen_with(monkeypatch, BXA7_SIM_BUS_HZ="100000") as module:
        module.y.threshold = 0.25
        threads = [threading.Thread(target=read, args=(lambda: module.y.threshold, 0.25)),
                   threading.Thread(target=read, args=(lambda: module.product_number, 300147))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(PATIENCE_S)
    assert failures == []

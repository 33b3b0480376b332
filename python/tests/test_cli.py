import csv
import io
import json
import os
import signal
import subprocess
import sys
import threading
from datetime import datetime

import pytest

from conftest import PACKAGE_DIR, PATIENCE_S


def run(sim, *args, env=None, check_status=None):
    environment = dict(sim.env, PYTHONPATH=str(PACKAGE_DIR), **(env or {}))
    done = subprocess.run([sys.executable, "-m", "qvx3", *args], env=environment,
                          capture_output=True, text=True, timeout=PATIENCE_S)
    if check_status is not None:
        assert done.returncode == check_status, done.stderr
    return done


def parse_log(text):
    rows = list(csv.reader(io.StringIO(text)))
    assert rows[0] == ["time", "uptime_s", "channel", "frequency_hz"]
    for when, uptime, channel, frequency in rows[1:]:
        datetime.fromisoformat(when)
        float(uptime)
        assert channel in ("X", "Y")
        assert frequency == "" or float(frequency) >= 0
    return rows[1:]


def test_info(sim):
    sim("force", "temp", "0xFFFF")
    info = json.loads(run(sim, "info", "--json", check_status=0).stdout)
    assert info["found"] is True and info["slot"] == 0
    assert info["product_number"] == 300147
    assert info["firmware_version"] == "1-02" and info["firmware_date"] == "2021-03-15"
    assert info["clock_dac_hz"] == 250000.0
    assert info["temperature_k"] is None and info["temperature_c"] is None
    assert 4.9 < info["supply_5v"] < 5.1
    text = run(sim, "info", check_status=0).stdout
    assert "found: true\n" in text and "temperature_k: n/a\n" in text


def test_info_without_module(sim):
    sim("select", "5")
    done = run(sim, "info", "--json", check_status=1)
    assert json.loads(done.stdout) == {"found": False, "slot": 5}
    assert "no QVX-3 in RVL slot 5" in done.stderr


# (setting as typed, value as typed, setting as read, JSON value read back)
SET_GET = [
    ("amplification", "2.3", "gain", 2.296875),
    ("polarity", "negative", "polarity", 1),
    ("polarity", "0", "polarity", 0),
    ("threshold", "0.25", "threshold", 0.25),
    ("duration", "1.5", "duration", 1.5),
    ("hpf", "14h", "hpf", 20),
    ("lpf", "1010b", "lpf", 10),
]


POWER_ON = {"gain": 1.0, "polarity": 0, "threshold": 0.1, "duration": 0.1, "hpf": 8, "lpf": 2}


@pytest.mark.parametrize("typed,value,name,read", SET_GET)
def test_set_then_get(sim, typed, value, name, read):
    run(sim, "set", typed, "Y", value, check_status=0)
    both = json.loads(run(sim, "get", name, "--json", check_status=0).stdout)
    assert both["Y"] == read
    assert both["X"] == POWER_ON[name]


def test_get_text_forms(sim):
    run(sim, "set", "polarity", "x", "1", check_status=0)
    assert run(sim, "get", "polarity", check_status=0).stdout == "X: negative\nY: positive\n"
    assert run(sim, "get", "threshold", "Y", check_status=0).stdout == "0.1\n"


def test_slot(sim):
    run(sim, "set", "slot", "11b", check_status=0)
    assert run(sim, "get", "slot", check_status=0).stdout == "3\n"
    assert json.loads(run(sim, "get", "slot", "--json", check_status=0).stdout) == {"slot": 3}


# (arguments, extra environment, exit status, text expected on stderr)
FAILURES = [
    (["set", "gain", "X", "256"], {}, 2, "lower than 256"),
    # Refused before the library is looked for.
    (["set", "gain", "X", "-1"], {"QVX3_LIBRARY_DIR": "/nonexistent"}, 2, "negative"),
    (["set", "threshold", "X", "nan"], {}, 2, "threshold"),
    (["set", "hpf", "X", "0"], {}, 2, "HPF Tau"),
    (["set", "hpf", "X", "12x"], {}, 2, "not an integer"),
    (["set", "lpf", "X", "1 2"], {}, 2, "not an integer"),
    (["set", "slot", "100h"], {}, 2, "slot"),
    (["set", "slot", "1", "2"], {}, 2, "usage"),
    (["set", "gain", "Z", "1"], {}, 2, "channel"),
    (["set", "gain", "X"], {}, 2, "usage"),
    (["set", "colour", "X", "1"], {}, 2, "unknown setting"),
    (["get", "slot", "X"], {}, 2, "no channel"),
    (["get"], {}, 2, "usage"),
    (["frobnicate"], {}, 2, "invalid choice"),
    (["watch", "--channels", "Z"], {}, 2, "channels"),
    (["watch", "--seconds", "1", "--count", "1"], {}, 2, "not allowed"),
    (["get", "threshold"], {"BXA7_SIM_FAIL": "send:22"}, 1,
     "QVX_3_GetThreshold failed (status 15): BXA_7_Send failed: injected fault, "
     "I/O error: simulated I/O error in BXA_7_Send"),
    (["set", "gain", "X", "2"], {"BXA7_SIM_FAIL": "send:17"}, 1, "QVX_3_SetAmplification"),
    (["info"], {"BXA7_SIM_VERSION": "0x0200"}, 1, "wrong BXA-7 library version"),
    (["info"], {"QVX3_LIBRARY_DIR": "/nonexistent"}, 1, "/nonexistent"),
]


@pytest.mark.parametrize("args,env,status,message", FAILURES)
def test_exit_statuses(sim, args, env, status, message):
    done = run(sim, *args, env=env)
    assert done.returncode == status, done.stderr
    assert message in done.stderr
    assert done.stdout == ""


def test_refused_value_changes_nothing(sim):
    run(sim, "set", "duration", "X", "10.5", check_status=2)
    assert run(sim, "get", "duration", "X", check_status=0).stdout == "0.1\n"


@pytest.mark.parametrize("command", ["info", "get", "set", "watch", "plot"])
def test_help(sim, command):
    done = run(sim, command, "--help", check_status=0)
    assert done.stdout.startswith(f"usage: qvx3 {command}")


def test_watch_to_csv(sim, tmp_path):
    run(sim, "set", "duration", "X", "0.01", check_status=0)
    run(sim, "set", "duration", "Y", "0.01", check_status=0)
    log = tmp_path / "log.csv"
    done = run(sim, "watch", "--count", "8", "--csv", str(log), check_status=0)
    rows = parse_log(done.stdout)
    assert len(rows) == 8 and {row[2] for row in rows} == {"X", "Y"}
    assert log.read_text() == done.stdout

    only_y = parse_log(run(sim, "watch", "--channels", "y", "--count", "3", check_status=0).stdout)
    assert [row[2] for row in only_y] == ["Y"] * 3


def test_watch_overflow_is_an_empty_field(sim):
    sim("force", "state", "0x50")
    sim("force", "freq-x", "0xFFFFFFFF")
    rows = parse_log(run(sim, "watch", "--channels", "X", "--count", "2", check_status=0).stdout)
    assert [row[3] for row in rows] == ["", ""]


def test_watch_ends_cleanly_on_ctrl_c(sim, tmp_path):
    log = tmp_path / "log.csv"
    environment = dict(sim.env, PYTHONPATH=str(PACKAGE_DIR))
    watcher = subprocess.Popen([sys.executable, "-m", "qvx3", "watch", "--csv", str(log)],
                               env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True)
    guard = threading.Timer(PATIENCE_S, watcher.kill)  # a silent watcher ends the reads
    guard.start()
    try:
        lines = [watcher.stdout.readline() for _ in range(3)]  # header and two rows
        assert all(line.endswith("\n") for line in lines), lines
        watcher.send_signal(signal.SIGINT)
        out, err = watcher.communicate(timeout=PATIENCE_S)
    finally:
        guard.cancel()
        if watcher.poll() is None:
            watcher.kill()
            watcher.wait()
    assert watcher.returncode == 0, err
    assert err == ""
    text = log.read_text()
    assert text.endswith("\n") and len(parse_log(text)) >= 2
    assert text == "".join(lines) + out


def test_plot(sim, tmp_path):
    pytest.importorskip("matplotlib")
    log = tmp_path / "log.csv"
    log.write_text("time,uptime_s,channel,frequency_hz\n"
                   "2026-01-02T03:04:05.000+00:00,1.0,X,1000.0\n"
                   "2026-01-02T03:04:05.100+00:00,1.1,Y,\n"
                   "2026-01-02T03:04:05.200+00:00,1.2,X,1000.5\n"
                   "2026-01-02T03:04:05.300+00:00,1.3,Y,12500.0\n")
    png = tmp_path / "plot.png"
    run(sim, "plot", str(log), "-o", str(png), check_status=0)
    assert png.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    unwritable = str(tmp_path / "no-such-folder" / "plot.png")
    assert "cannot write" in run(sim, "plot", str(log), "-o", unwritable, check_status=1).stderr


@pytest.mark.parametrize("content,message", [
    ("a,b,c\n1,2,3\n", "not a qvx3 watch log"),
    ("time,uptime_s,channel,frequency_hz\n", "no measurements"),
    ("time,uptime_s,channel,frequency_hz\nyesterday,1.0,X,1000.0\n", "line 2"),
    ("time,uptime_s,channel,frequency_hz\n2026-01-02T03:04:05,1.0,Z,1000.0\n", "channel"),
    ("time,uptime_s,channel,frequency_hz\n2026-01-02T03:04:05,1.0,X,fast\n", "line 2"),
    (None, "cannot read"),
    (b"\xff\xfe\x00time", "not a CSV file"),
])
def test_plot_refuses_bad_logs(sim, tmp_path, content, message):
    log = tmp_path / "log.csv"
    if isinstance(content, bytes):
        log.write_bytes(content)
    elif content is not None:
        log.write_text(content)
    png = tmp_path / "plot.png"
    done = run(sim, "plot", str(log), "-o", str(png), check_status=1)
    assert message in done.stderr
    assert not png.exists()


def test_plot_without_matplotlib(sim, tmp_path):
    blocker = tmp_path / "blocker" / "matplotlib"
    blocker.mkdir(parents=True)
    (blocker / "__init__.py").write_text("raise ImportError('No module named matplotlib')\n")
    log = tmp_path / "log.csv"
    log.write_text("time,uptime_s,channel,frequency_hz\n2026-01-02T03:04:05,1.0,X,1.0\n")
    environment = dict(sim.env, PYTHONPATH=os.pathsep.join([str(blocker.parent),
                                                             str(PACKAGE_DIR)]))
    done = subprocess.run([sys.executable, "-m", "qvx3", "plot", str(log), "-o",
                           str(tmp_path / "p.png")], env=environment, capture_output=True,
                          text=True, timeout=PATIENCE_S)
    assert done.returncode == 1
    assert "python3-matplotlib" in done.stderr

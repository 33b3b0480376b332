"""Prints how fast Module.measure() polls the simulated module and how many results it
delivers, next to the console's counter monitor on the same bus clock.

    /usr/bin/python3 python/bench/measure_rate.py BUILD_DIR [SECONDS] [BUS_HZ ...]

BUILD_DIR is the normal build (its lib/ and bin/); SECONDS per run (default 5); the bus
clocks default to 40000 (the simulated adapter's default) and 100000. Both channels measure
in 100 ms gates (the power-on setting, 20 new results a second to be seen), then in 10 ms
gates (the shortest, 200 a second).

Both sides are counted the same way, from the simulated adapter's call trace: state queries
(command 27) and frequency reads (25, 26) per second. The console runs in a tmux server of
its own and is counted over a window while its monitor runs.
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import qvx3  # noqa: E402

# The command bytes of read transactions, as the trace shows them.
STATE_QUERY = "last=0 data=1b ->"
FREQUENCY_READS = ("last=0 data=19 ->", "last=0 data=1a ->")


def counts(trace: Path):
    state = frequency = 0
    with trace.open(errors="replace") as lines:
        for line in lines:
            if not line.startswith("BXA_7_Send "):
                continue
            if STATE_QUERY in line:
                state += 1
            elif any(read in line for read in FREQUENCY_READS):
                frequency += 1
    return state, frequency


def prepare(folder: Path, bus_hz: str, gate: float, sim: str) -> dict:
    env = dict(os.environ, BXA7_SIM_STATE=str(folder / "state"), BXA7_SIM_BUS_HZ=bus_hz,
               BXA7_SIM_FAIL="", BXA7_SIM_TRACE="")
    os.environ.update(env)
    with qvx3.open() as module:
        module.x.duration = gate
        module.y.duration = gate
    subprocess.run([sim, "show"], env=env, check=True, capture_output=True)
    return env


def measure_side(folder: Path, seconds: float):
    trace = folder / "python.trace"
    os.environ["BXA7_SIM_TRACE"] = str(trace)
    with qvx3.open() as module:
        start = time.monotonic()
        records = sum(1 for _ in module.measure("XY", seconds=seconds))
        elapsed = time.monotonic() - start
    os.environ["BXA7_SIM_TRACE"] = ""
    state, frequency = counts(trace)
    return state / elapsed, frequency / elapsed, records / elapsed


def console_side(folder: Path, env: dict, console: str, seconds: float):
    trace = folder / "console.trace"
    server = f"qvx3-bench-{os.getpid()}"
    tmux = ["tmux", "-L", server, "-f", "/dev/null"]
    run_env = dict(env, BXA7_SIM_TRACE=str(trace))
    command = " ".join(f"{k}='{v}'" for k, v in run_env.items() if k.startswith("BXA7_SIM_"))
    subprocess.run([*tmux, "new-session", "-d", "-x", "120", "-y", "30",
                    f"env {command} '{console}' -q"], check=True)
    try:
        deadline = time.monotonic() + 60
        while not trace.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)  # key mode taken
        subprocess.run([*tmux, "send-keys", "f"], check=True)
        time.sleep(1.0)  # the monitor runs
        before, before_f = counts(trace)
        start = time.monotonic()
        time.sleep(seconds)
        after, after_f = counts(trace)
        elapsed = time.monotonic() - start
        subprocess.run([*tmux, "send-keys", "Escape"], check=True)
    finally:
        subprocess.run([*tmux, "kill-server"], capture_output=True)
    return (after - before) / elapsed, (after_f - before_f) / elapsed


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    build = Path(sys.argv[1]).resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    clocks = sys.argv[3:] or ["40000", "100000"]
    os.environ["QVX3_LIBRARY_DIR"] = str(build / "lib")
    sim = str(build / "bin" / "bxa7-sim")
    console = str(build / "bin" / "QVX-3-Test")

    print(f"{seconds:g} s per run; new results: 2 channels / gate")
    print(f"  {'gate':>6} {'bus clock':>10}  {'':<22} {'state queries/s':>16} "
          f"{'freq reads/s':>13} {'records/s':>10}")
    for gate in (0.1, 0.01):
        for bus_hz in clocks:
            with tempfile.TemporaryDirectory() as name:
                folder = Path(name)
                env = prepare(folder, bus_hz, gate, sim)
                head = f"  {gate * 1000:4.0f}ms {bus_hz:>8}Hz "
                polls, reads, records = measure_side(folder, seconds)
                print(f"{head} {'Module.measure()':<22} {polls:16.1f} {reads:13.1f} "
                      f"{records:10.1f}")
                polls, reads = console_side(folder, env, console, seconds)
                print(f"{head} {'console monitor (f)':<22} {polls:16.1f} {reads:13.1f} "
                      f"{'-':>10}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

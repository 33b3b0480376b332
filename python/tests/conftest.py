"""Fixtures: a fresh simulated module per test, on the normal build's libraries.

QVX3_LIBRARY_DIR names the folder of libQVX-3 and QVX3_SIM the bxa7-sim program; both default
to the build tree's build/normal.
"""

import os
import subprocess
import sys
from pathlib import Path
from typing import Dict, Iterator

import pytest

PACKAGE_DIR = Path(__file__).resolve().parents[1]
REPO = PACKAGE_DIR.parent
sys.path.insert(0, str(PACKAGE_DIR))

import qvx3  # noqa: E402

LIBRARY_DIR = os.environ.get("QVX3_LIBRARY_DIR") or str(REPO / "build/normal/lib")
SIM = os.environ.get("QVX3_SIM") or str(REPO / "build/normal/bin/bxa7-sim")

# Patience for anything that waits on the module's real-time counter; far above need.
PATIENCE_S = 60.0


class Sim:
    """The simulated module of one test: its environment and the bxa7-sim control program."""

    def __init__(self, env: Dict[str, str], state: Path) -> None:
        self.env = env
        self.state = state

    def __call__(self, *args: str) -> str:
        done = subprocess.run([SIM, *args], env=self.env, capture_output=True, text=True,
                              timeout=PATIENCE_S)
        assert done.returncode == 0, f"bxa7-sim {' '.join(args)}: {done.stderr}"
        return done.stdout


@pytest.fixture
def sim(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Sim:
    """A freshly powered-on module on an instant bus, in this process's environment too."""
    state = tmp_path / "state"
    monkeypatch.setenv("BXA7_SIM_STATE", str(state))
    monkeypatch.setenv("BXA7_SIM_BUS_HZ", "0")
    monkeypatch.setenv("QVX3_LIBRARY_DIR", LIBRARY_DIR)
    for name in ("BXA7_SIM_FAIL", "BXA7_SIM_TRACE", "BXA7_SIM_VERSION"):
        monkeypatch.delenv(name, raising=False)
    return Sim(dict(os.environ), state)


@pytest.fixture
def module(sim: Sim) -> Iterator[qvx3.Module]:
    with qvx3.open() as opened:
        yield opened


def reopen_with(monkeypatch: pytest.MonkeyPatch, **env: str) -> qvx3.Module:
    """Opens the adapter again with the given simulator variables (read at each open)."""
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    return qvx3.open()

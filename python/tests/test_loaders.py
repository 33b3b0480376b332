"""Choosing the Windows ctypes loaders from the build's BXA-7.call file."""

import pytest

from qvx3 import _lib


@pytest.mark.parametrize("recorded, pointer_size, expected", [
    ("stdcall\n", 4, ("WinDLL", "WinDLL")),
    ("cdecl\n", 4, ("WinDLL", "CDLL")),
    ("cdecl\r\n", 4, ("WinDLL", "CDLL")),  # a copy that gained Windows line ends
    (None, 4, ("WinDLL", "WinDLL")),        # no file: the build's default
    # One convention on 64-bit Windows, whatever the file says.
    ("cdecl\n", 8, ("CDLL", "CDLL")),
    ("garbage", 8, ("CDLL", "CDLL")),
    (None, 8, ("CDLL", "CDLL")),
])
def test_loaders_follow_the_recorded_convention(recorded, pointer_size, expected):
    assert _lib.windows_loaders(recorded, pointer_size) == expected


@pytest.mark.parametrize("recorded", ["", "\n", "fastcall\n", "Cdecl\n", "std call\n",
                                      "stdcall cdecl\n"])
def test_unknown_convention_is_refused(recorded):
    with pytest.raises(_lib.LibraryError, match="expected stdcall or cdecl"):
        _lib.windows_loaders(recorded, 4)


def test_call_file_is_read_from_the_folder(tmp_path):
    assert _lib.read_adapter_call(str(tmp_path)) is None
    (tmp_path / _lib.ADAPTER_CALL_FILE).write_bytes(b"cdecl\n")
    assert _lib.windows_loaders(_lib.read_adapter_call(str(tmp_path)), 4) == ("WinDLL", "CDLL")
    (tmp_path / _lib.ADAPTER_CALL_FILE).unlink()
    (tmp_path / _lib.ADAPTER_CALL_FILE).mkdir()  # there but unreadable
    with pytest.raises(_lib.LibraryError, match="cannot read"):
        _lib.read_adapter_call(str(tmp_path))

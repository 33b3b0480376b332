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


@pytest.fixture
def windows_32(monkeypatch, tmp_path):
    """A 32-bit Windows as far as the adapter lookup sees it: QVX-3.dll reported loaded from
    tmp_path / "dlls", and loaders that record which of them opened what."""
    folder = tmp_path / "dlls"
    folder.mkdir()
    opened = []

    def loader(kind):
        def load(name):
            opened.append((kind, name))
            return kind
        return load

    monkeypatch.setattr(_lib.sys, "platform", "win32")
    monkeypatch.setattr(_lib, "POINTER_SIZE", 4)
    monkeypatch.setattr(_lib, "_module_file", lambda handle: str(folder / "QVX-3.dll"))
    monkeypatch.setattr(_lib.ctypes, "WinDLL", loader("WinDLL"), raising=False)
    monkeypatch.setattr(_lib.ctypes, "CDLL", loader("CDLL"))
    return folder, opened


@pytest.mark.parametrize("recorded, kind", [(None, "WinDLL"), (b"stdcall\n", "WinDLL"),
                                            (b"cdecl\n", "CDLL")])
def test_adapter_is_opened_as_the_device_library_folder_says(windows_32, tmp_path, recorded,
                                                             kind):
    folder, opened = windows_32
    # A file elsewhere, e.g. beside the path the library was asked for, does not count.
    (tmp_path / _lib.ADAPTER_CALL_FILE).write_bytes(b"garbage\n")
    if recorded is not None:
        (folder / _lib.ADAPTER_CALL_FILE).write_bytes(recorded)
    assert _lib._adapter_handle(str(tmp_path / "QVX-3.dll"), "device") == kind
    assert opened == [(kind, _lib.ADAPTER_NAME)]


def test_unknown_convention_names_the_library(windows_32):
    folder, opened = windows_32
    (folder / _lib.ADAPTER_CALL_FILE).write_bytes(b"pascal\n")
    with pytest.raises(_lib.LibraryError, match=r"QVX-3\.dll: BXA-7\.call says 'pascal\\n'"):
        _lib._adapter_handle("QVX-3.dll", "device")
    assert opened == []

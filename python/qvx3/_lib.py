"""Loading libQVX-3 with ctypes and declaring its functions.

Exactly one adapter library lives in the process: the one libQVX-3 was linked against. The
BXA_7_ functions are looked up through the loaded device library (the loader searches its
dependencies), never by loading an adapter library by path.
"""

from __future__ import annotations

import ctypes
import os
import sys
import threading
from ctypes import POINTER, c_char, c_char_p, c_double, c_float, c_int32, c_uint8, c_uint16, c_uint32
from typing import Any, Callable, Dict, List, Optional, Tuple

if sys.platform == "win32":
    LIBRARY_NAMES: Tuple[str, ...] = ("QVX-3.dll",)
    ADAPTER_NAME = "BXA-7.dll"
else:
    LIBRARY_NAMES = ("libQVX-3.so.1", "libQVX-3.so")
    ADAPTER_NAME = "libBXA-7.so"

# Written by a Windows build beside its DLLs: how BXA-7.dll's functions are called.
ADAPTER_CALL_FILE = "BXA-7.call"

# 4 in a 32-bit Python, the only one where the two libraries' conventions can differ.
POINTER_SIZE = ctypes.sizeof(ctypes.c_void_p)

# Major version both libraries must have.
SUPPORTED_MAJOR = 1


class LibraryError(Exception):
    """The device or adapter library cannot be found, loaded or used (e.g. a wrong version)."""


def windows_loaders(recorded: Optional[str], pointer_size: int) -> Tuple[str, str]:
    """The ctypes loader names (device library, adapter library) for a Windows build.

    `recorded` is the text of the build's BXA-7.call file, None when there is none. 64-bit
    Windows has one calling convention, so the file does not matter there. On 32-bit Windows
    QVX-3.dll is always __stdcall, BXA-7.dll as recorded. Raises LibraryError for a text
    that is neither "stdcall" nor "cdecl": a call made with a guessed convention corrupts
    the stack.
    """
    if pointer_size != 4:
        return "CDLL", "CDLL"
    if recorded is None:
        # Builds from before the file was written, and adapter DLLs copied in by hand,
        # are __stdcall: the build's default and the adapter's own convention.
        return "WinDLL", "WinDLL"
    call = recorded.strip()
    if call == "stdcall":
        return "WinDLL", "WinDLL"
    if call == "cdecl":
        return "WinDLL", "CDLL"
    raise LibraryError(f"{ADAPTER_CALL_FILE} says {recorded!r}; expected stdcall or cdecl")


def read_adapter_call(folder: str) -> Optional[str]:
    """The text of the BXA-7.call file in `folder`, None when it has none."""
    try:
        with open(os.path.join(folder, ADAPTER_CALL_FILE), encoding="ascii",
                  errors="replace") as file:
            return file.read(64)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise LibraryError(f"cannot read {ADAPTER_CALL_FILE} in {folder}: {error}") from error


class DeviceError(Exception):
    """A call of the adapter or device library failed.

    Attributes:
        function: the exported function's name, e.g. ``"QVX_3_GetThreshold"``.
        status: the adapter library's status code (never 0).
        error_message: the adapter's text on the failure (``BXA_7_ErrorMessage``).
        io_error_message: the adapter's text on the I/O error behind it.
        flush_error: the failure of the adapter flush that followed, if that failed too.
    """

    def __init__(self, function: str, status: int, error_message: str, io_error_message: str,
                 flush_error: Optional["DeviceError"] = None) -> None:
        self.function = function
        self.status = status
        self.error_message = error_message
        self.io_error_message = io_error_message
        self.flush_error = flush_error
        text = f"{function} failed (status {status}): {error_message}, I/O error: {io_error_message}"
        if flush_error is not None:
            text += f"; then {flush_error}"
        super().__init__(text)


_u8p = POINTER(c_uint8)
_u16p = POINTER(c_uint16)
_u32p = POINTER(c_uint32)
_fp = POINTER(c_float)
_dp = POINTER(c_double)

# name: (restype, argtypes), for every function of qvx3.h and bxa7.h the package calls.
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "BXA_7_Version": (c_uint16, []),
    "BXA_7_Open": (c_int32, []),
    "BXA_7_Flush_LPT": (c_int32, []),
    "BXA_7_GetSlot": (c_int32, [_u8p, c_int32, c_int32]),
    "BXA_7_SetSlot": (c_int32, [c_uint8, c_int32, c_int32]),
    "BXA_7_ErrorMessage": (c_char_p, []),
    "BXA_7_IO_ErrorMessage": (c_char_p, []),
    "QVX_3_Version": (c_uint16, []),
    "QVX_3_Check": (c_int32, [_u8p]),
    "QVX_3_FW_Ver": (c_int32, [_u16p]),
    "QVX_3_FW_Date": (c_int32, [POINTER(c_char)]),
    "QVX_3_Prod_ID": (c_int32, [POINTER(c_char)]),
    "QVX_3_Prod_No": (c_int32, [_u32p]),
    "QVX_3_GetState": (c_int32, [_u8p]),
    "QVX_3_GetFrequency": (c_int32, [c_uint8, _dp]),
    "QVX_3_Get5V": (c_int32, [_fp]),
    "QVX_3_Get3V": (c_int32, [_fp]),
    "QVX_3_GetTemp": (c_int32, [_fp]),
    "QVX_3_GetClkCPU": (c_int32, [_fp]),
    "QVX_3_GetClkPer": (c_int32, [_fp]),
    "QVX_3_GetClkADC": (c_int32, [_fp]),
    "QVX_3_GetClkDAC": (c_int32, [_fp]),
    "QVX_3_GetUptime": (c_int32, [_dp]),
    "QVX_3_SetPolarity": (c_int32, [c_uint8, c_uint8]),
    "QVX_3_GetPolarity": (c_int32, [c_uint8, _u8p]),
    "QVX_3_SetAmplification": (c_int32, [c_uint8, c_float]),
    "QVX_3_GetAmplification": (c_int32, [c_uint8, _fp]),
    "QVX_3_SetLPF": (c_int32, [c_uint8, c_uint8]),
    "QVX_3_GetLPF": (c_int32, [c_uint8, _u16p, _u8p]),
    "QVX_3_SetHPF_Tau": (c_int32, [c_uint8, c_uint8]),
    "QVX_3_GetHPF_Tau": (c_int32, [c_uint8, _u8p]),
    "QVX_3_SetThreshold": (c_int32, [c_uint8, c_float]),
    "QVX_3_GetThreshold": (c_int32, [c_uint8, _fp]),
    "QVX_3_SetDuration": (c_int32, [c_uint8, c_float]),
    "QVX_3_GetDuration": (c_int32, [c_uint8, _fp]),
    "QVX_3_GetLPF_Frequency": (c_float, [c_uint16, c_uint8]),
    "QVX_3_GetLPF_Damping": (c_float, [c_uint16, c_uint8]),
    "QVX_3_GetHPF_Frequency": (c_float, [c_uint8]),
}


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


class Library:
    """The loaded device library with its adapter library, and the one lock over both.

    Calls come from one thread at a time (a read is two adapter calls, and the error texts
    belong to the latest failure), so every call goes through ``call`` under the lock.
    """

    def __init__(self, path: str, handle: ctypes.CDLL, adapter: ctypes.CDLL) -> None:
        """`adapter` is where the BXA_7_ functions are looked up: `handle` itself where the
        loader searches dependencies."""
        self.path = path
        self.lock = threading.RLock()
        self._functions: Dict[str, Callable[..., Any]] = {}
        for name, (restype, argtypes) in _PROTOTYPES.items():
            source = adapter if name.startswith("BXA_7_") else handle
            try:
                function = getattr(source, name)
            except AttributeError as error:
                raise LibraryError(f"{path} does not export {name}") from error
            function.restype = restype
            function.argtypes = argtypes
            self._functions[name] = function

    def raw(self, name: str) -> Callable[..., Any]:
        """The function itself, for the calls that return no status."""
        return self._functions[name]

    def call(self, name: str, *args: Any) -> None:
        """Calls a status-returning function; on a failure fetches both adapter texts,
        flushes the adapter and raises DeviceError."""
        with self.lock:
            status = self._functions[name](*args)
            if status != 0:
                raise self._failure(name, status, flush=True)

    def call_unflushed(self, name: str, *args: Any) -> None:
        """As ``call``, without the flush (for opening and flushing the adapter itself)."""
        with self.lock:
            status = self._functions[name](*args)
            if status != 0:
                raise self._failure(name, status, flush=False)

    def _failure(self, name: str, status: int, flush: bool) -> DeviceError:
        # The I/O text first, then the other: each describes the failure only until the
        # next adapter operation.
        io_text = _text(self._functions["BXA_7_IO_ErrorMessage"]())
        error_text = _text(self._functions["BXA_7_ErrorMessage"]())
        flush_error = None
        if flush:
            flush_status = self._functions["BXA_7_Flush_LPT"]()
            if flush_status != 0:
                flush_error = self._failure("BXA_7_Flush_LPT", flush_status, flush=False)
        return DeviceError(name, status, error_text, io_text, flush_error)


_loaded: Dict[str, Library] = {}


def _candidates(explicit: Optional[str]) -> List[Tuple[str, str]]:
    """(where, path-or-name) in lookup order."""
    places: List[Tuple[str, str]] = []
    folders: List[Tuple[str, str]] = []
    if explicit:
        # What the caller names is the only place: falling back to another copy would hide
        # a mistake.
        if not os.path.isdir(explicit):
            return [("the given path", explicit)]
        return [("the given folder", os.path.join(explicit, name)) for name in LIBRARY_NAMES]
    env = os.environ.get("QVX3_LIBRARY_DIR")
    if env:
        folders.append(("QVX3_LIBRARY_DIR", env))
    folders.append(("sys.prefix/lib", os.path.join(sys.prefix, "lib")))
    for where, folder in folders:
        for name in LIBRARY_NAMES:
            places.append((where, os.path.join(folder, name)))
    for name in LIBRARY_NAMES:
        places.append(("the system loader", name))
    return places


def load(library: Optional[str] = None) -> Library:
    """Finds and loads the device library: in `library` (a file or a folder) when given, else
    in ``QVX3_LIBRARY_DIR``, then ``sys.prefix/lib``, then by the system loader's own search."""
    loader: Callable[[str], ctypes.CDLL] = ctypes.CDLL
    if sys.platform == "win32":
        # The device library's convention does not depend on the build's adapter choice.
        loader = getattr(ctypes, windows_loaders(None, POINTER_SIZE)[0])
    looked: List[str] = []
    last_error = ""
    for where, path in _candidates(library):
        by_path = os.sep in path or (os.altsep is not None and os.altsep in path)
        if by_path and not os.path.exists(path):
            looked.append(f"{path} ({where})")
            continue
        key = os.path.realpath(path) if by_path else path
        if key in _loaded:
            return _loaded[key]
        try:
            handle = loader(path)
        except OSError as error:
            if by_path:
                # Found but unusable (e.g. its adapter library is missing): say so, rather
                # than silently loading some other copy.
                raise LibraryError(f"cannot load {path} ({where}): {error}") from error
            looked.append(f"{path} ({where})")
            last_error = str(error)
            continue
        loaded = Library(path, handle, _adapter_handle(path, handle))
        _loaded[key] = loaded
        return loaded
    raise LibraryError("the QVX-3 device library was not found; looked for " + ", ".join(looked)
                       + (f" [{last_error}]" if last_error else ""))


def _adapter_handle(path: str, handle: ctypes.CDLL) -> ctypes.CDLL:
    """Where to look up the BXA_7_ functions for the device library loaded from `path`."""
    if sys.platform != "win32":
        return handle
    folder = os.path.dirname(_module_file(handle) or os.path.abspath(path))
    try:
        loader = windows_loaders(read_adapter_call(folder), POINTER_SIZE)[1]
    except LibraryError as error:
        raise LibraryError(f"{path}: {error}") from error
    # GetProcAddress does not search dependencies: take the adapter DLL the device DLL
    # loaded, by its module name, which gives that loaded copy.
    return getattr(ctypes, loader)(ADAPTER_NAME)  # WinDLL is absent from ctypes elsewhere


def _module_file(handle: ctypes.CDLL) -> Optional[str]:
    """The file a Windows DLL was loaded from (found by the system loader's search when
    loaded by name), None if Windows cannot say."""
    buffer = ctypes.create_unicode_buffer(32768)
    # A kernel32 of our own: prototypes set on ctypes.windll's would change them for the
    # whole process.
    get_module_file_name = getattr(ctypes, "WinDLL")("kernel32").GetModuleFileNameW
    get_module_file_name.restype = c_uint32
    get_module_file_name.argtypes = [ctypes.c_void_p, ctypes.c_wchar_p, c_uint32]
    length = get_module_file_name(handle._handle, buffer, len(buffer))
    return buffer.value if 0 < length < len(buffer) else None


def version_text(word: int) -> str:
    return f"{word >> 8}.{word & 0xFF:02d}"


def check_versions(lib: Library) -> None:
    """Refuses libraries of another major version, adapter first, as the console does."""
    for label, name in (("BXA-7", "BXA_7_Version"), ("QVX-3", "QVX_3_Version")):
        word = int(lib.raw(name)())
        if word >> 8 != SUPPORTED_MAJOR:
            raise LibraryError(f"wrong {label} library version, expected "
                               f"{SUPPORTED_MAJOR}.00, found {version_text(word)}")

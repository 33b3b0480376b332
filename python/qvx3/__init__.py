"""Scripting the QVX-3 two-channel frequency counter over its device library.

    import qvx3
    with qvx3.open() as module:
        module.x.threshold = 0.2
        for record in module.measure("XY", seconds=10):
            print(record.time, record.channel, record.frequency)
"""

from ._lib import DeviceError, LibraryError
from .module import Channel, FirmwareVersion, Measurement, Module, State, open

__version__ = "1.0.0"

__all__ = ["Channel", "DeviceError", "FirmwareVersion", "LibraryError", "Measurement", "Module",
           "State", "open", "__version__"]

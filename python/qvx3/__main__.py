"""``python3 -m qvx3``: the qvx3 command."""

import sys

from .cli import main

sys.exit(main())

"""The sample writers need numpy, PIL and crcmod, which scripts/deps installs for Debian's own
interpreter, /usr/bin/python3. A writer started by another one that lacks them (a virtual
environment's, a python3 earlier on PATH) starts again under /usr/bin/python3 with the same
arguments, once; where that does not help, the import fails as it would have."""

import importlib
import os
import sys

SYSTEM_PYTHON = "/usr/bin/python3"
_RESTARTED = "QUORIL_SAMPLE_WRITER_RESTARTED"


def require(*modules):
    try:
        for name in modules:
            importlib.import_module(name)
    except ImportError:
        if os.environ.get(_RESTARTED) or not os.access(SYSTEM_PYTHON, os.X_OK):
            raise
        os.environ[_RESTARTED] = "1"
        sys.stdout.flush()
        sys.stderr.flush()
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON, os.path.abspath(sys.argv[0])] + sys.argv[1:])

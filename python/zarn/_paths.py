"""Finding the bundled reference database."""
from __future__ import annotations

import os

from . import _config


def default_database() -> str:
    """The database that Parser() uses when given none.

    In order: the file named by the ZARN_DATABASE environment variable; the
    bundled qordatavb.DAT where the build put it relative to this package
    (data/ inside the package when installed by pip, the build tree's or the
    installed prefix's share/zarn/ otherwise); the path compiled into the C++
    library.
    """
    env = os.environ.get("ZARN_DATABASE")
    if env:
        return env
    if _config.DATABASE_RELATIVE:
        here = os.path.dirname(os.path.abspath(__file__))
        candidate = os.path.normpath(os.path.join(here, _config.DATABASE_RELATIVE))
        if os.path.exists(candidate):
            return candidate
    from ._zarn import reference_database_path

    return reference_database_path()

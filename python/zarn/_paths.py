"""Finding the bundled reference database."""
from __future__ import annotations


def default_database() -> str:
    """The database that Parser() uses when given none.

    The library's own answer (zarn::ReferenceDatabasePath), the same for
    every interface: the file named by the ZARN_DATABASE environment
    variable; else the bundled qordatavb.DAT found from where the compiled
    module is (data/ inside the package when installed by pip, share/zarn/
    of the build tree or of the installed prefix otherwise); else the path
    the C++ library was configured to install it at.
    """
    from ._zarn import reference_database_path

    return reference_database_path()

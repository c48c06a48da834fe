"""Street-address parser for Canadian addresses in English and French.

    >>> import zarn
    >>> parser = zarn.Parser()              # the bundled reference database
    >>> parser.parse("123 Main St. N")
    Parts(street_number='123', street='Main', street_type='Street', direction='N', unit='')

Parser methods release the GIL while they parse, and one Parser may be shared
by any number of threads. Failures raise zarn.Error, whose .number is the
parser's error number or an SQLite result code.

zarn.parse_series() turns a pandas Series of addresses into a DataFrame of
the five parts; zarn.dask.parse_frame() does the same for a Dask DataFrame
column on a dask.distributed cluster.
"""
from __future__ import annotations

from ._types import (
    Diagnostics,
    ERROR_INVALID_ARGUMENT,
    ERROR_INVALID_USE_OF_NULL,
    ERROR_OUT_OF_MEMORY,
    ERROR_OVERFLOW,
    ERROR_SUBSCRIPT_OUT_OF_RANGE,
    Error,
    Parts,
    SegmentKind,
)
from ._zarn import Parser, __version__, reference_database_path
from ._paths import default_database

COLUMNS = Parts._fields


def parse_series(series, parser=None, threads=None, errors="raise", profile=None):
    """Parses a pandas Series of addresses into a DataFrame of the five parts.

    The result has the columns street_number, street, street_type, direction
    and unit (object dtype) and the index of ``series``. Missing values (None,
    NaN, pd.NA) give a row of None. ``parser`` defaults to Parser();
    ``threads`` and ``errors`` are as for Parser.parse_many(); with
    errors='coerce' an address that fails gives a row of None. ``profile``
    ('specified' or 'canada') makes the default parser use that profile; it
    cannot be combined with ``parser``.
    """
    from ._pandas import parse_series as impl

    return impl(series, parser=parser, threads=threads, errors=errors, profile=profile)


__all__ = [
    "COLUMNS",
    "Diagnostics",
    "ERROR_INVALID_ARGUMENT",
    "ERROR_INVALID_USE_OF_NULL",
    "ERROR_OUT_OF_MEMORY",
    "ERROR_OVERFLOW",
    "ERROR_SUBSCRIPT_OUT_OF_RANGE",
    "Error",
    "Parser",
    "Parts",
    "SegmentKind",
    "__version__",
    "default_database",
    "parse_series",
    "reference_database_path",
]

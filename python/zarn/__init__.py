"""Street-address parser for Canadian addresses in English and French.

    >>> import zarn
    >>> parser = zarn.Parser()              # the bundled reference database, canada rules
    >>> p = parser.parse("PO Box 4001 Stn A, Toronto ON  M5W 1A1")
    >>> p.po_box, p.station, p.municipality, p.province, p.postal_code
    ('4001', 'STN A', 'Toronto', 'ON', 'M5W 1A1')
    >>> zarn.Parser(profile="specified").parse("123 Main St. N")[:5]   # the documented rules
    ('123', 'Main', 'Street', 'N', '')

Parser methods release the GIL while they parse, and one Parser may be shared
by any number of threads. Failures raise zarn.Error, whose .number is the
parser's error number or an SQLite result code.

zarn.standardize() writes parts in Canada Post's standard form
('5-123 RUE SAINT-DENIS O', '123 MAIN ST N').

zarn.parse_series() turns a pandas Series of addresses into a DataFrame of
the parts; zarn.dask.parse_frame() does the same for a Dask DataFrame
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
    StandardAddress,
)
from ._zarn import Parser, __version__, reference_database_path
from ._paths import default_database

COLUMNS = Parts._fields
#: The columns parse_series(..., standard=True) adds after the parts.
FLAG_COLUMNS = ("flags", "unplaced_words")
STANDARD_COLUMNS = ("standard_line", "standard_type", "standard_direction")
#: With the canada profile, after those: a whole address's two standard lines.
WHOLE_STANDARD_COLUMNS = ("standard_delivery_line", "standard_last_line")

_default_parsers = {}


def _default_parser():
    # One Parser per bundled database path, so that its connections and the
    # symbol table it has read are kept between calls.
    path = default_database()
    parser = _default_parsers.get(path)
    if parser is None:
        parser = _default_parsers.setdefault(path, Parser(path))
    return parser


def standardize(parts, language="detect", parser=None, address=None):
    """The parts in Canada Post's standard form, as a StandardAddress.

    ``parts`` is a zarn.Parts (or any five str); ``language`` is 'en', 'fr'
    or 'detect'; ``parser`` (default: one on the bundled database) gives the
    reference database whose street-type symbols are used; ``address`` is
    the text the parts came from, a further clue for 'detect'. See
    Parser.standardize().

        >>> zarn.standardize(zarn.Parts('123', 'Saint-Denis', 'rue', 'W', '5')).line
        '5-123 RUE SAINT-DENIS O'
    """
    if parser is None:
        parser = _default_parser()
    return parser.standardize(parts, language, address)


def parse_series(series, parser=None, threads=None, errors="raise", profile=None,
                 standard=False, language="detect", flags=False):
    """Parses a pandas Series of addresses into a DataFrame of the parts.

    The result has the columns of zarn.COLUMNS (object dtype: street_number,
    street, street_type, direction, unit, then the seven of a whole address,
    which the 'specified' rules leave empty) and the index of ``series``. Missing values (None,
    NaN, pd.NA) give a row of None. ``parser`` defaults to Parser();
    ``threads`` and ``errors`` are as for Parser.parse_many(); with
    errors='coerce' an address that fails gives a row of None. ``profile``
    ('canada', the default, or 'specified') makes the default parser use that
    profile; it cannot be combined with ``parser``. ``standard=True`` adds the columns
    standard_line, standard_type and standard_direction: each address in
    Canada Post's standard form, in ``language`` ('en', 'fr' or 'detect').
    ``flags=True`` adds the columns flags (the diagnostic flag names joined
    by commas) and unplaced_words (joined by spaces), before the standard
    columns, as zarn-parse --flags writes them.
    """
    from ._pandas import parse_series as impl

    return impl(series, parser=parser, threads=threads, errors=errors, profile=profile,
                standard=standard, language=language, flags=flags)


__all__ = [
    "COLUMNS",
    "Diagnostics",
    "ERROR_INVALID_ARGUMENT",
    "ERROR_INVALID_USE_OF_NULL",
    "ERROR_OUT_OF_MEMORY",
    "ERROR_OVERFLOW",
    "ERROR_SUBSCRIPT_OUT_OF_RANGE",
    "Error",
    "FLAG_COLUMNS",
    "Parser",
    "Parts",
    "STANDARD_COLUMNS",
    "WHOLE_STANDARD_COLUMNS",
    "SegmentKind",
    "StandardAddress",
    "__version__",
    "default_database",
    "parse_series",
    "reference_database_path",
    "standardize",
]

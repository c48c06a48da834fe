"""The result and error types of the zarn package."""
from __future__ import annotations

import enum
from typing import NamedTuple, Optional

# Error numbers of the parser itself. Any other number is an SQLite extended
# result code, for example 14 (SQLITE_CANTOPEN) for a missing database file.
ERROR_INVALID_ARGUMENT = 3001  #: the address is not valid UTF-8 text
ERROR_OVERFLOW = 6  #: the address is longer than 32,767 UTF-16 code units
ERROR_OUT_OF_MEMORY = 7
ERROR_SUBSCRIPT_OUT_OF_RANGE = 9
ERROR_INVALID_USE_OF_NULL = 94  #: a required value of the database is Null


class SegmentKind(enum.IntEnum):
    """The kinds of segment that Parser.address_segment() accepts."""

    NONE = 0
    STREET_TYPE = 1
    STREET = 2
    STREET_NUMBER = 3
    UNIT = 4
    DIRECTION = 5
    DASH = 6


class Diagnostics(NamedTuple):
    """What a parse with the 'canada' profile could not settle.

    flags: names such as 'no_street_type', 'range_assumed', 'unit_assumed',
    'direction_ambiguous', 'unknown_words'. unplaced_words: words of the
    address the rules could not place, as typed. Both empty for a clean parse
    and always for the 'specified' profile.
    """

    flags: tuple
    unplaced_words: tuple


class StandardAddress(NamedTuple):
    """An address in Canada Post's standard form (see Parser.standardize()).

    line: the street line, e.g. '5-123 RUE SAINT-DENIS O' or '123 MAIN ST N'.
    street_number, street, street_type (the symbol: 'ST', 'AVE', 'RUE',
    'BOUL'), direction ('N', 'SW', 'O', 'NO'), unit: the standardised parts.
    language: 'en' or 'fr', the language it is written in.
    flags: names of what could not be written the Canada Post way:
    'type_without_symbol', 'type_other_language', 'direction_unknown'.
    delivery_line, last_line: a whole address's delivery line ('PO BOX 4001
    STN A') and last line ('TORONTO ON  M5W 1A1'), from the parts only the
    'canada' profile fills; '' without them.
    """

    line: str
    street_number: str
    street: str
    street_type: str
    direction: str
    unit: str
    language: str
    flags: tuple
    delivery_line: str = ""
    last_line: str = ""


class Error(Exception):
    """A parse that failed.

    number: the parser's error number (see the ERROR_* constants) or the
    SQLite extended result code of a database failure.
    message: what failed, naming the database file when it is the cause.
    index: for Parser.parse_many(), the position of the failing address.
    """

    def __init__(self, number: int, message: str, index: Optional[int] = None) -> None:
        super().__init__(number, message, index)
        self.number = number
        self.message = message
        self.index = index

    def __str__(self) -> str:
        return self.message

    def __repr__(self) -> str:
        return f"zarn.Error({self.number!r}, {self.message!r})"

    def __reduce__(self):
        # Keeps the number and index when the error travels between
        # processes (Dask workers send it back to the client pickled).
        return (type(self), (self.number, self.message, self.index))


def _define_parts(fields):
    """Makes zarn.Parts from the library's field table: (name, meaning) pairs.

    Called by the compiled module as it loads, so that Parts has one item per
    output field of the library, in its order.
    """
    global Parts
    doc = "The parts of one address; each is '' when the address lacks it.\n\n" + "\n".join(
        f"{name}: {meaning}" for name, meaning in fields)
    made = NamedTuple("Parts", [(name, str) for name, _ in fields])
    # Every field may be left out ('' then), so that Parts("123", "Main",
    # "Street", "N", "") names the street line alone.
    made.__new__.__defaults__ = ("",) * len(fields)
    made.__doc__ = doc
    made.__module__ = "zarn"
    Parts = made
    return made


# The compiled module defines Parts (through _define_parts) when it loads.
Parts = None
from . import _zarn  # noqa: E402,F401

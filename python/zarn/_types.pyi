"""Type stubs of zarn._types. Parts is made at import time from the library's
field table (include/zarn/fields.h); a field added there gets a line here."""
import enum
from typing import NamedTuple, Optional

ERROR_INVALID_ARGUMENT: int
ERROR_OVERFLOW: int
ERROR_OUT_OF_MEMORY: int
ERROR_SUBSCRIPT_OUT_OF_RANGE: int
ERROR_INVALID_USE_OF_NULL: int

class SegmentKind(enum.IntEnum):
    NONE = 0
    STREET_TYPE = 1
    STREET = 2
    STREET_NUMBER = 3
    UNIT = 4
    DIRECTION = 5
    DASH = 6

class Parts(NamedTuple):
    street_number: str
    street: str
    street_type: str
    direction: str
    unit: str
    po_box: str
    rural_route: str
    general_delivery: str
    station: str
    municipality: str
    province: str
    postal_code: str

class Diagnostics(NamedTuple):
    flags: tuple
    unplaced_words: tuple

class StandardAddress(NamedTuple):
    line: str
    street_number: str
    street: str
    street_type: str
    direction: str
    unit: str
    language: str
    flags: tuple
    delivery_line: str
    last_line: str

class Error(Exception):
    number: int
    message: str
    index: Optional[int]
    def __init__(self, number: int, message: str, index: Optional[int] = None) -> None: ...

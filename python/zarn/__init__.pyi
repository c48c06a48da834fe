"""Type stubs of the zarn package."""
from typing import Literal, Optional, Sequence, Tuple, Union

import pandas

from ._types import (
    ERROR_INVALID_ARGUMENT as ERROR_INVALID_ARGUMENT,
    ERROR_INVALID_USE_OF_NULL as ERROR_INVALID_USE_OF_NULL,
    ERROR_OUT_OF_MEMORY as ERROR_OUT_OF_MEMORY,
    ERROR_OVERFLOW as ERROR_OVERFLOW,
    ERROR_SUBSCRIPT_OUT_OF_RANGE as ERROR_SUBSCRIPT_OUT_OF_RANGE,
    Diagnostics as Diagnostics,
    Error as Error,
    Parts as Parts,
    SegmentKind as SegmentKind,
    StandardAddress as StandardAddress,
)
from ._zarn import Parser as Parser, __version__ as __version__
from ._zarn import reference_database_path as reference_database_path

COLUMNS: Tuple[str, ...]
FLAG_COLUMNS: Tuple[str, ...]
STANDARD_COLUMNS: Tuple[str, ...]
WHOLE_STANDARD_COLUMNS: Tuple[str, ...]

def default_database() -> str: ...
def parse_series(
    series: pandas.Series, parser: Optional[Parser] = None, threads: Optional[int] = None,
    errors: Literal["raise", "coerce"] = "raise",
    profile: Optional[Literal["specified", "canada"]] = None, standard: bool = False,
    language: Literal["en", "fr", "detect"] = "detect", flags: bool = False) -> pandas.DataFrame: ...
def standardize(parts: Union[Parts, Sequence[Optional[Union[str, bytes]]]],
                language: Literal["en", "fr", "detect"] = "detect",
                parser: Optional[Parser] = None,
                address: Optional[Union[str, bytes]] = None) -> StandardAddress: ...

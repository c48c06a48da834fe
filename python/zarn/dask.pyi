"""Type stubs of zarn.dask."""
from typing import List, Literal, Optional

import dask.dataframe

def opened_databases() -> List[str]: ...
def parse_frame(
    ddf: dask.dataframe.DataFrame, column: str, database: Optional[str] = None,
    threads: Optional[int] = 1, errors: Literal["raise", "coerce"] = "raise",
    keep_columns: bool = False,
    profile: Literal["specified", "canada"] = "specified", standard: bool = False,
    language: Literal["en", "fr", "detect"] = "detect",
    flags: bool = False) -> dask.dataframe.DataFrame: ...

"""pandas helper: a Series of addresses to a DataFrame of parts."""
from __future__ import annotations

import pandas as pd

from . import _types
from ._zarn import Parser

# One column per output field of the library, in its order.
COLUMNS = list(_types.Parts._fields)
FLAG_COLUMNS = ["flags", "unplaced_words"]
STANDARD_COLUMNS = ["standard_line", "standard_type", "standard_direction"]
# With the canada profile, after those: a whole address's two standard lines.
WHOLE_STANDARD_COLUMNS = ["standard_delivery_line", "standard_last_line"]


def parse_series(series: pd.Series, parser=None, threads=None, errors="raise",
                 profile=None, standard=False, language="detect", flags=False) -> pd.DataFrame:
    if not isinstance(series, pd.Series):
        raise TypeError(f"parse_series expects a pandas Series, not {type(series).__name__}")
    if parser is None:
        parser = Parser(profile=profile or "canada")
    elif profile is not None and profile != parser.profile:
        raise ValueError(f"profile={profile!r} differs from the parser's ({parser.profile!r})")
    values = series.to_numpy(dtype=object)
    missing = pd.isna(values)
    present = [v for v, m in zip(values, missing) if not m]
    try:
        parsed = parser.parse_many(present, threads=threads, errors=errors, diagnostics=flags)
    except Exception as e:
        # Point at the row of the Series rather than the position among the
        # non-missing values.
        index = getattr(e, "index", None)
        if index is not None:
            positions = [i for i, m in enumerate(missing) if not m]
            row = series.index[positions[index]]
            e.index = positions[index]
            e.message = f"{e.message.rsplit(' (address ', 1)[0]} (row {row!r})"
        raise
    whole = parser.profile == "canada"
    standard_columns = STANDARD_COLUMNS + (WHOLE_STANDARD_COLUMNS if whole else [])
    columns = COLUMNS + (FLAG_COLUMNS if flags else []) + (standard_columns if standard else [])
    rows = []
    it = iter(parsed)
    texts = iter(present)
    empty = (None,) * len(columns)
    for m in missing:
        if m:
            rows.append(empty)
            continue
        parts = next(it)
        text = next(texts)
        if parts is None:
            rows.append(empty)
            continue
        row = ()
        if flags:
            parts, diagnostics = parts
            row = (",".join(diagnostics.flags), " ".join(diagnostics.unplaced_words))
        row = tuple(parts) + row
        if standard:
            form = parser.standardize(parts, language, text)
            row += (form.line, form.street_type, form.direction)
            if whole:
                row += (form.delivery_line, form.last_line)
        rows.append(row)
    return pd.DataFrame(rows, columns=columns, index=series.index, dtype=object)

"""Parsing a Dask DataFrame column on a dask.distributed cluster.

    import dask.dataframe as dd
    from dask.distributed import Client
    import zarn.dask

    client = Client("tcp://scheduler:8786")
    ddf = dd.read_csv("addresses-*.csv", dtype=str)
    parts = zarn.dask.parse_frame(ddf, "address", database="/opt/zarn/qordatavb.DAT")
    parts.to_parquet("parts/")

Each worker process opens the reference database itself, once, and keeps
its Parser for every partition it parses; nothing but the function and its
arguments travels from the client. ``database`` is a path on the workers
(None: each worker's own default, see zarn.default_database()).
"""
from __future__ import annotations

import threading

import pandas as pd

from ._pandas import COLUMNS, FLAG_COLUMNS, STANDARD_COLUMNS, WHOLE_STANDARD_COLUMNS, parse_series
from ._zarn import profile_names
from ._zarn import Parser

_lock = threading.Lock()
_parsers: dict = {}


def _worker_parser(database, profile="canada"):
    """The Parser of this process for `database` and `profile`, opened on
    first use."""
    with _lock:
        parser = _parsers.get((database, profile))
        if parser is None:
            parser = Parser(database, profile=profile)
            _parsers[(database, profile)] = parser
        return parser


def opened_databases():
    """The database paths this process has opened for parse_frame (for
    checking where the work ran, e.g. with Client.run)."""
    with _lock:
        return sorted({p.database for p in _parsers.values()})


def _parse_partition(frame, column, database, threads, errors, keep_columns,
                     profile="canada", standard=False, language="detect", flags=False):
    parts = parse_series(frame[column], parser=_worker_parser(database, profile),
                         threads=threads, errors=errors, standard=standard, language=language,
                         flags=flags)
    if not keep_columns:
        return parts
    # Side by side, not joined on the index: a partition whose index repeats
    # a label must keep one row per row, not one per matching pair.
    return pd.concat([frame, parts], axis=1)


def parse_frame(ddf, column, database=None, threads=1, errors="raise", keep_columns=False,
                profile="canada", standard=False, language="detect", flags=False):
    """Parses the addresses of column ``column`` of the Dask DataFrame ``ddf``.

    Returns a lazy Dask DataFrame with the columns street_number, street,
    street_type, direction and unit, with the same partitions, index and order
    as ``ddf``; with keep_columns=True the columns of ``ddf`` come first.
    Missing addresses give rows of None.

    database: the reference database as a path valid on every worker, or
    None for each worker's default. threads: native threads per partition
    (1 suits one Dask thread per core). errors: 'raise' fails the computation
    with zarn.Error at the first bad address; 'coerce' gives a row of None.
    profile: 'canada' (default) or 'specified', the rules each worker uses.
    standard: also the columns standard_line, standard_type and
    standard_direction, the address in Canada Post's standard form in
    ``language`` ('en', 'fr' or 'detect'), and with the 'canada' profile
    standard_delivery_line and standard_last_line. flags: also the columns flags and
    unplaced_words (what the 'canada' profile was unsure of).
    """
    import dask.dataframe as dd

    if not isinstance(ddf, dd.DataFrame):
        raise TypeError(f"parse_frame expects a dask DataFrame, not {type(ddf).__name__}")
    if column not in ddf.columns:
        raise KeyError(f"no column {column!r} in the frame")
    if errors not in ("raise", "coerce"):
        raise ValueError(f"errors must be 'raise' or 'coerce', not {errors!r}")
    if profile not in profile_names():
        raise ValueError(f"profile must be one of {', '.join(profile_names())}, not {profile!r}")
    if language not in ("en", "fr", "detect"):
        raise ValueError(f"language must be 'en', 'fr' or 'detect', not {language!r}")
    standard_columns = STANDARD_COLUMNS + (WHOLE_STANDARD_COLUMNS if profile == "canada" else [])
    columns = COLUMNS + (FLAG_COLUMNS if flags else []) + (standard_columns if standard else [])
    meta = pd.DataFrame({c: pd.Series(dtype=object) for c in columns})
    if keep_columns:
        clash = [c for c in columns if c in ddf.columns]
        if clash:
            raise ValueError(f"the frame already has the columns {clash}")
        meta = ddf._meta.join(meta)
    return ddf.map_partitions(
        _parse_partition, column, database, threads, errors, keep_columns, profile, standard,
        language, flags, meta=meta)

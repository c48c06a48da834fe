import numpy as np
import pandas as pd
import pytest

import zarn


def test_series_to_frame(parser, sample):
    index = pd.Index([f"row{i}" for i in range(len(sample))])
    series = pd.Series(sample, index=index, name="address")
    frame = zarn.parse_series(series, parser=parser)
    assert list(frame.columns) == list(zarn.COLUMNS)
    assert frame.index.equals(index)
    want = [parser.parse(a) for a in sample]
    assert [zarn.Parts(*row) for row in frame.itertuples(index=False)] == want


def test_missing_values_give_rows_of_none(parser):
    series = pd.Series(["123 Main St. N", None, np.nan, pd.NA, "Apt 5 21st Ave"], index=[5, 4, 3, 2, 1])
    frame = zarn.parse_series(series, parser=parser)
    assert list(frame.index) == [5, 4, 3, 2, 1]
    for label in (4, 3, 2):
        assert frame.loc[label].isna().all()
    assert tuple(frame.loc[5]) == tuple(parser.parse("123 Main St. N"))
    assert tuple(frame.loc[1]) == tuple(parser.parse("Apt 5 21st Ave"))


def test_errors(parser):
    series = pd.Series(["123 Main St", None, b"12 Ave\xff", "Apt 5 21st Ave"], index=list("abcd"))
    with pytest.raises(zarn.Error) as info:
        zarn.parse_series(series, parser=parser)
    assert info.value.number == zarn.ERROR_INVALID_ARGUMENT
    assert info.value.index == 2  # the position in the Series, not among non-missing values
    assert "'c'" in info.value.message
    frame = zarn.parse_series(series, parser=parser, errors="coerce")
    assert frame.loc["c"].isna().all()
    assert frame.loc["d", "unit"] == "5"


def test_empty_series(parser):
    frame = zarn.parse_series(pd.Series([], dtype=object), parser=parser)
    assert frame.shape == (0, len(zarn.COLUMNS))
    assert list(frame.columns) == list(zarn.COLUMNS)


def test_not_a_series(parser):
    with pytest.raises(TypeError):
        zarn.parse_series(["123 Main St"], parser=parser)


def test_default_parser(monkeypatch, database):
    monkeypatch.setenv("ZARN_DATABASE", database)
    frame = zarn.parse_series(pd.Series(["123 Main St. N"]))
    assert frame.loc[0, "street_type"] == "Street"


def test_profile(database, sample):
    series = pd.Series(sample[:200])
    canada = zarn.Parser(database, profile="canada")
    frame = zarn.parse_series(series, parser=canada, profile="canada")
    assert [zarn.Parts(*row) for row in frame.itertuples(index=False)] == [
        canada.parse(a) for a in sample[:200]]
    with pytest.raises(ValueError, match="profile"):
        zarn.parse_series(series, parser=zarn.Parser(database, profile="specified"),
                          profile="canada")
    # Without a parser the profile chooses the default one's; canada unless named.
    assert zarn.parse_series(series).equals(frame)
    specified = zarn.Parser(database, profile="specified")
    assert [zarn.Parts(*row) for row in zarn.parse_series(series, profile="specified")
            .itertuples(index=False)] == [specified.parse(a) for a in sample[:200]]


def test_flags_columns_match_parse_diagnostics(database, sample):
    canada = zarn.Parser(database, profile="canada")
    series = pd.Series(sample[:300] + [None], index=range(10, 311))
    frame = zarn.parse_series(series, parser=canada, flags=True, standard=True)
    assert list(frame.columns) == (list(zarn.COLUMNS) + list(zarn.FLAG_COLUMNS)
                                   + list(zarn.STANDARD_COLUMNS)
                                   + list(zarn.WHOLE_STANDARD_COLUMNS))
    assert list(frame.index) == list(series.index)
    for (_, row), text in zip(frame.iterrows(), series):
        if text is None:
            assert row.isna().all()
            continue
        parts, diagnostics = canada.parse_diagnostics(text)
        assert tuple(row[list(zarn.COLUMNS)]) == tuple(parts), text
        assert row["flags"] == ",".join(diagnostics.flags), text
        assert row["unplaced_words"] == " ".join(diagnostics.unplaced_words), text
    # Without flags=True the columns are not there.
    assert "flags" not in zarn.parse_series(series, parser=canada).columns


def test_parts_are_the_librarys_fields(parser):
    assert zarn.Parts._fields == zarn.COLUMNS
    assert zarn.COLUMNS == ("street_number", "street", "street_type", "direction", "unit",
                            "po_box", "rural_route", "general_delivery", "station",
                            "municipality", "province", "postal_code")
    assert "civic number" in zarn.Parts.__doc__
    pairs = parser.parse_many(["5-123 rue Saint-Denis Ouest", b"\xff"], errors="coerce",
                              diagnostics=True)
    assert pairs[0][0] == parser.parse("5-123 rue Saint-Denis Ouest")
    assert isinstance(pairs[0][1], zarn.Diagnostics) and pairs[1] is None


def test_items_that_are_not_text(parser):
    # Each such item has its own answer: a TypeError naming it, or None with
    # errors='coerce' while the others are parsed.
    items = ["123 Main St. N", 5, "Apt 5 21st Ave", ["1 Main St"]]
    with pytest.raises(TypeError, match="address 1 must be str or bytes, not int"):
        parser.parse_many(items)
    got = parser.parse_many(items, errors="coerce")
    assert got == [parser.parse("123 Main St. N"), None, parser.parse("Apt 5 21st Ave"), None]
    frame = zarn.parse_series(pd.Series(items, index=list("wxyz")), parser=parser,
                              errors="coerce")
    assert frame.loc["x"].isna().all() and frame.loc["z"].isna().all()
    assert frame.loc["y", "unit"] == "5"

import shutil
import sqlite3

import pandas as pd
import pytest

import zarn

# {parts, language} -> standard line, language written.
FORMS = [
    (("123", "Main", "Street", "N", ""), "detect", "123 MAIN ST N", "en"),
    (("123", "Saint-Denis", "rue", "W", "5"), "detect", "5-123 RUE SAINT-DENIS O", "fr"),
    (("3200", "Côte-des-Neiges", "chemin", "", ""), "detect", "3200 CH CÔTE-DES-NEIGES", "fr"),
    (("4500", "Saint-Laurent", "Boulevard", "W", ""), "fr", "4500 BOUL SAINT-LAURENT O", "fr"),
    (("4500", "Saint-Laurent", "Boulevard", "W", ""), "en", "4500 SAINT-LAURENT BLVD W", "en"),
    (("10", "Pine", "Crescent", "NW", ""), "detect", "10 PINE CRES NW", "en"),
    (("15", "Lilas", "Croissant", "", ""), "detect", "15 CROIS LILAS", "fr"),
    (("", "21", "Avenue", "", "5"), "en", "21ST AVE UNIT 5", "en"),
]


@pytest.mark.parametrize("parts,language,line,written", FORMS)
def test_forms(parser, parts, language, line, written):
    got = parser.standardize(zarn.Parts(*parts), language)
    assert isinstance(got, zarn.StandardAddress)
    assert got.line == line
    assert got.language == written
    assert got.flags == ()
    # A plain tuple, bytes and the module-level function give the same form.
    assert parser.standardize(parts, language) == got
    assert parser.standardize(tuple(p.encode() for p in parts), language) == got
    assert zarn.standardize(parts, language, parser=parser) == got


def test_default_parser_and_address_clue(parser):
    parts = parser.parse("4500 boul Saint-Laurent Ouest")
    assert zarn.standardize(parts).line == "4500 SAINT LAURENT BLVD W"
    assert zarn.standardize(parts, address="4500 boul Saint-Laurent Ouest").line == \
        "4500 BOUL SAINT LAURENT O"
    assert parser.parse_standard("4500 boul Saint-Laurent Ouest").street_type == "BOUL"


def test_flags(parser):
    got = parser.standardize(("7", "Big", "Bayou", "Up", ""), "en")
    assert got.line == "7 BIG BAYOU UP"
    assert got.flags == ("type_without_symbol", "direction_unknown")


def test_bad_arguments(parser):
    with pytest.raises(ValueError):
        parser.standardize(("1", "Main", "Street", "", ""), "de")
    with pytest.raises(TypeError):
        parser.standardize("1 Main St")
    with pytest.raises(TypeError):
        parser.standardize(("1", "Main", "Street"))
    with pytest.raises(zarn.Error) as e:
        parser.standardize((b"1", b"Ma\xffin", b"Street", b"", b""))
    assert e.value.number == zarn.ERROR_INVALID_ARGUMENT


def test_database_without_symbols(database, tmp_path):
    older = tmp_path / "older.DAT"
    shutil.copyfile(database, older)
    db = sqlite3.connect(older)
    db.execute("DROP TABLE StreetTypeSymbol")
    db.commit()
    db.close()
    p = zarn.Parser(older)
    parts = p.parse("123 Main St. N")
    assert parts.street_type == "Street"
    with pytest.raises(zarn.Error) as e:
        p.standardize(parts)
    assert "StreetTypeSymbol" in str(e.value)


def test_parse_series_standard(parser):
    series = pd.Series(["123 Main St. N", None, "12725, boul. Rodolphe-Forget"], index=[5, 6, 7])
    frame = zarn.parse_series(series, parser=parser, standard=True)
    assert list(frame.columns) == list(zarn.COLUMNS) + list(zarn.STANDARD_COLUMNS)
    assert frame.loc[5, "standard_line"] == "123 MAIN ST N"
    assert frame.loc[6, "standard_line"] is None
    assert frame.loc[7, "standard_line"] == "12725 BOUL RODOLPHE FORGET"
    assert frame.loc[7, "standard_type"] == "BOUL"
    english = zarn.parse_series(series, parser=parser, standard=True, language="en")
    assert english.loc[7, "standard_line"] == "12725 RODOLPHE FORGET BLVD"
    assert list(zarn.parse_series(series, parser=parser).columns) == list(zarn.COLUMNS)

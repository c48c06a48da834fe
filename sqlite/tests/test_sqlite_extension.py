"""libzarn_sqlite from Python's sqlite3 module and from Debian's sqlite3 program."""
import csv
import json
import os
import shutil
import sqlite3
import subprocess
import sys

import pytest

from conftest import DEFAULT_PROFILE, PARTS, PROFILE_PARTS, PROFILES, WHOLE_PARTS

FUNCTIONS = {part: f"zarn_{part}" for part in PARTS + WHOLE_PARTS}


def connect(extension):
    conn = sqlite3.connect(":memory:")
    conn.enable_load_extension(True)
    conn.load_extension(extension)
    conn.enable_load_extension(False)
    return conn


@pytest.fixture()
def conn(extension):
    c = connect(extension)
    yield c
    c.close()


def sample_table(conn, sample):
    conn.execute("CREATE TABLE sample (id INTEGER PRIMARY KEY, address TEXT)")
    conn.executemany("INSERT INTO sample (address) VALUES (?)", [(a,) for a in sample])


@pytest.mark.parametrize("profile", PROFILES)
def test_sample_table_matches_zarn_parse(conn, sample, expected, profile):
    sample_table(conn, sample)
    # The default profile is called without naming it.
    args = "address" if profile == DEFAULT_PROFILE else "address, ?"
    params = () if profile == DEFAULT_PROFILE else (profile,)
    parts = PROFILE_PARTS[profile]
    columns = ", ".join(f"{FUNCTIONS[p]}({args})" for p in parts)
    rows = conn.execute(
        f"SELECT address, zarn_parse({args}), {columns} FROM sample ORDER BY id",
        params * (len(parts) + 1)).fetchall()
    assert len(rows) == len(expected[profile])
    mismatches = []
    for (address, js, *singles), (want_address, want) in zip(rows, expected[profile]):
        got_json = json.loads(js)
        got_single = dict(zip(parts, singles))
        if address != want_address or got_json != want or got_single != want:
            mismatches.append((address, got_json, got_single, want))
    assert not mismatches[:10], f"{len(mismatches)} rows differ from zarn-parse"


@pytest.mark.parametrize("profile", PROFILES)
def test_parse_result_matches_zarn_parse_flags_and_standard(conn, sample, profile):
    """zarn_parse_result(address, profile, 1, 1) carries the diagnostics and the
    standard form that zarn-parse --flags --standard writes, for every row."""
    out = subprocess.run(
        [os.environ["ZARN_PARSE"], "--quiet", "--format", "jsonl", "--profile", profile,
         "--flags", "--standard", "--input", os.environ["ZARN_TEST_SAMPLE"]],
        check=True, capture_output=True, text=True).stdout
    want = [json.loads(line) for line in out.splitlines()]
    sample_table(conn, sample)
    rows = conn.execute("SELECT zarn_parse_result(address, ?, 1, 1) FROM sample ORDER BY id",
                        (profile,)).fetchall()
    assert len(rows) == len(want)
    mismatches = []
    for (js,), w in zip(rows, want):
        got = json.loads(js)
        same = (all(got[p] == w[p] for p in PARTS) and got["error"] is None
                and ",".join(got["diagnostics"]["flags"]) == w["flags"]
                and " ".join(got["diagnostics"]["unplaced_words"]) == w["unplaced_words"]
                and got["standard"]["line"] == w["standard_line"]
                and got["standard"]["street_type"] == w["standard_type"]
                and got["standard"]["direction"] == w["standard_direction"])
        if not same:
            mismatches.append((w["address"], got, w))
    assert not mismatches[:5], f"{len(mismatches)} rows differ from zarn-parse"


def test_parse_result_keys(conn):
    cases = [
        ("SELECT zarn_parse_result('123 Main St. N')", [*PARTS, *WHOLE_PARTS, "error"]),
        ("SELECT zarn_parse_result('123 Main St. N', 'specified')", [*PARTS, "error"]),
        ("SELECT zarn_parse_result('123 Main St. N', 'canada', 1)",
         [*PARTS, *WHOLE_PARTS, "error", "diagnostics"]),
        ("SELECT zarn_parse_result('123 Main St. N', 'canada', 0, 1)",
         [*PARTS, *WHOLE_PARTS, "error", "standard"]),
    ]
    for sql, keys in cases:
        (js,) = conn.execute(sql).fetchone()
        assert list(json.loads(js)) == keys, sql
    (js,) = conn.execute("SELECT zarn_parse_result('5-123 rue Saint-Denis Ouest', 'canada', 1, 1)"
                         ).fetchone()
    got = json.loads(js)
    assert got["standard"] == {"line": "5-123 RUE SAINT-DENIS O", "street_type": "RUE",
                               "direction": "O", "delivery_line": "", "last_line": "",
                               "language": "fr", "flags": []}
    assert got["diagnostics"] == {"flags": ["unit_assumed"], "unplaced_words": []}
    (js,) = conn.execute("SELECT zarn_parse_result('PO Box 4001 Stn A, Toronto ON M5W 1A1', "
                         "'canada', 0, 1)").fetchone()
    got = json.loads(js)
    assert (got["po_box"], got["station"], got["municipality"], got["province"],
            got["postal_code"]) == ("4001", "STN A", "Toronto", "ON", "M5W 1A1")
    assert (got["standard"]["delivery_line"], got["standard"]["last_line"]) == (
        "PO BOX 4001 STN A", "TORONTO ON  M5W 1A1")
    assert conn.execute("SELECT zarn_postal_code('Toronto ON M5W 1A1', 'canada'), "
                        "zarn_postal_code('Toronto ON M5W 1A1'), "
                        "zarn_postal_code('Toronto ON M5W 1A1', 'specified')").fetchone() == (
                            "M5W 1A1", "M5W 1A1", "")
    with pytest.raises(sqlite3.OperationalError, match="not valid UTF-8"):
        conn.execute("SELECT zarn_parse_result(x'31204d61696e20537420ff', 'canada', 1, 1)"
                     ).fetchone()
    assert conn.execute("SELECT zarn_parse_result(NULL)").fetchone() == (None,)


def test_json_keys_in_part_order(conn):
    (js,) = conn.execute("SELECT zarn_parse('5-123 rue Saint-Denis Ouest')").fetchone()
    assert list(json.loads(js)) == [*PARTS, *WHOLE_PARTS]
    (js,) = conn.execute("SELECT zarn_parse('5-123 rue Saint-Denis Ouest', 'specified')").fetchone()
    assert list(json.loads(js)) == list(PARTS)
    # json_extract works on the answer: it is valid JSON text.
    assert conn.execute(
        "SELECT json_extract(zarn_parse('5-123 rue Saint-Denis Ouest'), '$.unit')"
    ).fetchone() == ("5",)


def test_null_in_null_out(conn):
    calls = ["zarn_parse(NULL)", "zarn_parse(NULL, 'canada')", "zarn_parse('1 Main St', NULL)"]
    calls += [f"{f}(NULL)" for f in FUNCTIONS.values()]
    for call in calls:
        assert conn.execute(f"SELECT {call}").fetchone() == (None,), call


def test_profile_name_ignores_case(conn):
    a = conn.execute("SELECT zarn_parse('123 Main St. N')").fetchone()
    assert conn.execute("SELECT zarn_parse('123 Main St. N', 'CANADA')").fetchone() == a
    assert conn.execute("SELECT zarn_parse('123 Main St. N', 'Specified')").fetchone() == \
        conn.execute("SELECT zarn_parse('123 Main St. N', 'specified')").fetchone() != a


@pytest.mark.parametrize("sql,message", [
    ("SELECT zarn_parse('1 Main St', 'bogus')", "unknown profile 'bogus'"),
    ("SELECT zarn_street('1 Main St', '')", "unknown profile ''"),
    ("SELECT zarn_parse(x'31204d61696e20537420ff')", "not valid UTF-8"),
    ("SELECT zarn_unit(x'c0af')", "not valid UTF-8"),
    ("SELECT zarn_parse(printf('%.*c', 32768, 'a'))", "Overflow"),
    ("SELECT zarn_street('12 ' || printf('%.*c', 1048576, 'a') || ' St', 'canada')", "Overflow"),
])
def test_errors(conn, sql, message):
    with pytest.raises(sqlite3.OperationalError) as info:
        conn.execute(sql).fetchone()
    assert message in str(info.value)
    assert str(info.value).startswith("zarn: ")
    # The connection keeps working.
    assert conn.execute("SELECT zarn_street('123 Main St. N')").fetchone() == ("Main",)


def test_longest_address_parses(conn):
    for profile in PROFILES:
        (js,) = conn.execute("SELECT zarn_parse(printf('%.*c', 32767, 'a'), ?)",
                             (profile,)).fetchone()
        assert set(json.loads(js)) == set(PROFILE_PARTS[profile])


def test_numbers_are_parsed_as_their_text(conn):
    assert conn.execute("SELECT zarn_street(123)").fetchone() == \
        conn.execute("SELECT zarn_street('123')").fetchone()


def test_not_deterministic(conn):
    # The reference database can change between statements, so SQLite must not
    # treat the answers as fixed: an index on them is refused.
    conn.execute("CREATE TABLE t (address TEXT)")
    for f in ["zarn_parse(address)", "zarn_street(address)"]:
        with pytest.raises(sqlite3.OperationalError, match="non-deterministic"):
            conn.execute(f"CREATE INDEX i ON t ({f})")
    flags = dict(conn.execute(
        "SELECT name, flags FROM pragma_function_list WHERE name LIKE 'zarn%'").fetchall())
    assert set(flags) >= {"zarn_parse", *FUNCTIONS.values(), "zarn_database"}
    SQLITE_DETERMINISTIC, SQLITE_INNOCUOUS = 0x800, 0x200000
    for name, value in flags.items():
        if name != "zarn_version":
            assert not value & SQLITE_DETERMINISTIC, name
        assert value & SQLITE_INNOCUOUS, name


def test_default_database_is_the_bundled_file(conn, database):
    (path,) = conn.execute("SELECT zarn_database()").fetchone()
    assert os.path.samefile(path, database)


def run_sqlite3(program, extension, script, env=None):
    return subprocess.run([program, ":memory:"], input=f".load {extension}\n{script}",
                          capture_output=True, text=True, env=env)


def test_missing_database_is_an_error(sqlite3_program, extension, tmp_path):
    env = dict(os.environ, ZARN_DATABASE=str(tmp_path / "missing.DAT"))
    r = run_sqlite3(sqlite3_program, extension, "SELECT zarn_street('123 Main St. N');\n", env)
    assert "cannot open" in r.stderr and "missing.DAT" in r.stderr, r.stderr
    assert r.stdout == ""


def test_database_replaced_between_statements(extension, database, tmp_path):
    copy = tmp_path / "copy.DAT"
    shutil.copy(database, copy)
    os.environ["ZARN_DATABASE"] = str(copy)
    try:
        c = connect(extension)
    finally:
        del os.environ["ZARN_DATABASE"]
    assert c.execute("SELECT zarn_street_type('123 Main St. N')").fetchone() == ("Street",)
    (tmp_path / "copy.DAT").write_bytes(b"not a database at all" * 100)
    with pytest.raises(sqlite3.OperationalError, match="not a database"):
        c.execute("SELECT zarn_street_type('123 Main St. N')").fetchone()
    shutil.copy(database, copy)
    assert c.execute("SELECT zarn_street_type('123 Main St. N')").fetchone() == ("Street",)
    c.close()


@pytest.mark.parametrize("profile", PROFILES)
def test_sqlite3_program_on_the_sample(sqlite3_program, extension, expected, tmp_path, profile):
    """Debian's sqlite3 shell: .import the sample, parse with the extension,
    write the parts as CSV, compare every row with zarn-parse."""
    sample_csv = tmp_path / "sample.csv"
    with open(sample_csv, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(["address"])
        for address, _ in expected[profile]:
            w.writerow([address])
    out_csv = tmp_path / "out.csv"
    script = f"""
.mode csv
.import {sample_csv} sample
.headers off
.once {out_csv}
SELECT address, {', '.join(f"{FUNCTIONS[p]}(address, '{profile}')" for p in PARTS)}
FROM sample ORDER BY rowid;
"""
    r = run_sqlite3(sqlite3_program, extension, script)
    assert r.returncode == 0 and r.stderr == "", r.stderr
    with open(out_csv, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    want = [[address, *(parts[p] for p in PARTS)] for address, parts in expected[profile]]
    assert len(rows) == len(want)
    bad = [(g, w) for g, w in zip(rows, want) if g != w]
    assert not bad[:10], f"{len(bad)} rows differ from zarn-parse"


def test_sqlite3_program_load_and_write_columns(sqlite3_program, extension):
    # The README example: parse a column into new columns.
    script = """
CREATE TABLE customers (id INTEGER PRIMARY KEY, address TEXT);
INSERT INTO customers (address) VALUES ('5-123 rue Saint-Denis Ouest'), ('123 Main St. N'), (NULL);
ALTER TABLE customers ADD COLUMN street_number TEXT;
ALTER TABLE customers ADD COLUMN street TEXT;
ALTER TABLE customers ADD COLUMN unit TEXT;
UPDATE customers SET street_number = zarn_street_number(address), street = zarn_street(address),
  unit = zarn_unit(address);
.mode list
SELECT id, street_number, street, unit FROM customers ORDER BY id;
"""
    r = run_sqlite3(sqlite3_program, extension, script)
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines() == ["1|123|Saint-Denis|5", "2|123|Main|", "3|||"]


# Replacing or dropping any one of the extension's functions leaves the
# others working: their shared state once belonged to zarn_version alone and
# was freed with it. Run in a child, so that a crash fails the test.
REPLACEMENTS = [
    'c.create_function("zarn_version", 0, None)',
    'c.create_function("zarn_version", 0, lambda: "mine")',
    'c.create_function("zarn_parse", 1, None)',
    'c.create_function("zarn_database", 0, None)',
    '[c.create_function(f, n, None) for f in ("zarn_version", "zarn_parse", "zarn_database") '
    'for n in (0, 1, 2)]',
]


@pytest.mark.parametrize("replace", REPLACEMENTS)
def test_functions_replaced_or_dropped(extension, replace):
    program = f"""
import sqlite3
c = sqlite3.connect(":memory:")
c.enable_load_extension(True)
c.load_extension({extension!r})
{replace}
for _ in range(3):
    print(c.execute("select zarn_street('123 Main St. N'), zarn_unit('Apt 5 21st Ave', 'specified')")
          .fetchone())
c.close()
"""
    r = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, (r.returncode, r.stderr)
    assert r.stdout == "('Main', '5')\n" * 3, r.stdout

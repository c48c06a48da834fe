"""End-to-end tests of zarn-parse: each case runs the built program.

Usage: cli_test.py --program PATH --samples FILE --database FILE --version X.Y.Z CASE
       cli_test.py list
CTest runs one process per case (see CMakeLists.txt beside this file).
"""

import argparse
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading

HEADER = "address\tstreet_number\tstreet\tstreet_type\tdirection\tunit\terror"
PARTS = ["street_number", "street", "street_type", "direction", "unit", "error"]

# Answers known independently of the program (the project's documented examples).
KNOWN = {
    "123 Main St. N": ["123", "Main", "Street", "N", ""],
    "5-123 rue Saint-Denis Ouest": ["123", "Saint Denis", "rue", "W", "5"],
}

# The cases of input and output handling run with the specified rules named,
# whose five columns and answers are fixed; the default (canada) profile has
# cases of its own (default_profile, canada_profile, profiles, readme).
SPECIFIED = ["--profile", "specified"]

# The default profile's columns and answers.
WHOLE = ["po_box", "rural_route", "general_delivery", "station", "municipality", "province",
         "postal_code"]
CANADA_HEADER = "\t".join(["address"] + PARTS[:-1] + WHOLE + ["error"])
KNOWN_CANADA = {
    "123 Main St. N": ["123", "Main", "Street", "N", ""] + [""] * 7,
    "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8":
        ["123", "Saint-Denis", "rue", "W", "5", "", "", "", "", "Montréal", "QC", "H2X 3K8"],
    "PO Box 4001 Stn A, Toronto ON  M5W 1A1":
        ["", "", "", "", "", "4001", "", "", "STN A", "Toronto", "ON", "M5W 1A1"],
    "123 main st winnipeg mb": ["123", "main", "Street", "", "", "", "", "", "", "winnipeg", "MB", ""],
    "GD STN MAIN, Whitehorse YT Y1A 1A1":
        ["", "", "", "", "", "", "", "GD", "STN MAIN", "Whitehorse", "YT", "Y1A 1A1"],
}

ARGS = None


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(args, stdin=b"", env=None, program=None, profile=SPECIFIED):
    """Runs the program; returns (exit status, stdout bytes, stderr text).
    `profile` goes before the arguments unless they name one ([] for the
    program's default)."""
    if "--profile" in args or "-p" in args:
        profile = []
    cmd = [program or ARGS.program] + profile + args
    p = subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=300, env=env)
    return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")


def run_ok(args, stdin=b"", profile=SPECIFIED):
    code, out, err = run(args, stdin, profile=profile)
    check(code == 0, f"{args}: exit {code}, stderr: {err}")
    return out, err


def tsv_rows(out):
    """The rows of TSV output, header checked and removed, fields unescaped."""
    lines = out.decode("utf-8", "surrogateescape").split("\n")
    check(lines[-1] == "", "TSV output does not end with a line end")
    check(lines[0] == HEADER, f"TSV header is {lines[0]!r}")
    rows = []
    for line in lines[1:-1]:
        fields = line.split("\t")
        check(len(fields) == 7, f"TSV row has {len(fields)} fields: {line[:200]!r}")
        rows.append([unescape_tsv(f) for f in fields])
    return rows


def unescape_tsv(field):
    table = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}
    return re.sub(r"\\(.)", lambda m: table[m.group(1)], field)


def check_known(row):
    address = row[0]
    check(row[1:6] == KNOWN[address], f"{address!r} parsed as {row[1:6]}, want {KNOWN[address]}")
    check(row[6] == "", f"{address!r} has error {row[6]!r}")


def single_line(err):
    lines = [line for line in err.split("\n") if line]
    check(len(lines) == 1, f"want one line on standard error, got {lines}")
    return lines[0]


def summary(err):
    m = re.search(r"(\d+) rows read, (\d+) parsed, (\d+) failed, [0-9.]+ s", err)
    check(m is not None, f"no summary line in {err!r}")
    return tuple(int(g) for g in m.groups())


def sample_lines():
    with open(ARGS.samples, encoding="utf-8") as f:
        return f.read().split("\n")[:-1]


# ---------------------------------------------------------------- cases


def case_arguments(tmp):
    out, err = run_ok(list(KNOWN))
    rows = tsv_rows(out)
    check([r[0] for r in rows] == list(KNOWN), f"rows {rows}")
    for row in rows:
        check_known(row)
    check(summary(err) == (2, 2, 0), f"summary {summary(err)}")

    # The same answers in every format.
    out, _ = run_ok(["--format", "csv"] + list(KNOWN))
    records = list(csv.reader(io.StringIO(out.decode("utf-8"))))
    check(records[0] == HEADER.split("\t"), f"CSV header {records[0]}")
    for record in records[1:]:
        check_known(record)

    out, _ = run_ok(["--format", "jsonl"] + list(KNOWN))
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    check(len(objects) == 2, f"{len(objects)} JSON lines")
    for obj in objects:
        check(list(obj) == ["address"] + PARTS, f"JSON keys {list(obj)}")
        check(obj["error"] is None, f"JSON error {obj['error']!r}")
        check_known([obj["address"]] + [obj[k] for k in PARTS[:-1]] + [""])

    # Table: every value starts in the column of its header word.
    out, _ = run_ok(["--format", "table"] + list(KNOWN))
    lines = out.decode("utf-8").split("\n")
    header = lines[0]
    check(re.match(r"^-+( +-+)+$", lines[1]) is not None, f"table rule {lines[1]!r}")
    for address, line in zip(KNOWN, lines[2:4]):
        for name, value in zip(["street_number", "street", "street_type", "direction"], KNOWN[address]):
            # The header word itself ("street", not the start of "street_number").
            col = re.search(rf"(?<!\S){name}(?!\S)", header).start()
            check(line[col:col + len(value)] == value,
                  f"table: {value!r} not under {name!r} in {line!r}")

    # An invalid UTF-8 argument keeps its row.
    code, out, _ = run([b"12 Main \xff St".decode("utf-8", "surrogateescape")] + list(KNOWN))
    check(code == 0, f"exit {code}")
    rows = tsv_rows(out)
    check(len(rows) == 3 and "UTF-8" in rows[0][6], f"rows {rows}")


def case_stdin_stdout(tmp):
    lines = sample_lines()
    data = ("\n".join(lines) + "\n").encode("utf-8")
    out, err = run_ok([], data)
    rows = tsv_rows(out)
    check([r[0] for r in rows] == lines, "address column differs from the input lines")
    read, parsed, failed = summary(err)
    check(read == len(lines) and parsed + failed == read, f"summary {read} {parsed} {failed}")
    check(failed == sum(1 for r in rows if r[6]), "failed count differs from error rows")
    # Most sample addresses have a number and a street.
    with_parts = sum(1 for r in rows if r[1] and r[2])
    check(with_parts > 0.9 * len(rows), f"only {with_parts} of {len(rows)} rows have parts")
    # Empty input: the header only.
    out, err = run_ok([], b"")
    check(out.decode() == HEADER + "\n", f"empty input gave {out!r}")
    check(summary(err) == (0, 0, 0), "summary of empty input")


def case_files(tmp):
    expected, _ = run_ok([], open(ARGS.samples, "rb").read())
    target = os.path.join(tmp, "out.tsv")
    out, _ = run_ok(["--input", ARGS.samples, "--output", target])
    check(out == b"", "output also went to standard output")
    check(open(target, "rb").read() == expected, "file output differs from the stdout output")
    # "-" names the standard streams.
    out, _ = run_ok(["-i", "-", "-o", "-"], open(ARGS.samples, "rb").read())
    check(out == expected, "'-' output differs")

    missing = os.path.join(tmp, "no-such-input.txt")
    code, out, err = run(["--input", missing, "--output", os.path.join(tmp, "never.tsv")])
    check(code == 2, f"missing input: exit {code}")
    line = single_line(err)
    check(missing in line and "No such file" in line, f"missing input message {line!r}")
    check(out == b"", "rows written for a missing input")
    check(not os.path.exists(os.path.join(tmp, "never.tsv")), "output created for missing input")

    code, _, err = run(["--input", tmp])
    check(code == 2 and tmp in single_line(err), f"directory as input: exit {code} {err!r}")

    # Input and output the same file: refused before the input is truncated.
    same = os.path.join(tmp, "same.txt")
    with open(same, "w") as f:
        f.write("123 Main St. N\n")
    code, _, err = run(["--input", same, "--output", same])
    check(code == 1 and "same file" in err, f"same file: exit {code} {err!r}")
    check(open(same).read() == "123 Main St. N\n", "input damaged")


def make_csv(tmp, rows, header=("id", "address", "note")):
    path = os.path.join(tmp, "in.csv")
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, quoting=csv.QUOTE_MINIMAL, lineterminator="\r\n")
        w.writerow(header)
        w.writerows(rows)
    return path


def case_csv_passthrough(tmp):
    rows = [
        ["1", "123 Main St. N", 'a, "quoted" note'],
        ["2", "5-123 rue Saint-Denis Ouest", "line one\nline two"],
        ["3", "", "empty address, kept"],
        ["4", "  12 Elm Ave  ", "  spaces kept  "],
        ["5", 'He said "hi", twice', "x"],
        ["6", "9 King St W", ""],
    ]
    path = make_csv(tmp, rows)
    out, err = run_ok(["--csv", "--column", "address", "--input", path])
    records = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
    check(records[0] == ["id", "address", "note"] + PARTS, f"CSV header {records[0]}")
    check(len(records) == len(rows) + 1, f"{len(records) - 1} rows for {len(rows)}")
    for original, record in zip(rows, records[1:]):
        check(record[:3] == original, f"columns changed: {original} -> {record[:3]}")
        check(len(record) == 9, f"row {record} has {len(record)} fields")
    check_known([records[1][1]] + records[1][3:])
    check_known([records[2][1]] + records[2][3:])
    check(records[3][3:] == [""] * 6, f"empty address {records[3][3:]}")
    check(summary(err)[0] == len(rows), "summary counts the header")

    # The column is found by name wherever it is; --column defaults to "address".
    path = make_csv(tmp, [["123 Main St. N", "x,y"]], header=("address", "other"))
    out, _ = run_ok(["--csv", "--input", path])
    records = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
    check(records[1][:2] == ["123 Main St. N", "x,y"], f"row {records[1]}")
    check_known([records[1][0]] + records[1][2:])

    # Other formats carry the same columns; TSV escapes the embedded newline.
    path = make_csv(tmp, rows)
    out, _ = run_ok(["--csv", "--format", "tsv", "--input", path])
    lines = out.decode("utf-8").split("\n")
    check(lines[0] == "id\taddress\tnote\t" + "\t".join(PARTS), f"TSV header {lines[0]!r}")
    check(lines[2].startswith("2\t5-123 rue Saint-Denis Ouest\tline one\\nline two\t123\t"),
          f"TSV row {lines[2]!r}")
    out, _ = run_ok(["--csv", "--format", "jsonl", "--input", path])
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    check(objects[1]["note"] == "line one\nline two" and objects[1]["unit"] == "5",
          f"JSON row {objects[1]}")

    # A BOM before the header is not part of the first column's name; the
    # output starts with one too (for Excel), unless --no-bom.
    with open(path, "rb") as f:
        data = f.read()
    out, _ = run_ok(["--csv", "--column", "id"], b"\xef\xbb\xbf" + data)
    check(out.startswith(b"\xef\xbb\xbfid,address,note,"), f"BOM header {out[:40]!r}")
    out, _ = run_ok(["--csv", "--column", "id", "--no-bom"], b"\xef\xbb\xbf" + data)
    check(out.startswith(b"id,address,note,"), f"--no-bom header {out[:40]!r}")
    out, _ = run_ok(["--csv", "--bom"], data)
    check(out.startswith(b"\xef\xbb\xbfid,"), f"--bom header {out[:40]!r}")

    # A row with the wrong number of fields keeps its place, with an error.
    ragged = b"id,address\n1,123 Main St. N\n2\n3,5-123 rue Saint-Denis Ouest,extra\n4,9 Elm St\n"
    out, _ = run_ok(["--csv"], ragged)
    records = list(csv.reader(io.StringIO(out.decode("utf-8"), newline="")))
    check([r[0] for r in records[1:]] == ["1", "2", "3", "4"], f"rows {records}")
    check("fields" in records[2][7] and "fields" in records[3][7], f"ragged {records}")
    check(len(records[2]) == 8 and records[2][1:7] == [""] * 6, f"short row not padded: {records[2]}")
    # The extra field is kept, after the error column.
    check(len(records[3]) == 9 and records[3][:2] == ["3", "5-123 rue Saint-Denis Ouest"]
          and records[3][8] == "extra", f"long row lost its extra field: {records[3]}")
    out, _ = run_ok(["--csv", "--format", "jsonl"], ragged)
    long_row = json.loads(out.decode("utf-8").splitlines()[2])
    check(list(long_row) == ["id", "address"] + PARTS + ["extra1"] and "fields" in long_row["error"]
          and long_row["extra1"] == "extra", f"long row in JSON: {long_row}")
    check(records[4][-1] == "" and records[4][2] == "9", f"row after ragged {records[4]}")

    # An unknown column is an argument error; malformed CSV an input error.
    code, out, err = run(["--csv", "--column", "street_address", "--input", path])
    check(code == 1 and out == b"", f"unknown column: exit {code}")
    check("street_address" in single_line(err), f"message {err!r}")
    code, out, err = run(["--csv"], b'address\n"123 Main St. N\n')
    # The summary of what was written comes first, then the fault.
    check(code == 2 and "malformed CSV" in err.splitlines()[-1], f"unterminated quote: {code} {err}")
    code, out, err = run(["--csv"], b'address\n12 "Main" St\n')
    check(code == 2 and "malformed CSV" in err, f"stray quote: {code} {err}")


def case_invalid_utf8(tmp):
    data = b"123 Main St. N\n12 rue de l'\xc9glise\n\xff\xfe\n5-123 rue Saint-Denis Ouest\n"
    out, err = run_ok([], data)
    rows = tsv_rows(out)
    check(len(rows) == 4, f"{len(rows)} rows")
    check_known(rows[0])
    check_known(rows[3])
    for row in rows[1:3]:
        check("UTF-8" in row[6] and row[1:6] == [""] * 5, f"invalid row {row}")
    # The bytes are passed through unchanged in TSV.
    check(b"12 rue de l'\xc9glise\t" in out, "invalid bytes not kept")
    check(summary(err) == (4, 2, 2), f"summary {summary(err)}")
    # JSON stays valid UTF-8.
    out, _ = run_ok(["--format", "jsonl"], data)
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    check(objects[1]["address"] == "12 rue de l'\ufffdglise", f"JSON {objects[1]}")


def case_long_line(tmp):
    long_line = "1 " + "a" * 39998
    data = ("123 Main St. N\n" + long_line + "\n5-123 rue Saint-Denis Ouest\n").encode()
    out, err = run_ok([], data)
    rows = tsv_rows(out)
    check(len(rows) == 3, f"{len(rows)} rows")
    check_known(rows[0])
    check_known(rows[2])
    check(rows[1][0] == long_line, "long address not kept whole")
    check(rows[1][1:6] == [""] * 5 and "32,767 characters" in rows[1][6], f"long row {rows[1][1:]}")
    check(summary(err) == (3, 2, 1), f"summary {summary(err)}")

    # Beyond the reader's own limit: the row is kept, cut, with an error.
    huge = "7 " + "b" * (2 * 1024 * 1024)
    out, _ = run_ok([], (huge + "\n123 Main St. N\n").encode())
    rows = tsv_rows(out)
    check(len(rows) == 2 and "longer than" in rows[0][6], f"huge row error {rows[0][6]!r}")
    check(huge.startswith(rows[0][0]) and len(rows[0][0]) == 1024 * 1024, "huge row not cut")
    check_known(rows[1])


def case_crlf(tmp):
    lines = sample_lines()[:500] + ["", "123 Main St. N"]
    lf, _ = run_ok([], ("\n".join(lines) + "\n").encode())
    crlf, _ = run_ok([], ("\r\n".join(lines) + "\r\n").encode())
    check(crlf == lf, "CRLF input gives other output than LF input")
    # No line end after the last line.
    last, _ = run_ok([], "\r\n".join(lines).encode())
    check(last == lf, "a last line without line end is lost or changed")
    rows = tsv_rows(lf)
    check(len(rows) == len(lines) and rows[-2][0] == "", "empty line not kept as a row")
    check_known(rows[-1])


def case_bom(tmp):
    body = "123 Main St. N\n5-123 rue Saint-Denis Ouest\n".encode()
    plain, _ = run_ok([], body)
    with_bom, _ = run_ok([], b"\xef\xbb\xbf" + body)
    check(with_bom == b"\xef\xbb\xbf" + plain, "a BOM at the start changes more than the output's BOM")
    without, _ = run_ok(["--no-bom"], b"\xef\xbb\xbf" + body)
    check(without == plain, "--no-bom output differs from a BOM-less input's")
    # A file of nothing but a BOM is empty; a BOM and a line end is one empty line.
    out, err = run_ok(["--no-bom"], b"\xef\xbb\xbf")
    check(tsv_rows(out) == [] and summary(err) == (0, 0, 0), f"BOM alone gave {out!r}")
    out, _ = run_ok(["--no-bom"], b"\xef\xbb\xbf\r\n")
    check(len(tsv_rows(out)) == 1 and tsv_rows(out)[0][0] == "", f"BOM + CRLF gave {out!r}")
    for row in tsv_rows(plain):
        check_known(row)


def case_threads(tmp):
    # Several times the sample, so that many chunks are in flight at once.
    lines = sample_lines() * 4
    path = os.path.join(tmp, "many.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    one, _ = run_ok(["--threads", "1", "--input", path])
    two, _ = run_ok(["--threads", "2", "--input", path])
    many, _ = run_ok(["-j", "7", "--input", path])
    check(one == two, "--threads 1 and --threads 2 differ")
    check(one == many, "--threads 1 and --threads 7 differ")
    check([r[0] for r in tsv_rows(two)] == lines, "rows out of order")
    jsonl1, _ = run_ok(["--threads", "1", "--format", "jsonl", "--input", path])
    jsonl2, _ = run_ok(["--threads", "2", "--format", "jsonl", "--input", path])
    check(jsonl1 == jsonl2, "jsonl differs between thread counts")


def case_mixed_rows(tmp):
    """Good, invalid and too long lines mixed over many chunks: every row gives
    what its address gives alone, whatever rows shared its chunk before."""
    samples = sample_lines()[:300]
    out, _ = run_ok(samples)
    alone = {row[0]: row for row in tsv_rows(out)}
    check(len(alone) > 250, f"only {len(alone)} distinct samples")
    lines = []
    for i in range(12000):
        if i % 7 == 3 and i % 5:
            lines.append(b"\xff bad " + str(i).encode())
        elif i % 7 == 5 and i % 9 == 0:
            lines.append(("1 " + "x" * 40000).encode())
        else:
            lines.append(samples[(i * 31) % len(samples)].encode())
    data = b"\n".join(lines) + b"\n"
    for threads in ("1", "3"):
        out, _ = run_ok(["--threads", threads], data)
        rows = tsv_rows(out)
        check(len(rows) == len(lines), f"{len(rows)} rows for {len(lines)} lines")
        for line, row in zip(lines, rows):
            if line.startswith(b"\xff"):
                check("UTF-8" in row[6] and row[1:6] == [""] * 5, f"invalid line gave {row}")
            elif len(line) > 30000:
                check("32,767" in row[6] and row[1:6] == [""] * 5, f"long line gave {row[1:]}")
            else:
                check(row == alone[row[0]], f"{row} differs from the row parsed alone")


def case_missing_database(tmp):
    missing = os.path.join(tmp, "nowhere", "qordatavb.DAT")
    target = os.path.join(tmp, "out.tsv")
    code, out, err = run(["--database", missing, "--output", target, "--input", ARGS.samples])
    check(code == 2, f"exit {code}")
    line = single_line(err)
    check(missing in line, f"message does not name the file: {line!r}")
    check(out == b"", "rows written")
    check(not os.path.exists(target), "output file created")
    code, out, err = run(["--database", missing], b"123 Main St. N\n")
    check(code == 2 and out == b"" and missing in single_line(err), f"stdout case {code} {out}")

    # A file that is not a database.
    bogus = os.path.join(tmp, "bogus.DAT")
    with open(bogus, "wb") as f:
        f.write(b"this is not a database\n" * 100)
    code, out, err = run(["--database", bogus, "123 Main St. N"])
    check(code == 2 and out == b"" and bogus in single_line(err), f"bogus db: {code} {err!r}")


def case_database_lost(tmp):
    # The database goes away in the middle of a run: the rows read after that
    # keep their places with the error, and the run ends with status 2.
    database = os.path.join(tmp, "copy.DAT")
    shutil.copy2(ARGS.database, database)
    first = ("123 Main St. N\n" * 12000).encode()  # several input blocks
    second = ("5-123 rue Saint-Denis Ouest\n" * 3000).encode()
    p = subprocess.Popen([ARGS.program] + SPECIFIED + ["--database", database, "--threads", "2"],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    chunks = []
    started = threading.Event()

    def drain():  # keeps standard output flowing so the program never blocks
        while True:
            data = p.stdout.read1(65536)
            if not data:
                break
            chunks.append(data)
            started.set()
        started.set()

    reader = threading.Thread(target=drain)
    reader.start()
    p.stdin.write(first)
    p.stdin.flush()
    # Output shows the start-up check passed and parsing is under way.
    check(started.wait(timeout=300), "no output")
    os.remove(database)
    p.stdin.write(second)
    p.stdin.close()
    err = p.stderr.read().decode()
    code = p.wait(timeout=300)
    reader.join()
    rows = tsv_rows(b"".join(chunks))
    check(code == 2, f"exit {code}, stderr {err!r}")
    check(len(rows) == 15000, f"{len(rows)} rows for 15000 lines")
    check(rows[0][1:] == KNOWN["123 Main St. N"] + [""], f"first row {rows[0]}")
    for row in rows[12000:]:
        check(row[0] == "5-123 rue Saint-Denis Ouest", f"row out of place: {row[0]!r}")
        check(row[1:6] == [""] * 5 and database in row[6], f"row after removal {row}")
    check(summary(err)[0] == 15000, f"summary {err!r}")
    check(database in err.strip().split("\n")[-1], f"last message {err!r}")


def case_default_database(tmp):
    # The installed layout: <prefix>/bin/zarn-parse beside <prefix>/share/zarn/.
    prefix = os.path.join(tmp, "prefix")
    os.makedirs(os.path.join(prefix, "bin"))
    program = os.path.join(prefix, "bin", "zarn-parse")
    shutil.copy2(ARGS.program, program)
    code, out, err = run(["--no-progress", "123 Main St. N"], program=program)
    if code == 2:
        # No database beside the copy (and none installed system-wide): the
        # error names where it was looked for.
        expected = os.path.join(prefix, "share", "zarn", "qordatavb.DAT")
        check(expected in single_line(err) and out == b"", f"message {err!r}")
    else:
        check(code == 0, f"exit {code} {err}")
    os.makedirs(os.path.join(prefix, "share", "zarn"))
    shutil.copy2(ARGS.database, os.path.join(prefix, "share", "zarn", "qordatavb.DAT"))
    code, out, err = run(list(KNOWN), program=program)
    check(code == 0, f"installed layout: exit {code} {err}")
    for row in tsv_rows(out):
        check_known(row)


def case_unwritable_output(tmp):
    target = os.path.join(tmp, "no-such-dir", "out.tsv")
    code, out, err = run(["--output", target, "123 Main St. N"])
    check(code == 2, f"exit {code}")
    line = single_line(err)
    check(target in line, f"message does not name the file: {line!r}")
    check(out == b"", "rows written to stdout")
    if os.path.exists("/dev/full"):
        # Opens, but every write fails: the failure is still reported.
        code, _, err = run(["--output", "/dev/full", "--input", ARGS.samples, "-q"])
        check(code == 2 and "/dev/full" in single_line(err), f"/dev/full: exit {code} {err!r}")


def case_canada_profile(tmp):
    """--profile canada gives the profile's parts, and --flags adds its
    diagnostics in TSV and JSONL; the summary names the profile."""
    addresses = ["12 ST MARYS RD", "1630-1670, rue Sauvé Est", "12 Main St Apt 5 rear door",
                 "PO Box 4001 Stn A, Toronto ON M5W 1A1"]
    want = {
        "12 ST MARYS RD": ["12", "ST MARYS", "Road", "", ""] + [""] * 7 + ["", "", ""],
        "1630-1670, rue Sauvé Est": ["1630-1670", "Sauvé", "rue", "E", ""] + [""] * 7
                                    + ["range_assumed", "", ""],
        "12 Main St Apt 5 rear door": ["12", "Main", "Street", "", "5"] + [""] * 7
                                      + ["unknown_words", "rear door", ""],
        "PO Box 4001 Stn A, Toronto ON M5W 1A1": ["", "", "", "", "", "4001", "", "", "STN A",
                                                  "Toronto", "ON", "M5W 1A1", "", "", ""],
    }
    out, err = run_ok(["--database", ARGS.database, "--profile", "canada", "--flags",
                       "--format", "tsv"] + addresses)
    lines = out.decode("utf-8").split("\n")
    # The canada profile adds the seven parts of a whole address after the five.
    check(lines[0] == "address\tstreet_number\tstreet\tstreet_type\tdirection\tunit\tpo_box\t"
          "rural_route\tgeneral_delivery\tstation\tmunicipality\tprovince\tpostal_code\t"
          "flags\tunplaced_words\terror", f"header {lines[0]!r}")
    for line in lines[1:-1]:
        fields = line.split("\t")
        check(fields[1:] == want[fields[0]], f"{fields[0]!r}: {fields[1:]}")
    check("profile canada" in err, f"summary does not name the profile: {err!r}")
    out, _ = run_ok(["--database", ARGS.database, "--profile", "canada", "--flags",
                     "--format", "jsonl", addresses[2]])
    record = json.loads(out.decode("utf-8"))
    check(record["flags"] == "unknown_words" and record["unplaced_words"] == "rear door",
          f"JSONL diagnostics {record}")
    # The specified rules keep their own answer.
    out, _ = run_ok(["--database", ARGS.database, "12 ST MARYS RD"])
    check(tsv_rows(out)[0][2] == "Street MARYS", "the specified profile's answer moved")


def case_default_profile(tmp):
    """Without --profile the program reads whole addresses (the canada rules)
    in every format, from arguments, standard input and CSV files."""
    addresses = list(KNOWN_CANADA)
    out, err = run_ok(addresses, profile=[])
    lines = out.decode("utf-8").split("\n")
    check(lines[0] == CANADA_HEADER, f"TSV header {lines[0]!r}")
    for line in lines[1:-1]:
        fields = line.split("\t")
        check(fields[1:] == KNOWN_CANADA[fields[0]] + [""], f"{fields[0]!r}: {fields[1:]}")
    check(err.rstrip().endswith("profile canada"), f"summary {err!r}")
    stdin_out, _ = run_ok([], ("\n".join(addresses) + "\n").encode("utf-8"), profile=[])
    check(stdin_out == out, "standard input and arguments differ")

    out, _ = run_ok(["--format", "jsonl"] + addresses, profile=[])
    for line in out.decode("utf-8").splitlines():
        obj = json.loads(line)
        check(list(obj) == CANADA_HEADER.split("\t"), f"JSON keys {list(obj)}")
        check([obj[k] for k in PARTS[:-1] + WHOLE] == KNOWN_CANADA[obj["address"]], f"JSON {obj}")

    # A CSV file keeps its columns and gains the twelve.
    data = ("id,address\n" + "".join(f'{i},"{a}"\n' for i, a in enumerate(addresses))).encode()
    out, _ = run_ok(["--csv"], data, profile=[])
    records = csv_records(out)
    check(records[0] == ["id"] + CANADA_HEADER.split("\t"), f"CSV header {records[0]}")
    for record in records[1:]:
        check(record[2:-1] == KNOWN_CANADA[record[1]], f"CSV row {record}")

    # The standard form adds the delivery and last lines.
    out, _ = run_ok(["--standard", "--format", "jsonl", addresses[2], addresses[1]], profile=[])
    box, civic = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    check(box["standard_delivery_line"] == "PO BOX 4001 STN A"
          and box["standard_last_line"] == "TORONTO ON  M5W 1A1", f"PO box standard form {box}")
    check(civic["standard_line"] == "5-123 RUE SAINT-DENIS O"
          and civic["standard_last_line"] == "MONTRÉAL QC  H2X 3K8", f"civic standard form {civic}")


def case_usage(tmp):
    for args in (["--bogus"], ["--threads", "0"], ["--threads", "x"], ["--format", "xml"],
                 ["--column", "address"], ["--input", ARGS.samples, "123 Main St. N"],
                 ["--csv", "123 Main St. N"], ["--database"]):
        code, out, err = run(args, b"123 Main St. N\n")
        check(code == 1, f"{args}: exit {code}")
        check(out == b"", f"{args}: output written")
        check(single_line(err).startswith("zarn-parse: "), f"{args}: message {err!r}")
    out, _ = run_ok(["--help"])
    text = out.decode()
    for word in ("--input", "--output", "--csv", "--column", "--format", "--threads",
                 "--database", "--progress", "Examples:", "zarn-parse --csv --column"):
        check(word in text, f"--help does not mention {word}")
    out, _ = run_ok(["--version"])
    check(out.decode().strip() == "zarn-parse " + ARGS.version, f"--version: {out!r}")


def case_progress(tmp):
    _, err = run_ok(["--progress", "--input", ARGS.samples, "--output", os.path.join(tmp, "o")])
    check(re.search(r"\d+%.*addresses/s.*left", err) is not None, f"no progress bar: {err!r}")
    check(summary(err)[0] == len(sample_lines()), "summary after progress")
    _, err = run_ok(["--no-progress", "--input", ARGS.samples, "--output", os.path.join(tmp, "o")])
    check("%" not in err and "left" not in err, f"progress shown: {err!r}")
    summary(err)
    # Standard error is not a terminal here: no bar by default.
    _, err = run_ok(["--input", ARGS.samples, "--output", os.path.join(tmp, "o")])
    check("left" not in err, f"progress shown by default: {err!r}")
    _, err = run_ok(["-q", "--input", ARGS.samples, "--output", os.path.join(tmp, "o")])
    check(err == "", f"--quiet printed {err!r}")


STANDARD = {
    "123 Main St. N": ["123 MAIN ST N", "ST", "N"],
    "5-123 rue Saint-Denis Ouest": ["5-123 RUE SAINT DENIS O", "RUE", "O"],
}


def case_standard(tmp):
    # TSV: the three columns just before the error column.
    out, _ = run_ok(["--standard", "--format", "tsv"] + list(STANDARD))
    lines = out.decode("utf-8").split("\n")
    header = lines[0].split("\t")
    check(header == HEADER.split("\t")[:-1] + ["standard_line", "standard_type",
                                              "standard_direction", "error"], f"header {header}")
    for line in lines[1:-1]:
        f = line.split("\t")
        check(f[1:6] == KNOWN[f[0]], f"parts moved with --standard: {f}")
        check(f[6:9] == STANDARD[f[0]] and f[9] == "", f"{f[0]!r}: standard {f[6:]}")

    # JSON lines and CSV, every profile, beside --flags: flags first, then
    # the standard form, and the error last.
    for profile in ("specified", "canada"):
        out, _ = run_ok(["--standard", "--flags", "--profile", profile, "--format", "jsonl",
                         "5-123 rue Saint-Denis Ouest"])
        row = json.loads(out.decode("utf-8"))
        keys = list(row)
        # The canada profile adds the whole address's two standard lines.
        whole = ["standard_delivery_line", "standard_last_line"] if profile == "canada" else []
        check(keys[-5 - len(whole):] == ["unplaced_words", "standard_line", "standard_type",
                                         "standard_direction"] + whole + ["error"],
              f"{profile}: keys {keys}")
        check(row["standard_type"] == "RUE" and row["standard_direction"] == "O",
              f"{profile}: {row}")
        check(row["error"] is None, f"{profile}: {row}")
    src = make_csv(tmp, [["1", "123 Main St. N", "x"]])
    out, _ = run_ok(["--csv", "--standard", "--input", src])
    rows = list(csv.reader(io.StringIO(out.decode("utf-8"))))
    check(rows[0][-4:] == ["standard_line", "standard_type", "standard_direction", "error"],
          f"CSV header {rows[0]}")
    check(rows[1][-4:] == ["123 MAIN ST N", "ST", "N", ""], f"CSV row {rows[1]}")

    # The language given instead of detected.
    out, _ = run_ok(["--standard", "--standard-language", "fr", "--format", "tsv",
                     "4500 Saint-Laurent Blvd W"])
    f = out.decode("utf-8").split("\n")[1].split("\t")
    check(f[6:9] == ["4500 BOUL SAINT LAURENT O", "BOUL", "O"], f"French asked: {f}")
    code, _, err = run(["--standard-language", "fr", "1 Main St"])
    check(code == 1 and "--standard" in err, f"--standard-language alone: {code} {err!r}")
    code, _, err = run(["--standard", "--standard-language", "de", "1 Main St"])
    check(code == 1, f"unknown language accepted: {code}")

    # The whole sample: every row gets a standard line, in upper case.
    out, _ = run_ok(["--standard", "--format", "tsv", "--input", ARGS.samples])
    lines = out.decode("utf-8").split("\n")[1:-1]
    check(len(lines) == len(sample_lines()), "rows lost")
    for line in lines:
        f = line.split("\t")
        check(f[9] == "" and f[6] != "" and f[6] == f[6].upper(), f"sample row {f}")

    # A database from before the symbols: parsing works, --standard is refused
    # before any row is written, naming the missing table.
    older = os.path.join(tmp, "older.DAT")
    shutil.copyfile(ARGS.database, older)
    import sqlite3
    db = sqlite3.connect(older)
    db.execute("DROP TABLE StreetTypeSymbol")
    db.commit()
    db.close()
    out, _ = run_ok(["--database", older, "--format", "tsv", "123 Main St. N"])
    check(tsv_rows(out)[0][1:6] == KNOWN["123 Main St. N"], "older database does not parse")
    target = os.path.join(tmp, "out.tsv")
    code, out, err = run(["--database", older, "--standard", "--output", target, "1 Main St"])
    line = single_line(err)
    check(code == 2 and "StreetTypeSymbol" in line, f"older database: {code} {line!r}")
    check(not os.path.exists(target), "output file created")
def case_profiles(tmp):
    """--profile chooses the rules, --flags adds two columns before the error,
    and the canada profile is the default."""
    addresses = ["123 Main St. N", "Foo bar", "\xff"]
    stdin = b"123 Main St. N\nFoo bar\n\xff\n"
    default, err = run_ok(["--format", "tsv"], stdin, profile=[])
    check(err.rstrip().endswith("profile canada"), f"summary does not name the profile: {err!r}")
    named, _ = run_ok(["--format", "tsv", "--profile", "canada"], stdin, profile=[])
    check(named == default, "--profile canada differs from the default")
    specified, err = run_ok(["--format", "tsv", "--profile", "SPECIFIED"], stdin, profile=[])
    check(err.rstrip().endswith("profile specified"), f"summary does not name the profile: {err!r}")
    check(specified.split(b"\n")[0].decode() == HEADER and specified != default,
          f"--profile specified: {specified[:200]!r}")
    out, err = run_ok(["--format", "tsv", "--profile", "Canada", "--flags"], stdin)
    check(err.rstrip().endswith("profile canada"), f"summary does not name the profile: {err!r}")
    lines = out.decode("utf-8", "surrogateescape").split("\n")
    whole = "\tpo_box\trural_route\tgeneral_delivery\tstation\tmunicipality\tprovince\tpostal_code"
    check(lines[0] == HEADER.replace("\terror", whole + "\tflags\tunplaced_words\terror"),
          f"header with --flags is {lines[0]!r}")
    rows = [line.split("\t") for line in lines[1:-1]]
    check(len(rows) == len(addresses), f"{len(rows)} rows for {len(addresses)} lines")
    check(all(len(r) == 16 for r in rows), f"rows with --flags: {rows}")
    flags = rows[1][13].split(",")
    check("no_street_type" in flags and "no_street_number" in flags, f"flags of 'Foo bar': {flags}")
    check(rows[2][15] != "" and rows[2][13] == "", f"a failed row keeps its error, no flags: {rows[2]}")
    out, _ = run_ok(["--format", "jsonl", "--profile", "canada", "--flags"], stdin)
    objs = [json.loads(line) for line in out.decode().splitlines()]
    check(list(objs[0])[-3:] == ["flags", "unplaced_words", "error"], f"JSON keys {list(objs[0])}")
    check(objs[0]["error"] is None and isinstance(objs[2]["error"], str), f"JSON errors {objs}")
    code, _, err = run(["--profile", "nonsense", "1 Main St"])
    check(code == 1 and "--profile" in err, f"unknown profile: exit {code}, {err!r}")


def csv_records(out, delimiter=","):
    text = out.decode("utf-8")
    if text.startswith("\ufeff"):
        text = text[1:]
    return list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))


def case_spreadsheet_csv(tmp):
    # As Excel saves a CSV in a French locale: semicolons, CRLF, Windows-1252,
    # a quoted field holding the separator, a row with one field too many.
    text = ("id;adresse;ville\r\n1;5-123 rue Saint-Denis Ouest;Montréal\r\n"
            "2;\"12 rue de l'Église; app 3\";Québec\r\n3;123 Main St. N;Hull;note\r\n")
    path = os.path.join(tmp, "excel.csv")
    with open(path, "wb") as f:
        f.write(text.encode("cp1252"))
    out, err = run_ok(["--csv", "--column", "adresse", "--encoding", "cp1252", "-i", path])
    check(not out.startswith(b"\xef\xbb\xbf"), "a BOM written for an input without one")
    records = csv_records(out, ";")
    check(records[0] == ["id", "adresse", "ville"] + PARTS, f"header {records[0]}")
    check(records[1][2] == "Montréal" and records[1][3:8] == KNOWN["5-123 rue Saint-Denis Ouest"],
          f"row 1 {records[1]}")
    check(records[2][1] == "12 rue de l'Église; app 3", f"quoted field {records[2]}")
    check(records[3][8].startswith("row has 4 fields") and records[3][9] == "note",
          f"extra field {records[3]}")
    check(summary(err) == (3, 2, 1), f"summary {summary(err)}")

    # Read as UTF-8, the accented rows fail, and the hint names the option.
    code, out, err = run(["--csv", "--column", "adresse", "-i", path])
    check(code == 0 and "--encoding cp1252" in err, f"no hint: {code} {err!r}")
    # Latin-1 reads the same letters; an explicit delimiter wins over detection.
    out, _ = run_ok(["--csv", "--column", "adresse", "--encoding", "latin-1", "-i", path])
    check(csv_records(out, ";")[1][2] == "Montréal", "latin-1")
    code, _, err = run(["--csv", "--column", "adresse", "--delimiter", ",", "-i", path])
    check(code == 1 and "adresse" in err, f"--delimiter , must not find the column: {code} {err!r}")
    tabbed = b"\xef\xbb\xbfid\taddress\r\n1\t123 Main St. N\r\n"
    out, _ = run_ok(["--csv"], tabbed)
    check(out.startswith(b"\xef\xbb\xbf") and csv_records(out, "\t")[1][2:7] == KNOWN["123 Main St. N"],
          f"tab-separated with BOM {out!r}")
    for bad in (["--delimiter", "ab"], ["--encoding", "ebcdic"]):
        code, _, err = run(["--csv"] + bad, b"address\n1 Main St\n")
        check(code == 1 and bad[0] in err, f"{bad}: exit {code} {err!r}")


def case_malformed_csv(tmp):
    # Every row before the fault is written, and the message gives its line.
    good = "".join(f"{i},{i} Main St\n" for i in range(1, 2001))
    data = ("id,address\n" + good + '2001,12 "Main" St\n2002,9 Elm St\n').encode()
    target = os.path.join(tmp, "out.csv")
    code, out, err = run(["--csv", "-o", target], data)
    check(code == 2, f"exit {code}")
    check("line 2002" in err and "quote" in err, f"message {err!r}")
    check(not os.path.exists(target), "an incomplete run wrote the output file")
    with open(target + ".partial", "rb") as f:
        records = csv_records(f.read())
    check(len(records) == 2001 and records[-1][0] == "2000", f"{len(records) - 1} rows kept")
    check(target + ".partial" in err, "the partial output is not named")
    code, _, err = run(["--csv"], b'id,address\n1,"123 Main St. N\n2,x\n')
    check(code == 2 and "never closed" in err, f"unterminated quote: {err!r}")


def wait_for(predicate, what, seconds=60):
    import time
    end = time.monotonic() + seconds
    while not predicate():
        check(time.monotonic() < end, f"timed out waiting for {what}")
        time.sleep(0.02)


def case_interrupted(tmp):
    import signal
    lines = sample_lines()
    previous = b"the previous output\n"
    target = os.path.join(tmp, "out.tsv")
    for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
        with open(target, "wb") as f:
            f.write(previous)
        p = subprocess.Popen([ARGS.program] + SPECIFIED + ["-j", "2", "-o", target], stdin=subprocess.PIPE,
                             stderr=subprocess.PIPE)
        # A few hundred thousand rows, the input kept open: the signal comes
        # while the program waits for more.
        for _ in range(100):
            p.stdin.write(("\n".join(lines) + "\n").encode())
        p.stdin.flush()
        temp = lambda: [n for n in os.listdir(tmp) if n.startswith("out.tsv.zarn-")]
        wait_for(lambda: temp() and os.path.getsize(os.path.join(tmp, temp()[0])) > 0, "output")
        p.send_signal(sig)
        _, err = p.communicate(timeout=120)
        err = err.decode()
        check(p.returncode == status, f"{sig}: exit {p.returncode}: {err}")
        m = re.search(r"interrupted after (\d+) rows", err)
        check(m is not None, f"no interruption in the summary: {err!r}")
        with open(target, "rb") as f:
            check(f.read() == previous, "the previous output file was changed")
        with open(target + ".partial", "rb") as f:
            partial = f.read().decode().split("\n")
        check(len(partial) - 2 == int(m.group(1)), f"{len(partial) - 2} rows kept, summary {m.group(1)}")
        check(partial[-1] == "" and all(len(r.split("\t")) == 7 for r in partial[1:-1]),
              "the partial output has a cut row")
        check(not temp(), "a temporary file was left behind")
        os.remove(target + ".partial")


def case_easy_mistakes(tmp):
    path = os.path.join(tmp, "ca.txt")
    with open(path, "w") as f:
        f.write("123 Main St. N\n")
    code, _, err = run([path])
    check(code == 0 and f"-i {path}" in err, f"file name as an address: {err!r}")
    p = subprocess.run([ARGS.program] + SPECIFIED, stdin=subprocess.DEVNULL, capture_output=True,
                       preexec_fn=lambda: os.close(0), timeout=60)
    check(p.returncode == 1 and b"standard input is closed" in p.stderr, f"closed stdin: {p}")
    code, _, err = run([], b"")
    check(code == 0 and "held no addresses" in err, f"empty stdin: {err!r}")
    # Rows and bar on the same terminal would mix: no bar unless asked for.
    import pty
    master, slave = pty.openpty()
    p = subprocess.Popen([ARGS.program] + SPECIFIED + ["-i", ARGS.samples, "-f", "tsv"], stdout=slave,
                         stderr=slave)
    os.close(slave)
    chunks = []
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    p.wait(timeout=60)
    os.close(master)
    screen = b"".join(chunks)
    check(b"left" not in screen and b"zarn-parse: " in screen, f"bar drawn among the rows: {screen[-300:]!r}")


def case_readme(tmp):
    # The README's zarn-parse examples print what the program prints: each
    # "$ build/release/bin/zarn-parse ..." block is run (as on a terminal:
    # the table format) and its output compared, the summary's time aside.
    import shlex
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(ARGS.samples))))
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    blocks = re.findall(r"```sh\n\$ build/release/bin/zarn-parse (.*)\n((?:(?!```).*\n)*)```", readme)
    check(blocks, "no zarn-parse example in the README")
    timing = re.compile(r"\d+\.\d\d s \(\d+ addresses/s\)")
    for args, expected in blocks:
        code, out, err = run(["--format", "table", "--database", ARGS.database] + shlex.split(args),
                             profile=[])
        check(code == 0, f"README example {args}: exit {code} {err}")
        got = out.decode("utf-8") + err
        check(timing.sub("T", got) == timing.sub("T", expected),
              f"README example {args} prints:\n{got}\nnot:\n{expected}")


def case_column_names(tmp):
    # Output columns never repeat an input column's name: those the input
    # has get a prefix, and nothing of the input is lost.
    data = b"address,street,unit,error\n5-123 rue Saint-Denis Ouest,old street,old unit,none\n"
    out, _ = run_ok(["--csv"], data)
    records = csv_records(out)
    check(len(set(records[0])) == len(records[0]), f"repeated header {records[0]}")
    check(records[0] == ["address", "street", "unit", "error", "street_number", "parsed_street",
                         "street_type", "direction", "parsed_unit", "parsed_error"], f"header {records[0]}")
    check(records[1][1:4] == ["old street", "old unit", "none"], f"input columns changed {records[1]}")
    check(records[1][5] == "Saint Denis" and records[1][8] == "5", f"parts {records[1]}")
    out, _ = run_ok(["--csv", "--format", "jsonl"], data)
    obj = json.loads(out)
    check(obj["street"] == "old street" and obj["parsed_street"] == "Saint Denis"
          and obj["parsed_error"] is None, f"JSON {obj}")
    # --prefix before every output column; --fields chooses the parts.
    out, _ = run_ok(["--csv", "--prefix", "zp_", "--fields", "unit,street"], data)
    records = csv_records(out)
    check(records[0][4:] == ["zp_street", "zp_unit", "zp_error"], f"--prefix/--fields header {records[0]}")
    check(records[1][4:6] == ["Saint Denis", "5"], f"--fields row {records[1]}")
    code, _, err = run(["--fields", "street,floor", "1 Main St"])
    check(code == 1 and "floor" in err and "street_number" in err, f"unknown part: {code} {err!r}")


CASES = {name[len("case_"):]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program")
    parser.add_argument("--samples")
    parser.add_argument("--database")
    parser.add_argument("--version")
    parser.add_argument("case", choices=sorted(CASES) + ["list"])
    ARGS = parser.parse_args()
    if ARGS.case == "list":
        print(";".join(sorted(CASES)), end="")
        return 0
    for name in ("program", "samples", "database", "version"):
        if getattr(ARGS, name) is None:
            parser.error(f"--{name} is required")
    with tempfile.TemporaryDirectory(prefix="zarn-cli-") as tmp:
        try:
            CASES[ARGS.case](tmp)
        except Failure as e:
            print(f"FAILED {ARGS.case}: {e}", file=sys.stderr)
            return 1
    print(f"passed {ARGS.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Round trip of the standard form: every address of the samples is parsed,
written in Canada Post's standard form, and that form parsed again; both
parses must give the same parts.

  round_trip.py --program ZARN_PARSE --database DB --samples FILE [FILE...]
                [--profile canada] [--known FILE] [--show N]

The standard form is the street line, the delivery line (PO box, rural
route, general delivery, station) and the last line (municipality, province,
postal code), those the address has, joined on one line with ", " as a file
would hold them. Every field the profile fills is compared.

The parts are compared as the standard form writes them: letter case and
the punctuation it leaves out do not count (MAIN is Main, "St. Mary's" is
ST MARYS, unit F_2 is F2), nor does the ordinal suffix it gives a numbered
street (90 is 90TH). Prints how many rows
round-trip and each row that does not, grouped by the part that moved.
"""
import argparse
import collections
import re
import subprocess
import sys
import unicodedata

PARTS = ["street_number", "street", "street_type", "direction", "unit"]
WHOLE = ["po_box", "rural_route", "general_delivery", "station", "municipality", "province",
         "postal_code"]
LINES = ["standard_line", "standard_delivery_line", "standard_last_line"]


def parse(program, database, profile, lines, standard):
    args = [program, "--database", database, "--profile", profile, "--format", "tsv",
            "--quiet", "--threads", "2"]
    if standard:
        args.append("--standard")
    r = subprocess.run(args, input=("\n".join(lines) + "\n").encode("utf-8"),
                       capture_output=True, timeout=600)
    if r.returncode != 0:
        sys.exit(f"zarn-parse failed ({r.returncode}): {r.stderr.decode(errors='replace')}")
    out = r.stdout.decode("utf-8").split("\n")
    header = out[0].split("\t")
    rows = [dict(zip(header, line.split("\t"))) for line in out[1:-1]]
    if len(rows) != len(lines):
        sys.exit(f"{len(lines)} lines in, {len(rows)} rows out")
    return rows


def same_form(text, part):
    text = unicodedata.normalize("NFC", text).upper()
    text = re.sub(r"['\u2019](?=S\b)", "", text)  # a possessive: LUNDY'S is LUNDYS
    text = re.sub(r"[^\w\-/ ]|_", " ", text)
    text = re.sub(r"-(?=\s|$)|(?<=\s)-", " ", text)  # a hyphen left hanging: "LAC- BEAUPORT"
    if part == "street":  # a numbered street is written as an ordinal: 90 AVE is 90TH AVE
        text = re.sub(r"\b(\d+)(ST|ND|RD|TH|E|ER|RE|EME|IEME|IÈME)\b", r"\1", text)
    if part == "unit":  # one word before the civic number: "F_2" is F2
        return "".join(text.split())
    return " ".join(text.split())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--database", required=True)
    ap.add_argument("--samples", required=True, nargs="+")
    ap.add_argument("--profile", default="canada")
    ap.add_argument("--known", help="addresses known not to round-trip, one a line (# comments)")
    ap.add_argument("--show", type=int, default=5, help="rows shown per cause")
    a = ap.parse_args()

    lines = []
    for path in a.samples:
        with open(path, encoding="utf-8") as f:
            lines += [line for line in f.read().split("\n") if line]
    first = parse(a.program, a.database, a.profile, lines, standard=True)
    failed_first = [i for i, r in enumerate(first) if r["error"]]
    standard = [", ".join(r[k] for k in LINES if r.get(k)) for r in first]
    again = parse(a.program, a.database, a.profile, standard, standard=False)
    fields = [p for p in PARTS + WHOLE if p in first[0]] if first else PARTS

    causes = collections.defaultdict(list)
    for i, (r1, r2) in enumerate(zip(first, again)):
        if r1["error"]:
            continue
        moved = tuple(p for p in fields if same_form(r1[p], p) != same_form(r2[p], p))
        if moved:
            causes[moved].append(i)
    known = set()
    if a.known:
        with open(a.known, encoding="utf-8") as f:
            known = {line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")}
    for moved in list(causes):
        causes[moved] = [i for i in causes[moved] if lines[i] not in known]
        if not causes[moved]:
            del causes[moved]
    moved_rows = {lines[i] for i, (r1, r2) in enumerate(zip(first, again)) if not r1["error"]
                  and any(same_form(r1[p], p) != same_form(r2[p], p) for p in fields)}
    stale = sorted(known - moved_rows)
    for line in stale:
        print(f"  known not to round-trip, but now does (or is not in the samples): {line!r}")
    bad = sum(len(v) for v in causes.values())
    total = len(lines) - len(failed_first)
    print(f"profile {a.profile}: {total - bad - len(known)} of {total} rows round-trip,"
          f" {len(known)} known not to ({len(failed_first)} rows did not parse)")
    for moved, rows in sorted(causes.items(), key=lambda kv: -len(kv[1])):
        print(f"  {len(rows)} rows: {', '.join(moved)} moved")
        for i in rows[:a.show]:
            r1, r2 = first[i], again[i]
            print(f"    {lines[i]!r} -> {standard[i]!r}")
            print(f"      {[r1[p] for p in fields]} -> {[r2[p] for p in fields]}")
    return 1 if bad or failed_first or stale else 0


if __name__ == "__main__":
    sys.exit(main())

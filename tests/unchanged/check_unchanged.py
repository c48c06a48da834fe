#!/usr/bin/env python3
"""Checks that the default rules still give, byte for byte, the answers they
gave when this check was recorded: every other rule profile and every speed-up
is built beside them and must not move one answer.

  check_unchanged.py --program ZARN_PARSE --database DB --source-dir DIR [--record]

The inputs are the project's own address files (answers kept in full, so a
difference shows the row) and the labelled external sets beside the
checkout (../shared/refdata/external, kept as SHA-256 digests), each also in
upper case and in lower case. --record writes the expected answers anew.
"""
import argparse
import hashlib
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FULL = os.path.join(HERE, "samples_answers.tsv")
DIGESTS = os.path.join(HERE, "digests.txt")


def read_lines(path, tsv):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    if tsv:  # labelled sets: the address column of a header + rows file
        header = lines[0].split("\t")
        col = header.index("address")
        lines = [line.split("\t")[col] for line in lines[1:]]
    return lines


def variants(lines):
    return {"as typed": lines, "upper": [l.upper() for l in lines],
            "lower": [l.lower() for l in lines]}


# The answers were recorded under zarn-parse's header of the time, which
# called the civic number "number"; it is now "street_number", as in every
# other interface. Only the values are compared: the header zarn-parse
# writes now is checked, then replaced by the recorded one.
HEADER = "address\tstreet_number\tstreet\tstreet_type\tdirection\tunit\terror"
RECORDED_HEADER = "address\tnumber\tstreet\tstreet_type\tdirection\tunit\terror"


def parse(program, database, lines):
    text = "\n".join(lines) + "\n"
    r = subprocess.run([program, "--database", database, "--format", "tsv", "--quiet",
                        "--profile", "specified", "--threads", "2"],
                       input=text.encode("utf-8"), capture_output=True)
    if r.returncode != 0:
        sys.exit(f"zarn-parse failed ({r.returncode}): {r.stderr.decode(errors='replace')}")
    header, newline, rows = r.stdout.decode("utf-8").partition("\n")
    if header != HEADER:
        sys.exit(f"zarn-parse wrote the header {header!r}, not {HEADER!r}")
    return RECORDED_HEADER + newline + rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--database", required=True)
    ap.add_argument("--source-dir", required=True)
    ap.add_argument("--record", action="store_true")
    a = ap.parse_args()

    own = [("data/samples/addresses.txt", False), ("bench/data/addresses.txt", False),
           ("tests/data/corpus.tsv", True)]
    external_dir = os.path.join(a.source_dir, "..", "shared", "refdata", "external")
    external = sorted(f for f in os.listdir(external_dir) if f.endswith(".tsv")) \
        if os.path.isdir(external_dir) else []

    full_out = []
    digests = {}
    for rel, tsv in own:
        for name, lines in variants(read_lines(os.path.join(a.source_dir, rel), tsv)).items():
            out = parse(a.program, a.database, lines)
            full_out.append(f"## {rel} ({name})\n{out}")
    for f in external:
        lines = read_lines(os.path.join(external_dir, f), True)
        for name, vlines in variants(lines).items():
            out = parse(a.program, a.database, vlines)
            digests[f"{f} ({name})"] = hashlib.sha256(out.encode("utf-8")).hexdigest()

    if a.record:
        with open(FULL, "w", encoding="utf-8") as fh:
            fh.write("".join(full_out))
        with open(DIGESTS, "w", encoding="utf-8") as fh:
            for k in sorted(digests):
                fh.write(f"{digests[k]}  {k}\n")
        print(f"recorded {FULL} and {len(digests)} digests")
        return

    failures = 0
    with open(FULL, encoding="utf-8") as fh:
        expected = fh.read()
    got = "".join(full_out)
    if got != expected:
        failures += 1
        for n, (e, g) in enumerate(zip(expected.splitlines(), got.splitlines()), 1):
            if e != g:
                print(f"samples_answers.tsv line {n} changed:\n  expected {e}\n  got      {g}")
                break
        else:
            print("samples_answers.tsv: the number of lines changed")
    recorded = {}
    with open(DIGESTS, encoding="utf-8") as fh:
        for line in fh:
            digest, name = line.rstrip("\n").split("  ", 1)
            recorded[name] = digest
    checked = 0
    for name, digest in digests.items():
        if name not in recorded:
            print(f"{name}: no recorded digest (new file? run with --record on the old build)")
            failures += 1
        elif recorded[name] != digest:
            print(f"{name}: the answers changed")
            failures += 1
        else:
            checked += 1
    if not external:
        print(f"note: no labelled sets at {external_dir}; only the project's own files checked")
    print(f"{len(own) * 3} own inputs and {checked} labelled inputs checked, {failures} changed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

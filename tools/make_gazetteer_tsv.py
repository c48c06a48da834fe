#!/usr/bin/env python3
"""Writes data/gazetteer.tsv from the two CC0 files of opencivicdata/ocd-division-ids
(ca_census_subdivisions.tsv, ca_census_place_names.tsv; see data/README.md):

  tools/make_gazetteer_tsv.py SUBDIVISIONS.tsv PLACE_NAMES.tsv > data/gazetteer.tsv

One row per name and province: census subdivisions (kind `csd`), their other
official name (`csd_alternate`, mostly French) and place names (`place`).
Statistical units that are no municipality (`Division No. 1, Subd. V`,
`Unorganized`) are left out, and a bracketed note after a name is dropped
(`Seal Cove (Fortune Bay)` -> `Seal Cove`).
"""
import csv, sys, unicodedata


def clean(name):
    name = name.split(" (")[0].strip()
    if not name or "Subd." in name or name.startswith("Division No.") or "Unorganized" in name:
        return ""
    return unicodedata.normalize("NFC", name)


def main():
    subdivisions, places = sys.argv[1:3]
    rows, seen = [], set()

    def add(name, province, kind):
        name = clean(name)
        key = (name.casefold(), province)
        if name and key not in seen and "\t" not in name:
            seen.add(key)
            rows.append((name, province, kind))

    with open(subdivisions, encoding="utf-8") as f:
        for r in csv.DictReader(f, delimiter="\t"):
            add(r["name"], r["province"], "csd")
            for alt in filter(None, (r.get("alternate_names") or "").split(";")):
                add(alt, r["province"], "csd_alternate")
    with open(places, encoding="utf-8") as f:
        for r in csv.DictReader(f, delimiter="\t"):
            add(r["name"], r["province"], "place")
    out = sys.stdout
    out.write("name\tprovince\tkind\tsource\n")
    for name, province, kind in rows:
        out.write(f"{name}\t{province}\t{kind}\tocd-division-ids\n")


if __name__ == "__main__":
    main()

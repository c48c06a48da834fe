"""Checks the zarn package installed under PREFIX: it imports from there and
finds the installed bundled database without being told.

    python3 check_python.py PREFIX PACKAGE_DIR
"""
import os
import sys

prefix, package_dir = sys.argv[1], sys.argv[2]
import zarn  # noqa: E402  (PYTHONPATH points at package_dir)

assert os.path.samefile(os.path.dirname(zarn.__file__), os.path.join(package_dir, "zarn")), zarn.__file__
parser = zarn.Parser()
assert os.path.samefile(parser.database, os.path.join(prefix, "share", "zarn", "qordatavb.DAT")), parser.database
got = parser.parse("123 Main St. N, Winnipeg MB R3C 1A1")
assert got[:5] == ("123", "Main", "Street", "N", "") and got[-3:] == ("Winnipeg", "MB", "R3C 1A1"), got
print("python: ok,", parser)

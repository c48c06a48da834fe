import json
import os
import subprocess

import pytest

PARTS = ("street_number", "street", "street_type", "direction", "unit")
# The fields of a whole address, which the canada profile fills after unit.
WHOLE_PARTS = ("po_box", "rural_route", "general_delivery", "station", "municipality",
               "province", "postal_code")
# Every field a profile's answers have, in order.
PROFILE_PARTS = {"specified": PARTS, "canada": PARTS + WHOLE_PARTS}
PROFILES = ("specified", "canada")
# The profile of a call that names none.
DEFAULT_PROFILE = "canada"


def _env(name):
    value = os.environ.get(name)
    assert value, f"{name} must be set (CTest sets it)"
    return value


@pytest.fixture(scope="session")
def extension():
    """Path of libzarn_sqlite.so without its suffix, as `.load` takes it."""
    path = _env("ZARN_SQLITE_EXTENSION")
    assert os.path.exists(path), path
    return os.path.splitext(path)[0]


@pytest.fixture(scope="session")
def database():
    return _env("ZARN_TEST_DATABASE")


@pytest.fixture(scope="session")
def sample():
    with open(_env("ZARN_TEST_SAMPLE"), encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f]


@pytest.fixture(scope="session")
def expected(sample):
    """zarn-parse's answers for every sample line, per profile: lists of
    (address, {part: value})."""
    answers = {}
    for profile in PROFILES:
        out = subprocess.run(
            [_env("ZARN_PARSE"), "--quiet", "--format", "jsonl", "--profile", profile,
             "--input", _env("ZARN_TEST_SAMPLE")],
            check=True, capture_output=True, text=True).stdout
        rows = [json.loads(line) for line in out.splitlines()]
        assert len(rows) == len(sample)
        assert all(r["error"] is None for r in rows), "the sample parses without errors"
        answers[profile] = [
            (r["address"], {p: r[p] for p in PROFILE_PARTS[profile]})
            for r in rows
        ]
    return answers


@pytest.fixture(scope="session")
def sqlite3_program():
    return _env("ZARN_SQLITE3")

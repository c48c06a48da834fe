import os

import pytest

import zarn

HERE = os.path.dirname(os.path.abspath(__file__))


@pytest.fixture(scope="session")
def database():
    path = os.environ.get("ZARN_TEST_DATABASE")
    assert path, "ZARN_TEST_DATABASE must name the bundled database of the build tree"
    assert os.path.exists(path), path
    return path


@pytest.fixture(scope="session")
def parser(database):
    # The documented rules, whose answers are fixed (the default is canada).
    return zarn.Parser(database, profile="specified")


@pytest.fixture(scope="session")
def sample():
    """Real street addresses, one a line, from inside the repository."""
    path = os.environ.get("ZARN_TEST_SAMPLE") or os.path.join(HERE, "data", "winnipeg_sample.txt")
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f]
    addresses = [a for a in lines if a and not a.startswith("#")]
    assert len(addresses) >= 100
    return addresses

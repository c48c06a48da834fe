import os
import pickle
import sys
import threading
import time

import pytest

import zarn

# Addresses with their known parts.
KNOWN = [
    ("123 Main St. N", zarn.Parts("123", "Main", "Street", "N", "")),
    ("5-123 rue Saint-Denis Ouest", zarn.Parts("123", "Saint Denis", "rue", "W", "5")),
    ("Apt 5 21st Ave", zarn.Parts("", "21", "Avenue", "", "5")),
    ("4500 boul Saint-Laurent Ouest", zarn.Parts("4500", "Saint Laurent", "Boulevard", "W", "")),
    ("", zarn.Parts("", "", "", "", "")),
]

SINGLE = [
    ("street_number", zarn.SegmentKind.STREET_NUMBER),
    ("street", zarn.SegmentKind.STREET),
    ("street_type", zarn.SegmentKind.STREET_TYPE),
    ("direction", zarn.SegmentKind.DIRECTION),
    ("unit", zarn.SegmentKind.UNIT),
]

INVALID_UTF8 = [b"\xff", b"123 Main St\xc3", b"\xc0\xaf Main St", b"12 rue \xed\xa0\x80"]


@pytest.mark.parametrize("address,want", KNOWN)
def test_known_addresses(parser, address, want):
    got = parser.parse(address)
    assert got == want
    assert isinstance(got, zarn.Parts)
    for field, kind in SINGLE:
        assert getattr(parser, field)(address) == getattr(want, field), field
        assert parser.address_segment(address, kind) == getattr(want, field), field
        assert parser.address_segment(address, int(kind)) == getattr(want, field), field
    # UTF-8 bytes give the same answers as str.
    assert parser.parse(address.encode()) == want


# The default (canada) profile's answers on whole addresses.
WHOLE = [
    ("5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8",
     dict(street_number="123", street="Saint-Denis", street_type="rue", direction="W", unit="5",
          municipality="Montréal", province="QC", postal_code="H2X 3K8")),
    ("PO Box 4001 Stn A, Toronto ON  M5W 1A1",
     dict(po_box="4001", station="STN A", municipality="Toronto", province="ON",
          postal_code="M5W 1A1")),
    ("RR 2, Site 5, Comp 10, Gibsons BC V0N 1V0",
     dict(rural_route="2", municipality="Gibsons", province="BC", postal_code="V0N 1V0")),
    ("GD STN MAIN, Whitehorse YT Y1A 1A1",
     dict(general_delivery="GD", station="STN MAIN", municipality="Whitehorse", province="YT",
          postal_code="Y1A 1A1")),
    ("123 main st winnipeg mb",
     dict(street_number="123", street="main", street_type="Street", municipality="winnipeg",
          province="MB")),
]


@pytest.mark.parametrize("address,want", WHOLE)
def test_default_profile_reads_whole_addresses(database, address, want):
    parser = zarn.Parser(database)
    got = parser.parse(address)
    assert got == zarn.Parts(**{f: want.get(f, "") for f in zarn.Parts._fields})
    assert parser.parse_many([address]) == [got]
    # The specified rules fill none of the whole address's fields.
    specified = zarn.Parser(database, profile="specified").parse(address)
    assert all(getattr(specified, f) == "" for f in zarn.Parts._fields[5:])


@pytest.mark.parametrize("kind", [-1, 7, 1000])
def test_kind_out_of_range_gives_empty(parser, kind):
    assert parser.address_segment("123 Main St", kind) == ""


def test_segment_kinds_match_the_library():
    assert [k.value for k in zarn.SegmentKind] == list(range(7))


@pytest.mark.parametrize("raw", INVALID_UTF8)
def test_invalid_utf8_raises_error_5(parser, raw):
    for call in (parser.parse, parser.street, lambda t: parser.address_segment(t, 2)):
        with pytest.raises(zarn.Error) as info:
            call(raw)
        assert info.value.number == zarn.ERROR_INVALID_ARGUMENT
        assert str(info.value)
    # The parser keeps working after a failure.
    assert parser.street("123 Main St") == "Main"


def test_lone_surrogate_is_invalid_text(parser):
    with pytest.raises(zarn.Error) as info:
        parser.parse("12 rue \ud800 Ouest")
    assert info.value.number == zarn.ERROR_INVALID_ARGUMENT


def test_too_long_raises_overflow(parser):
    with pytest.raises(zarn.Error) as info:
        parser.unit("a" * 40000)
    assert info.value.number == zarn.ERROR_OVERFLOW


@pytest.mark.parametrize("bad", [None, 12, 1.5, ["1 Main St"]])
def test_non_text_raises_type_error(parser, bad):
    with pytest.raises(TypeError):
        parser.parse(bad)


def test_missing_database(tmp_path):
    path = tmp_path / "nowhere" / "qordatavb.DAT"
    p = zarn.Parser(path)  # a PathLike is accepted; the file is not opened yet
    assert p.database == str(path)
    with pytest.raises(zarn.Error) as info:
        p.street("1 Main St")
    assert info.value.number == 14  # SQLITE_CANTOPEN
    assert "nowhere" in info.value.message
    with pytest.raises(zarn.Error) as info:
        p.parse_many(["1 Main St", "2 Main St"])
    assert info.value.number == 14 and info.value.index == 0
    assert p.parse_many(["1 Main St", "2 Main St"], errors="coerce") == [None, None]


def test_error_survives_pickling():
    e = zarn.Error(14, "unable to open database file: /x", 3)
    back = pickle.loads(pickle.dumps(e))
    assert type(back) is zarn.Error
    assert (back.number, back.message, back.index) == (14, "unable to open database file: /x", 3)
    assert str(back) == back.message


def test_parser_pickles_by_path(parser, database):
    back = pickle.loads(pickle.dumps(parser))
    assert back.database == database
    assert back.parse("123 Main St. N") == parser.parse("123 Main St. N")
    assert back.profile == "specified"
    assert repr(back) == f"zarn.Parser({database!r}, profile='specified')"


def test_default_database(monkeypatch, database, tmp_path):
    monkeypatch.delenv("ZARN_DATABASE", raising=False)
    # From the build tree the default is the bundled file beside the package.
    assert os.path.samefile(zarn.default_database(), database)
    assert os.path.samefile(zarn.Parser().database, database)
    assert zarn.Parser(profile="specified").parse("123 Main St. N") == KNOWN[0][1]
    # ZARN_DATABASE overrides it.
    other = str(tmp_path / "other.DAT")
    monkeypatch.setenv("ZARN_DATABASE", other)
    assert zarn.default_database() == other
    assert zarn.Parser().database == other
    # The library's own default is the same, for every interface.
    assert zarn.reference_database_path() == other


def test_parse_many_matches_parse(parser, sample):
    want = [parser.parse(a) for a in sample]
    # Enough addresses that several native threads get a share.
    many = sample * 4
    for threads in (None, 1, 2, 7):
        assert parser.parse_many(many, threads=threads) == want * 4, threads
    # Any iterable, in order.
    assert parser.parse_many(a for a in sample) == want
    assert parser.parse_many([]) == []


def test_parse_many_errors(parser, sample):
    addresses = (sample * 2)[:600]
    addresses[517] = b"12 Ave\xff"
    with pytest.raises(zarn.Error) as info:
        parser.parse_many(addresses, threads=3)
    assert info.value.number == zarn.ERROR_INVALID_ARGUMENT
    assert info.value.index == 517
    got = parser.parse_many(addresses, threads=3, errors="coerce")
    assert got[517] is None
    assert got[:517] == [parser.parse(a) for a in addresses[:517]]
    assert got[518:] == [parser.parse(a) for a in addresses[518:]]


def test_parse_many_bad_arguments(parser):
    with pytest.raises(ValueError):
        parser.parse_many(["1 Main St"], threads=0)
    with pytest.raises(ValueError):
        parser.parse_many(["1 Main St"], errors="ignore")
    with pytest.raises(TypeError, match="address 1"):
        parser.parse_many(["1 Main St", None])


def test_parse_many_releases_the_gil(parser, sample):
    """A Python thread keeps running while parse_many works."""
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    t = threading.Thread(target=count)
    t.start()
    try:
        # The counting rate while the main thread just sleeps.
        before = counter[0]
        time.sleep(0.05)
        rate = (counter[0] - before) / 0.05
        many = sample * 60
        before = counter[0]
        start = time.perf_counter()
        parser.parse_many(many, threads=1)
        elapsed = time.perf_counter() - start
        during = counter[0] - before
    finally:
        stop.set()
        t.join()
        sys.setswitchinterval(old_interval)
    # Holding the GIL would let the counter run only for a switch interval
    # or two (0.1 ms each); released, it runs for a good part of the call.
    assert elapsed > 0.02, "the parse was too short to tell"
    assert during > rate * min(elapsed * 0.1, 0.01), (during, rate, elapsed)


def test_threads_share_one_parser(parser, sample):
    want = [parser.parse(a) for a in sample]
    results = {}

    def work(n):
        results[n] = [parser.parse(a) for a in sample]

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[n] == want for n in range(4))


def test_version():
    assert zarn.__version__.count(".") == 2


def test_profiles(database, sample):
    specified = zarn.Parser(database, profile="SPECIFIED")
    canada = zarn.Parser(database, profile="Canada")
    assert specified.profile == "specified" and canada.profile == "canada"
    # The package's default is the canada profile.
    assert zarn.Parser(database).profile == "canada"
    with pytest.raises(ValueError, match="profile"):
        zarn.Parser(database, profile="nonsense")
    # The profile travels with a pickled parser and shows in its repr when it
    # is not the default.
    again = pickle.loads(pickle.dumps(specified))
    assert again.profile == "specified" and "specified" in repr(again)
    assert pickle.loads(pickle.dumps(canada)).profile == "canada"
    assert "profile" not in repr(canada)
    # Batch and single parses agree within a profile.
    assert canada.parse_many(sample[:300]) == [canada.parse(a) for a in sample[:300]]


def test_diagnostics(database):
    canada = zarn.Parser(database, profile="canada")
    parts, diag = canada.parse_diagnostics("Foo bar")
    assert isinstance(diag, zarn.Diagnostics)
    assert parts == canada.parse("Foo bar")
    assert "no_street_type" in diag.flags and "no_street_number" in diag.flags
    assert all(isinstance(w, str) for w in diag.unplaced_words)
    # The specified rules never report anything.
    assert zarn.Parser(database, profile="specified").parse_diagnostics("Foo bar")[1] == \
        zarn.Diagnostics((), ())
    with pytest.raises(zarn.Error) as e:
        canada.parse_diagnostics(b"\xff")
    assert e.value.number == zarn.ERROR_INVALID_ARGUMENT


# Every pickle protocol, and __reduce_ex__ called directly: protocols 0 and 1
# once aborted the interpreter. Run in a child so that an abort fails the test.
def run_child(program, env=None):
    import subprocess
    import sys

    return subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                          timeout=120, env=env)


def test_parser_pickles_with_every_protocol(database):
    program = f"""
import pickle, zarn
p = zarn.Parser({database!r}, profile="canada")
for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
    back = pickle.loads(pickle.dumps(p, protocol))
    assert (back.database, back.profile) == (p.database, "canada"), protocol
    assert back.parse("123 Main St. N") == p.parse("123 Main St. N")
for protocol in (0, 1, 2):
    fn, args = p.__reduce_ex__(protocol)[:2]
    assert fn(*args).database == p.database
print("ok")
"""
    r = run_child(program)
    assert r.returncode == 0 and r.stdout == "ok\n", (r.returncode, r.stderr)


def test_parser_without_init_is_refused():
    # Parser.__new__ without __init__ once gave an object whose methods
    # read freed memory (a segfault).
    program = """
import zarn
p = zarn.Parser.__new__(zarn.Parser)
for call in (lambda: p.parse("x"), lambda: p.street("x"), lambda: p.database,
             lambda: p.parse_many(["x"])):
    try:
        call()
    except TypeError:
        pass
    else:
        raise SystemExit("no TypeError")
print("ok")
"""
    r = run_child(program)
    assert r.returncode == 0 and r.stdout == "ok\n", (r.returncode, r.stderr)


def test_pickled_default_parser_finds_its_database_where_unpickled(database, tmp_path):
    # A Parser() given no path carries None, not this process's path: the
    # unpickling process resolves its own bundled database.
    import shutil

    moved = tmp_path / "elsewhere.DAT"
    shutil.copy(database, moved)
    env = dict(os.environ, ZARN_DATABASE=database)
    r = run_child("import pickle, sys, zarn\n"
                  "sys.stdout.buffer.write(pickle.dumps(zarn.Parser(), 0))", env)
    assert r.returncode == 0, r.stderr
    program = f"""
import pickle, sys, zarn
p = pickle.loads({r.stdout.encode()!r})
print(p.database)
"""
    r = run_child(program, dict(os.environ, ZARN_DATABASE=str(moved)))
    assert r.returncode == 0 and r.stdout == f"{moved}\n", (r.returncode, r.stderr)
    # A parser given a path keeps it.
    back = pickle.loads(pickle.dumps(zarn.Parser(str(moved))))
    assert back.database == str(moved)


def test_fork_while_threads_parse(database):
    # A child forked while other threads parse once inherited a SQLite mutex
    # held by one of them and hung. Every child must parse and exit.
    program = f"""
import os, sys, threading, zarn
p = zarn.Parser({database!r})
stop = threading.Event()
def work():
    while not stop.is_set():
        p.parse("123 Main St. N")
        p.parse_many(["5-123 rue Saint-Denis Ouest"] * 50, threads=2)
threads = [threading.Thread(target=work) for _ in range(3)]
for t in threads:
    t.start()
hung = 0
for _ in range(200):
    pid = os.fork()
    if pid == 0:
        ok = p.parse("123 Main St. N").street == "Main"
        os._exit(0 if ok else 3)
    for _ in range(1000):  # up to 10 s each
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        threading.Event().wait(0.01)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        hung += 1
        continue
    assert os.waitstatus_to_exitcode(status) == 0, status
stop.set()
for t in threads:
    t.join()
print("hung", hung)
"""
    import warnings

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        r = run_child(program)
    assert r.returncode == 0 and r.stdout == "hung 0\n", (r.returncode, r.stdout, r.stderr)

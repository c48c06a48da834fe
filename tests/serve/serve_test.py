"""End-to-end tests of zarn-serve: each case starts the built server on a free
loopback port, talks to it over HTTP and stops it.

Usage: serve_test.py --server PATH --parser PATH --samples FILE --database FILE CASE
       serve_test.py list
CTest runs one process per case (see CMakeLists.txt beside this file). Every
connection goes to 127.0.0.1; every server started is killed at the end.
"""

import argparse
import ctypes
import http.client
import json
import os
import random
import re
import select
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ARGS = None
PARTS = ["street_number", "street", "street_type", "direction", "unit"]
PROFILES = ["specified", "canada"]

# Answers known independently of the program (the project's documented examples).
# The street-line parts the default (canada) profile gives.
KNOWN = {
    "123 Main St. N": ["123", "Main", "Street", "N", ""],
    "5-123 rue Saint-Denis Ouest": ["123", "Saint-Denis", "rue", "W", "5"],
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def _die_with_parent():
    """In the child before exec: the kernel kills the server if this test
    process dies first (a CTest timeout, a crash), so none is left behind."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Server:
    """The server as a child process, on a port it picked itself."""

    def __init__(self, *args, database=None):
        cmd = [ARGS.server, "--listen", "127.0.0.1:0", "--database", database or ARGS.database]
        cmd += list(args)
        self.proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     preexec_fn=_die_with_parent)
        self.stderr_lines = []
        line = self.proc.stderr.readline().decode("utf-8", "replace")
        self.stderr_lines.append(line)
        m = re.search(r"listening on http://127\.0\.0\.1:(\d+) ", line)
        if not m:
            self.kill()
            raise Failure(f"server did not start: {line!r}")
        self.port = int(m.group(1))
        self._drain = threading.Thread(target=self._read_stderr, daemon=True)
        self._drain.start()

    def _read_stderr(self):
        for line in self.proc.stderr:
            self.stderr_lines.append(line.decode("utf-8", "replace"))

    def stderr(self):
        return "".join(self.stderr_lines)

    def connection(self, timeout=30):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None, conn=None):
        """(status, headers dict, body bytes)."""
        own = conn is None
        conn = conn or self.connection()
        try:
            conn.request(method, path, body=body, headers=headers or {})
            r = conn.getresponse()
            data = r.read()
            return r.status, {k.lower(): v for k, v in r.getheaders()}, data
        finally:
            if own:
                conn.close()

    def get_json(self, path, conn=None):
        status, _, data = self.request("GET", path, conn=conn)
        return status, json.loads(data)

    def post(self, path, body, content_type="application/json", conn=None):
        if not isinstance(body, (bytes, bytearray)):
            body = json.dumps(body).encode()
        return self.request("POST", path, body=body, headers={"Content-Type": content_type},
                            conn=conn)

    def stop(self, timeout=60):
        """SIGTERM, then the exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise Failure("server did not stop within a minute of SIGTERM")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()


def query(address, **extra):
    params = {"address": address}
    params.update(extra)
    return "/v1/parse?" + urllib.parse.urlencode(params)


def json_lines(data):
    """The values of NDJSON bytes. Lines end at LF only: U+2028 and the like
    may stand unescaped inside a JSON string."""
    return [json.loads(line) for line in bytes(data).decode().split("\n") if line.strip()]


def parts(result):
    return [result[p] for p in PARTS]


def samples():
    with open(ARGS.samples, "rb") as f:
        lines = f.read().decode("utf-8").split("\n")
    return [line.rstrip("\r") for line in lines if line.strip()]


def reference(addresses, profile, database=None):
    """zarn-parse's answers for `addresses`: per address (parts, flags,
    unplaced words, error message or None)."""
    with tempfile.NamedTemporaryFile("wb", suffix=".txt", delete=False) as f:
        f.write(("\n".join(addresses) + "\n").encode())
        name = f.name
    try:
        p = subprocess.run([ARGS.parser, "--format", "jsonl", "--flags", "--quiet", "--profile",
                            profile, "--database", database or ARGS.database, "--input", name],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    finally:
        os.unlink(name)
    check(p.returncode == 0, f"zarn-parse failed: {p.stderr.decode()}")
    rows = json_lines(p.stdout)
    check(len(rows) == len(addresses), "zarn-parse gave a row count unlike its input")
    out = []
    for row in rows:
        out.append(([row["street_number"], row["street"], row["street_type"], row["direction"],
                     row["unit"]], row["flags"], row["unplaced_words"], row["error"]))
    return out


def same_as_reference(result, ref, where):
    want_parts, want_flags, want_words, want_error = ref
    check(parts(result) == want_parts, f"{where}: {parts(result)} != zarn-parse {want_parts}")
    if want_error is None:
        check(result["error"] is None, f"{where}: error {result['error']}, zarn-parse has none")
    else:
        check(result["error"] is not None and result["error"]["message"] == want_error,
              f"{where}: error {result['error']} != zarn-parse {want_error!r}")
    if "diagnostics" in result:
        d = result["diagnostics"]
        check(",".join(d["flags"]) == want_flags, f"{where}: flags {d['flags']} != {want_flags!r}")
        check(" ".join(d["unplaced_words"]) == want_words,
              f"{where}: unplaced {d['unplaced_words']} != {want_words!r}")


def raw_exchange(port, data, timeout=10, shut=False):
    """Sends bytes on a fresh socket; returns what comes back until the server
    closes or `timeout` passes."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    out = b""
    try:
        try:
            s.sendall(data)
            if shut:
                s.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may answer and close before reading it all
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            except OSError:
                break
            if not chunk:
                break
            out += chunk
    finally:
        s.close()
    return out


def status_of(response):
    m = re.match(rb"HTTP/1\.1 (\d{3}) ", response)
    return int(m.group(1)) if m else None


def metric(text, name, **labels):
    """The value of one sample in Prometheus text, 0 when absent."""
    want = name
    if labels:
        want += "{" + ",".join(f'{k}="{v}"' for k, v in labels.items()) + "}"
    for line in text.splitlines():
        if line.startswith(want + " "):
            return float(line.split()[-1])
    return 0.0


# ---------------------------------------------------------------- cases


def case_endpoints(tmp):
    with Server() as s:
        for address, want in KNOWN.items():
            status, body = s.get_json(query(address))
            check(status == 200, f"GET {address!r}: status {status}")
            check(parts(body) == want and body["error"] is None, f"GET {address!r}: {body}")
            check("diagnostics" not in body, "diagnostics without flags=1")
        status, body = s.get_json(query("123 Main St. N", flags="1", profile="canada"))
        check(status == 200 and isinstance(body["diagnostics"]["flags"], list), f"flags: {body}")

        status, headers, data = s.request("HEAD", query("123 Main St. N"))
        check(status == 200 and data == b"", f"HEAD: {status} {data!r}")

        items = ["123 Main St. N", {"id": 7, "address": "5-123 rue Saint-Denis Ouest"},
                 {"id": "x", "address": "123 Main St. N"}, {"address": "37 CODE ST"}]
        status, headers, data = s.post("/v1/parse", items)
        check(status == 200 and headers["content-type"].startswith("application/json"),
              f"POST: {status} {headers}")
        results = json.loads(data)
        check(len(results) == 4, f"POST: {len(results)} results for 4")
        check("id" not in results[0] and results[1]["id"] == 7 and results[2]["id"] == "x"
              and "id" not in results[3], f"ids: {results}")
        check(parts(results[1]) == KNOWN["5-123 rue Saint-Denis Ouest"], f"POST: {results[1]}")

        lines = b'"123 Main St. N"\n\n{"id":[1,2],"address":"5-123 rue Saint-Denis Ouest"}\r\n'
        status, headers, data = s.post("/v1/parse", lines, "application/x-ndjson")
        check(status == 200 and headers["content-type"] == "application/x-ndjson",
              f"NDJSON: {status} {headers}")
        out = json_lines(data)
        check(len(out) == 2 and out[1]["id"] == [1, 2], f"NDJSON: {out}")
        check(parts(out[0]) == KNOWN["123 Main St. N"], f"NDJSON: {out[0]}")

        status, body = s.get_json("/healthz")
        check(status == 200 and body["status"] == "ok", f"healthz: {status} {body}")
        # A batch holding one bad address answers the others.
        status, _, data = s.post("/v1/parse", ["123 Main St. N", "x" * 40000])
        results = json.loads(data)
        check(status == 200 and results[0]["error"] is None and
              results[1]["error"]["kind"] == "too_long", f"per-address error: {status} {results}")
        status, body = s.get_json("/v1/version")
        check(status == 200 and body["service"] == "zarn-serve" and
              re.fullmatch(r"\d+\.\d+\.\d+", body["version"]), f"version: {body}")

        # A request is counted just after its answer is written, on the
        # thread of its own connection: wait until every earlier request has
        # been counted (or the deadline passes) before comparing.
        deadline = time.time() + 10
        while True:
            status, headers, data = s.request("GET", "/metrics")
            text = data.decode()
            counted = (metric(text, "zarn_serve_requests_total", endpoint="/v1/version",
                              status="200") >= 1 and
                       metric(text, "zarn_serve_requests_total", endpoint="/v1/parse",
                              status="200") >= 7 and
                       metric(text, "zarn_serve_addresses_parsed_total") >= 12)
            if counted or time.time() > deadline:
                break
            time.sleep(0.05)
        check(metric(text, "zarn_serve_address_errors_total", kind="too_long") == 1,
              f"too_long errors counted wrongly:\n{text}")
        check(status == 200 and headers["content-type"].startswith("text/plain"), "metrics type")
        check(metric(text, "zarn_serve_requests_total", endpoint="/v1/parse", status="200") == 7,
              f"parse requests counted wrongly:\n{text}")
        # HEAD parses too: three GETs, one HEAD, four in the batch, two lines,
        # a batch of two.
        check(metric(text, "zarn_serve_addresses_parsed_total") == 3 + 1 + 4 + 2 + 2,
              f"addresses counted wrongly:\n{text}")
        count = metric(text, "zarn_serve_request_duration_seconds_count")
        inf = metric(text, "zarn_serve_request_duration_seconds_bucket", le="+Inf")
        check(count == inf and count >= 9, f"latency histogram: count {count}, +Inf {inf}")
        check(s.stop() == 0, "server did not exit 0 on SIGTERM")


def case_error_statuses(tmp):
    with Server("--max-body", "2KiB", "--max-batch", "5") as s:
        def expect(status, kind, method, path, body=None, headers=None):
            got, h, data = s.request(method, path, body=body, headers=headers)
            check(got == status, f"{method} {path}: status {got}, wanted {status}: {data!r}")
            payload = json.loads(data)
            err = payload["error"]
            if "kind" in err and "status" in err:
                check(err["status"] == status, f"{method} {path}: error {err}")
            check(err["kind"] == kind, f"{method} {path}: kind {err['kind']}, wanted {kind}")
            return h

        js = {"Content-Type": "application/json"}
        expect(400, "missing_parameter", "GET", "/v1/parse")
        expect(400, "missing_parameter", "GET", "/v1/parse?adress=1+Main+St")
        expect(400, "bad_parameter", "GET", query("1 Main St", profile="quebec"))
        expect(400, "bad_parameter", "GET", query("1 Main St", flags="maybe"))
        expect(400, "bad_json", "POST", "/v1/parse", b'["1 Main St"', js)
        expect(400, "bad_json", "POST", "/v1/parse", b'{"address": "1 Main St"}', js)
        # A NUL byte is not JSON, wherever it stands: not the end of the body.
        expect(400, "bad_json", "POST", "/v1/parse", b'["1 Main St"]\x00["2 Main St"]', js)
        expect(400, "bad_json", "POST", "/v1/parse", b'["1 Main\x00 St"]', js)
        status, _, data = s.request("POST", "/v1/parse", b'"1 Main St"\n"2 Main\x00 St"\n',
                                    {"Content-Type": "application/x-ndjson"})
        lines = [json.loads(line) for line in data.decode().splitlines()]
        check(status == 200 and lines[0]["error"] is None
              and lines[1]["error"]["kind"] == "bad_json", f"NDJSON with a NUL byte: {lines}")
        expect(400, "bad_parameter", "GET", query("1 Main St", standard="maybe"))
        expect(400, "bad_parameter", "GET", query("1 Main St", standard="1", language="de"))
        expect(404, "not_found", "GET", "/v2/parse")
        expect(404, "not_found", "POST", "/nowhere", b"[]", js)
        h = expect(405, "method_not_allowed", "DELETE", "/v1/parse")
        check("POST" in h.get("allow", ""), f"405 without Allow: {h}")
        expect(405, "method_not_allowed", "POST", "/healthz", b"[]", js)
        expect(413, "body_too_large", "POST", "/v1/parse",
               json.dumps(["1 Main St"] * 400).encode(), js)
        expect(413, "batch_too_large", "POST", "/v1/parse", json.dumps(["1 Main St"] * 6).encode(),
               js)
        expect(415, "unsupported_media_type", "POST", "/v1/parse", b'["1 Main St"]')
        expect(415, "unsupported_media_type", "POST", "/v1/parse", b'["1 Main St"]',
               {"Content-Type": "text/plain"})
        h = expect(422, "invalid_utf8", "GET", "/v1/parse?address=12%20Main%FF%20St")
        expect(422, "invalid_utf8", "POST", "/v1/parse", b'["12 Main \xff St"]', js)
        # A charset parameter does not change the media type.
        got, _, _ = s.request("POST", "/v1/parse", b'["1 Main St"]',
                              {"Content-Type": "Application/JSON; charset=utf-8"})
        check(got == 200, f"JSON with charset: {got}")

    # 503 while the database cannot be used, on every endpoint that reads it.
    missing = os.path.join(tmp, "missing.DAT")
    with Server(database=missing) as s:
        status, body = s.get_json("/healthz")
        check(status == 503 and body["status"] == "unavailable", f"healthz: {status} {body}")
        status, body = s.get_json(query("1 Main St"))
        check(status == 503 and body["error"]["kind"] == "database", f"GET: {status} {body}")
        for content_type, payload in (("application/json", b'["1 Main St"]'),
                                      ("application/x-ndjson", b'"1 Main St"\n')):
            status, _, data = s.post("/v1/parse", payload, content_type)
            check(status == 503 and json.loads(data)["error"]["kind"] == "database",
                  f"POST {content_type}: {status} {data!r}")
        status, body = s.get_json("/v1/version")
        check(status == 200, "version needs no database")
        check("cannot be used yet" in s.stderr(), f"no warning at start: {s.stderr()!r}")


def case_batch_items_and_options(tmp):
    """An item that is not a string (nor an object with a string address)
    gets its own error, the others are parsed; ?standard=1 and ?flags=1 add
    the standard form and the diagnostics, as the library's encoder writes
    them."""
    with Server() as s:
        items = [{"id": 1, "address": None}, "123 Main St. N", 5, {"id": "x"},
                 {"id": 2, "address": ["1 Main St"]}]
        body = json.dumps(items).encode()
        status, _, data = s.request("POST", "/v1/parse", body, {"Content-Type": "application/json"})
        check(status == 200, f"batch with bad items: status {status}: {data!r}")
        results = json.loads(data)
        check(len(results) == 5, f"{len(results)} answers for 5 items")
        for i, want_id in ((0, 1), (2, None), (3, "x"), (4, 2)):
            r = results[i]
            check(r.get("id") == want_id, f"item {i}: id {r.get('id')!r}, wanted {want_id!r}")
            check(r["error"]["kind"] == "bad_item" and "address" in r["error"]["message"],
                  f"item {i}: {r}")
            check(parts(r) == [""] * len(PARTS), f"item {i}: parts {r}")
        check(parts(results[1]) == KNOWN["123 Main St. N"] and results[1]["error"] is None,
              f"the good item: {results[1]}")

        # The standard form and the diagnostics, on GET, POST and NDJSON.
        address = "5-123 rue Saint-Denis Ouest"
        status, r = s.get_json(query(address, profile="canada", standard="1", flags="1"))
        check(status == 200, f"GET standard: {status} {r}")
        check(list(r)[-3:] == ["error", "diagnostics", "standard"], f"keys {list(r)}")
        check(r["standard"] == {"line": "5-123 RUE SAINT-DENIS O", "street_type": "RUE",
                                "direction": "O", "delivery_line": "", "last_line": "",
                                "language": "fr", "flags": []}, f"{r}")
        check(r["diagnostics"]["flags"] == ["unit_assumed"], f"{r}")
        status, r = s.get_json(query(address, standard="true", language="en"))
        check(status == 200 and r["standard"]["language"] == "en" and "diagnostics" not in r,
              f"GET standard in English: {r}")
        status, _, data = s.request("GET", "/v1/parse?address=12%20Main%FF%20St&standard=1")
        r = json.loads(data)
        check(status == 422 and r["standard"] is None and r["error"]["kind"] == "invalid_utf8",
              f"a failed address: {status} {r}")
        status, _, data = s.request("POST", "/v1/parse?standard=1", json.dumps([address]).encode(),
                                    {"Content-Type": "application/json"})
        check(status == 200 and json.loads(data)[0]["standard"]["line"] == "5-123 RUE SAINT-DENIS O",
              f"POST standard: {data!r}")
        status, _, data = s.request("POST", "/v1/parse?standard=1&flags=1",
                                    b'"' + address.encode() + b'"\n5\n',
                                    {"Content-Type": "application/x-ndjson"})
        lines = json_lines(data)
        check(status == 200 and len(lines) == 2, f"NDJSON standard: {status} {data!r}")
        check(lines[0]["standard"]["line"].startswith("5-123") and "diagnostics" in lines[0]
              and lines[1]["error"]["kind"] == "bad_item", f"NDJSON standard: {lines}")


def case_same_as_zarn_parse(tmp):
    addresses = samples()
    with Server() as s:
        for profile in PROFILES:
            ref = reference(addresses, profile)
            # One JSON batch of the whole sample, with ids.
            items = [{"id": i, "address": a} for i, a in enumerate(addresses)]
            status, _, data = s.post(f"/v1/parse?profile={profile}&flags=1", items)
            check(status == 200, f"batch {profile}: {status}")
            results = json.loads(data)
            check(len(results) == len(addresses), f"batch {profile}: {len(results)} results")
            for i, r in enumerate(results):
                check(r["id"] == i, f"batch {profile}: result {i} has id {r['id']}")
                same_as_reference(r, ref[i], f"batch {profile} {addresses[i]!r}")
            # The same as NDJSON.
            body = "".join(json.dumps(a) + "\n" for a in addresses).encode()
            status, _, data = s.post(f"/v1/parse?profile={profile}&flags=1", body,
                                     "application/x-ndjson")
            out = json_lines(data)
            check(status == 200 and len(out) == len(addresses), f"NDJSON {profile}: {len(out)}")
            for i, r in enumerate(out):
                same_as_reference(r, ref[i], f"NDJSON {profile} {addresses[i]!r}")
            # One GET per address (every third one), on one kept-alive connection.
            conn = s.connection()
            for i in range(0, len(addresses), 3):
                status, r = s.get_json(query(addresses[i], profile=profile, flags=1), conn=conn)
                same_as_reference(r, ref[i], f"GET {profile} {addresses[i]!r}")
                check(status == 200 if ref[i][3] is None else status == 422,
                      f"GET {profile} {addresses[i]!r}: status {status}")
            conn.close()
    # The server's default profile is the one a request without ?profile=
    # gets: canada unless --profile names another.
    for args, profile in (((), "canada"), (("--profile", "specified"), "specified")):
        with Server(*args) as s:
            status, _, data = s.post("/v1/parse?flags=1", addresses[:200])
            ref = reference(addresses[:200], profile)
            for i, r in enumerate(json.loads(data)):
                same_as_reference(r, ref[i], f"default {profile} {addresses[i]!r}")
                check(("postal_code" in r) == (profile == "canada"),
                      f"default {profile}: keys {list(r)}")


def case_escaping(tmp):
    # Quotes, backslashes, control characters and characters beyond ASCII
    # survive the JSON answers: the parts decode to zarn-parse's.
    addresses = ['12 "Main" St', "12 Main\\St N", "12\tMain St", "12 Main St \x01\x1f\x7f",
                 "12 rue de l'\u00c9glise", "12 Main St \U0001f3e0", "5-123 rue \u2028Saint-Denis"]
    with Server() as s:
        for profile in PROFILES:
            ref = reference(addresses, profile)
            status, _, data = s.post(f"/v1/parse?profile={profile}&flags=1", addresses)
            check(status == 200, f"{profile}: status {status}")
            for i, r in enumerate(json.loads(data)):
                same_as_reference(r, ref[i], f"{profile} {addresses[i]!r}")
            for i, a in enumerate(addresses):
                status, r = s.get_json(query(a, profile=profile, flags=1))
                same_as_reference(r, ref[i], f"GET {profile} {a!r}")


def case_concurrent(tmp):
    # 1,000 requests from 8 client threads at once, GETs and small batches on
    # new and kept-alive connections: every answer arrives and is the one for
    # its own address.
    addresses = samples()
    ref = reference(addresses, "canada")  # the server's default
    failures = []
    done = []
    lock = threading.Lock()
    with Server("--threads", "8") as s:
        def client(seed):
            rng = random.Random(seed)
            conn = s.connection()
            try:
                for n in range(125):
                    if n % 10 == 0:
                        conn.close()
                        conn = s.connection()
                    if n % 4 == 3:
                        picks = [rng.randrange(len(addresses)) for _ in range(rng.randint(1, 20))]
                        items = [{"id": f"{seed}-{n}-{k}", "address": addresses[i]}
                                 for k, i in enumerate(picks)]
                        status, _, data = s.post("/v1/parse", items, conn=conn)
                        results = json.loads(data)
                        check(status == 200 and len(results) == len(picks), f"batch {status}")
                        for k, (i, r) in enumerate(zip(picks, results)):
                            check(r["id"] == f"{seed}-{n}-{k}", f"mixed ids {r['id']}")
                            same_as_reference(r, ref[i], f"batch {addresses[i]!r}")
                    else:
                        i = rng.randrange(len(addresses))
                        status, r = s.get_json(query(addresses[i]), conn=conn)
                        same_as_reference(r, ref[i], f"GET {addresses[i]!r}")
                    with lock:
                        done.append(1)
            except Exception as e:  # noqa: BLE001 - reported below
                with lock:
                    failures.append(f"client {seed}: {e!r}")
            finally:
                conn.close()

        threads = [threading.Thread(target=client, args=(seed,)) for seed in range(8)]
        start = time.time()
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=240)
        check(not any(t.is_alive() for t in threads), "clients still running after 4 minutes")
        check(not failures, "; ".join(failures[:5]))
        check(len(done) == 1000, f"{len(done)} of 1000 requests answered")
        # A request is counted once its answer is written, so the last few
        # may be counted just after their clients have read them.
        deadline = time.time() + 10
        while True:
            status, _, data = s.request("GET", "/metrics")
            total = sum(int(count) for _, count in re.findall(
                r'zarn_serve_requests_total\{endpoint="/v1/parse",status="(\d+)"\} (\d+)',
                data.decode()))
            if total >= 1000 or time.time() > deadline:
                break
            time.sleep(0.05)
        check(total == 1000, f"metrics count {total} parse requests, not 1000")
        print(f"1000 requests in {time.time() - start:.1f} s")
        check(s.stop() == 0, f"server exit status after the load: {s.stderr()[-2000:]}")


def case_slow_client(tmp):
    with Server("--request-timeout", "1", "--idle-timeout", "1") as s:
        # Headers that never end: the server gives up and closes.
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=20)
        sock.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\n")
        start = time.time()
        # Meanwhile another client is served.
        status, body = s.get_json("/healthz")
        check(status == 200, "a slow client blocks the others")
        data = b""
        while True:
            chunk = sock.recv(4096)
            if not chunk:
                break
            data += chunk
        waited = time.time() - start
        sock.close()
        check(waited < 10, f"slow client held for {waited:.1f} s")
        check(b"/healthz" not in data and (data == b"" or status_of(data) in (400, 408)),
              f"slow client answer: {data[:80]!r}")
        # A body that stops half way.
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=20)
        sock.sendall(b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                     b"Content-Length: 100\r\n\r\n[\"1 Main")
        start = time.time()
        while sock.recv(4096):
            pass
        check(time.time() - start < 10, "half a body held the connection")
        sock.close()
        # An idle kept-alive connection is closed after the idle timeout.
        conn = s.connection()
        status, _ = s.get_json("/healthz", conn=conn)
        start = time.time()
        conn.sock.settimeout(20)
        check(conn.sock.recv(1) == b"", "idle connection sent data")
        idle = time.time() - start
        check(0.5 < idle < 10, f"idle connection closed after {idle:.1f} s")
        conn.close()


def case_max_connections(tmp):
    # One thread, one connection: a second connection is answered 503 and
    # closed at once, not queued; once the first goes, new ones are served.
    with Server("--threads", "1", "--max-connections", "1", "--idle-timeout", "5") as s:
        first = s.connection()
        status, _ = s.get_json("/healthz", conn=first)
        check(status == 200, f"first connection: {status}")
        start = time.time()
        status, headers, data = s.request("GET", "/healthz")
        check(status == 503 and json.loads(data)["error"]["kind"] == "too_many_connections",
              f"second connection: {status} {data!r}")
        check(headers.get("connection") == "close", f"refused connection kept open: {headers}")
        check(time.time() - start < 3, "the refusal waited for the first connection")
        first.close()
        deadline = time.time() + 10
        status = None
        while time.time() < deadline:
            status, _ = s.get_json("/healthz")
            if status == 200:
                break
            time.sleep(0.1)
        check(status == 200, f"after the first connection closed: {status}")
        # The last connection may not be seen closed yet: ask until served.
        for _ in range(50):
            status, _, data = s.request("GET", "/metrics")
            if status == 200:
                break
            time.sleep(0.1)
        check(metric(data.decode(), "zarn_serve_connections_rejected_total") >= 1,
              "refused connections not counted")


def case_refused_while_others_idle(tmp):
    # Connections over the limit used to be answered by one thread, one at a
    # time, each waited for: 94 idle ones held a refusal for a minute. Now a
    # refused connection whose request has not come is answered at once.
    with Server("--threads", "1", "--max-connections", "1", "--idle-timeout", "5",
                "--request-timeout", "5") as s:
        held = s.connection()
        status, _ = s.get_json("/healthz", conn=held)
        check(status == 200, f"first connection: {status}")
        idle = [socket.create_connection(("127.0.0.1", s.port), timeout=10) for _ in range(40)]
        try:
            start = time.time()
            status, _, data = s.request("GET", "/healthz")
            waited = time.time() - start
            check(status == 503 and json.loads(data)["error"]["kind"] == "too_many_connections",
                  f"refused connection: {status} {data!r}")
            check(waited < 3, f"the refusal waited {waited:.1f} s behind idle connections")
            for sock in idle:  # each idle one got its 503 too
                sock.settimeout(5)
                check(status_of(sock.recv(4096)) == 503, "an idle refused connection")
        finally:
            for sock in idle:
                sock.close()
            held.close()


def case_declared_oversize(tmp):
    # A declared body over --max-body but under 64 MiB was read for (up to
    # the request timeout) and then answered with a 400 status line; now it
    # is refused at once, unread, and a client sending it anyway still reads
    # the 413 (the server closes gently).
    with Server("--max-body", "1MiB") as s:
        head = (b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                b"Content-Length: 20000000\r\n\r\n")
        out = raw_exchange(s.port, head, timeout=5)
        check(status_of(out) == 413 and b"body_too_large" in out, f"declared: {out[:80]!r}")
        sent_anyway = head + b"[" + b'"1 Main St",' * 1000000
        out = raw_exchange(s.port, sent_anyway, timeout=10)
        check(status_of(out) == 413, f"body sent anyway: {out[:80]!r}")
        status, _ = s.get_json("/healthz")
        check(status == 200, "server unwell after oversize bodies")


def case_half_close(tmp):
    # A client that shuts its side after sending the request still gets the
    # answer (the HTTP library took end of input for a dead socket).
    with Server() as s:
        out = raw_exchange(s.port, b"GET /v1/parse?address=1+Main+St HTTP/1.1\r\nHost: x\r\n\r\n",
                           timeout=5, shut=True)
        check(status_of(out) == 200 and b'"street":"Main"' in out, f"GET: {out[:200]!r}")
        body = b'["1 Main St","2 King St"]'
        out = raw_exchange(s.port, b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: "
                           b"application/json\r\nContent-Length: %d\r\n\r\n" % len(body) + body,
                           timeout=5, shut=True)
        check(status_of(out) == 200 and b'"street":"King"' in out, f"POST: {out[:200]!r}")


def case_trickled_headers(tmp):
    # Headers trickled a byte at a time (each read well within the timeout)
    # must arrive within --request-timeout as a whole; the connection is
    # then closed, and a stop is not held up by it.
    with Server("--request-timeout", "2", "--idle-timeout", "2") as s:
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=10)
        start = time.time()
        closed_after = None
        try:
            sock.sendall(b"GET /healthz HTTP/1.1\r\n")
            for byte in b"X-Slow: " + b"a" * 60:
                time.sleep(0.5)
                try:
                    sock.sendall(bytes([byte]))
                except OSError:
                    closed_after = time.time() - start
                    break
                readable = select.select([sock], [], [], 0)[0]
                if readable and not sock.recv(4096, socket.MSG_PEEK):
                    closed_after = time.time() - start
                    break
        finally:
            sock.close()
        check(closed_after is not None and closed_after < 6,
              f"a trickling client held its connection {closed_after or 30:.1f} s")
        # A stop while a client trickles finishes within the request timeout.
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=10)
        try:
            sock.sendall(b"GET /healthz HTTP/1.1\r\nX")
            time.sleep(0.5)
            start = time.time()
            s.proc.send_signal(signal.SIGTERM)
            for _ in range(20):
                if s.proc.poll() is not None:
                    break
                try:
                    sock.sendall(b"a")
                except OSError:
                    pass
                time.sleep(0.5)
            check(s.stop(timeout=30) == 0, "exit status after a stop")
            check(time.time() - start < 8, f"the stop took {time.time() - start:.1f} s")
        finally:
            sock.close()


def case_oversize(tmp):
    with Server("--max-body", "4KiB", "--max-batch", "100") as s:
        big = json.dumps(["123 Main St. N"] * 1000).encode()
        # Declared too large: answered at once, without the body being read.
        head = (b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                b"Content-Length: 100000000\r\n\r\n")
        start = time.time()
        out = raw_exchange(s.port, head, timeout=10)
        check(status_of(out) == 413 and time.time() - start < 5, f"declared: {out[:60]!r}")
        check(b"connection: close" in out.lower(), "a body left unsent, yet the connection stays")
        # A refused body the client sends anyway is read and dropped, so the
        # client gets its 413 and the connection goes on.
        conn = s.connection()
        for content_type in ("application/json", "text/plain"):
            status, headers, _ = s.post("/v1/parse", big, content_type, conn=conn)
            check(status == (413 if content_type == "application/json" else 415),
                  f"{content_type}: {status}")
            status, _ = s.get_json("/healthz", conn=conn)
            check(status == 200, f"connection after a refused body: {status}")
        conn.close()
        # Waiting for 100 Continue: refused before sending.
        out = raw_exchange(s.port, head.replace(b"\r\n\r\n", b"\r\nExpect: 100-continue\r\n\r\n"))
        check(status_of(out) == 413, f"expect: {out[:60]!r}")
        # Chunked, so the size is only known while reading.
        chunk = b"%x\r\n%s\r\n" % (len(big), big)
        # (Connection: close rather than a half-closed socket, which the HTTP
        # library takes for a client gone before its answer.)
        out = raw_exchange(s.port, head.replace(b"Content-Length: 100000000",
                                                b"Transfer-Encoding: chunked\r\nConnection: close")
                           + chunk + b"0\r\n\r\n")
        check(status_of(out) == 413, f"chunked: {out[:60]!r}")
        # A body on a request that takes none is not read.
        out = raw_exchange(s.port, b"GET /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999"
                                   b"\r\n\r\n")
        check(status_of(out) == 413, f"GET with body: {out[:60]!r}")
        # A request line over the library's limit.
        out = raw_exchange(s.port, b"GET /v1/parse?address=" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n",
                           timeout=2)
        check(status_of(out) == 414, f"long line: {out[:60]!r}")
        # NDJSON is streamed: the body limit does not apply, the line limit does.
        lines = ['"123 Main St. N"'] * 500 + ['"' + "x" * 70000 + '"', '"37 CODE ST"']
        status, _, data = s.post("/v1/parse", "\n".join(lines).encode(), "application/x-ndjson")
        out = json_lines(data)
        check(status == 200 and len(out) == 502, f"NDJSON: {status} {len(out)} lines")
        check(out[500]["error"]["kind"] == "line_too_long", f"long line: {out[500]['error']}")
        check(out[501]["street"] == "CODE" and out[499]["error"] is None, "lines after a long one")
        status, body = s.get_json("/healthz")
        check(status == 200, "server unwell after oversize requests")


def case_ndjson_streaming(tmp):
    # Answers come back while the body is still being sent, in input order,
    # over a body far larger than --max-body.
    addresses = samples()
    ref = reference(addresses, "canada")  # the server's default
    with Server("--max-body", "64KiB") as s:
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=60)
        sock.sendall(b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-ndjson"
                     b"\r\nTransfer-Encoding: chunked\r\n\r\n")
        rounds = 10
        received = bytearray()
        got_first = threading.Event()
        errors = []

        def reader():
            try:
                while True:
                    chunk = sock.recv(65536)
                    if not chunk:
                        break
                    received.extend(chunk)
                    if received.count(b"\n") > 40:
                        got_first.set()
            except OSError as e:
                errors.append(e)
            got_first.set()

        t = threading.Thread(target=reader)
        t.start()
        body = "".join(json.dumps(a) + "\n" for a in addresses).encode()
        sock.sendall(b"%x\r\n%s\r\n" % (len(body), body))
        check(got_first.wait(30), "no answer before the body ended")
        check(not errors, f"read failed: {errors}")
        for _ in range(rounds - 1):
            sock.sendall(b"%x\r\n%s\r\n" % (len(body), body))
        sock.sendall(b"0\r\n\r\n")
        deadline = time.time() + 120
        while time.time() < deadline and t.is_alive():
            if received.endswith(b"\r\n0\r\n\r\n"):
                break
            time.sleep(0.05)
        sock.shutdown(socket.SHUT_RDWR)  # wakes the reader
        sock.close()
        t.join(10)
        head, _, rest = bytes(received).partition(b"\r\n\r\n")
        check(b"chunked" in head.lower(), f"answer not chunked: {head!r}")
        # Undo the chunked framing.
        payload = bytearray()
        while rest:
            size_text, _, rest = rest.partition(b"\r\n")
            size = int(size_text, 16)
            if size == 0:
                break
            payload += rest[:size]
            rest = rest[size + 2:]
        out = json_lines(payload)
        check(len(out) == rounds * len(addresses), f"{len(out)} answers for "
              f"{rounds * len(addresses)} lines")
        for n, line in enumerate(out):
            i = n % len(addresses)
            same_as_reference(line, ref[i], f"line {n} {addresses[i]!r}")


def make_other_database(source, target):
    """A valid database unlike `source`: the alternate form "ST" is gone."""
    shutil.copy2(source, target)
    db = sqlite3.connect(target)
    db.execute("DELETE FROM AlternateStreetType WHERE AlternateDeliveryAddress = 'ST'")
    db.commit()
    db.close()


def case_database_replaced(tmp):
    addresses = [a for a in samples()[:400]]
    served = os.path.join(tmp, "served.DAT")
    shutil.copy2(ARGS.database, served)
    other = os.path.join(tmp, "other.DAT")
    make_other_database(ARGS.database, other)
    ref_first = reference(addresses, "canada")
    ref_other = reference(addresses, "canada", database=other)
    check(any(a[0] != b[0] for a, b in zip(ref_first, ref_other)),
          "the other database gives the same answers: the test would prove nothing")

    def batch_matches(s, ref, what):
        status, _, data = s.post("/v1/parse", addresses)
        check(status == 200, f"{what}: status {status}")
        for i, r in enumerate(json.loads(data)):
            same_as_reference(r, ref[i], f"{what} {addresses[i]!r}")

    with Server(database=served) as s:
        batch_matches(s, ref_first, "first database")
        before = open(served, "rb").read()
        # Atomically replaced by another valid database: the next requests see it.
        staged = os.path.join(tmp, "staged.DAT")
        shutil.copy2(other, staged)
        os.replace(staged, served)
        batch_matches(s, ref_other, "replaced database")
        status, r = s.get_json(query(addresses[0]))
        same_as_reference(r, ref_other[0], "GET after replace")
        # Replaced by a broken file: 503 everywhere, the server keeps running.
        with open(staged, "wb") as f:
            f.write(b"this is not a database\n" * 100)
        os.replace(staged, served)
        status, body = s.get_json("/healthz")
        check(status == 503, f"healthz with a broken database: {status} {body}")
        status, _, _ = s.post("/v1/parse", addresses[:5])
        check(status == 503, f"POST with a broken database: {status}")
        # Removed: still 503.
        os.remove(served)
        status, body = s.get_json(query(addresses[0]))
        check(status == 503, f"GET without a database: {status}")
        # Back again: answers as before.
        shutil.copy2(ARGS.database, staged)
        os.replace(staged, served)
        status, _ = s.get_json("/healthz")
        check(status == 200, f"healthz after restore: {status}")
        batch_matches(s, ref_first, "restored database")
        check(open(served, "rb").read() == open(ARGS.database, "rb").read(),
              "the served database was written")
        check(before == open(ARGS.database, "rb").read(), "the first copy differed")
        check(s.stop() == 0, "server did not exit 0")


def case_shutdown_during_load(tmp):
    addresses = samples()
    ref = reference(addresses[:500], "canada")  # the server's default
    with Server("--threads", "4") as s:
        # A request in flight when SIGTERM comes: half its body sent before,
        # half after. It gets its whole answer.
        sock = socket.create_connection(("127.0.0.1", s.port), timeout=60)
        body = "".join(json.dumps(a) + "\n" for a in addresses[:500]).encode()
        sock.sendall(b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-ndjson"
                     b"\r\nConnection: close\r\nContent-Length: %d\r\n\r\n" % len(body))
        sock.sendall(body[:len(body) // 2])
        time.sleep(0.3)
        wrong = []
        answered = []
        stop_load = threading.Event()

        def load(seed):
            rng = random.Random(seed)
            while not stop_load.is_set():
                i = rng.randrange(500)
                try:
                    status, r = s.get_json(query(addresses[i]))
                except (OSError, http.client.HTTPException, ValueError):
                    continue  # refused or cut once the server stops accepting
                if parts(r) != ref[i][0]:
                    wrong.append(addresses[i])
                answered.append(status)

        clients = [threading.Thread(target=load, args=(n,)) for n in range(4)]
        for c in clients:
            c.start()
        time.sleep(1.0)
        s.proc.send_signal(signal.SIGTERM)
        time.sleep(0.5)
        sock.sendall(body[len(body) // 2:])
        data = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
        sock.close()
        try:
            code = s.proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("server still running a minute after SIGTERM")
        finally:
            stop_load.set()
            for c in clients:
                c.join(30)
        check(code == 0, f"exit status {code}: {s.stderr()}")
        check(not wrong, f"wrong answers under load: {wrong[:3]}")
        check(len(answered) > 10 and all(a == 200 for a in answered),
              f"{len(answered)} answers under load, statuses {set(answered)}")
        head, _, rest = data.partition(b"\r\n\r\n")
        check(status_of(head) == 200, f"in-flight request: {head[:60]!r}")
        lines = [ln for ln in rest.split(b"\n") if ln.startswith(b"{")]
        check(len(lines) == 500, f"in-flight request got {len(lines)} of 500 answers")
        check("finishing the requests in flight" in s.stderr(), "no shutdown message")


def case_robustness(tmp):
    # Random bytes and malformed HTTP never bring the server down.
    rng = random.Random(15)
    with Server("--request-timeout", "1", "--idle-timeout", "1", "--max-body", "64KiB") as s:
        malformed = [
            b"\r\n\r\n",
            b"GET\r\n\r\n",
            b"GET / HTTP/9.9\r\n\r\n",
            b"FROB /v1/parse HTTP/1.1\r\n\r\n",
            b"GET /v1/parse?address=%zz%%%00 HTTP/1.1\r\nHost: x\r\n\r\n",
            b"GET /v1/parse?address=1\x00Main HTTP/1.1\r\nHost: x\r\n\r\n",
            b"GET /healthz HTTP/1.1\r\nno colon here\r\n\r\n",
            b"GET /healthz HTTP/1.1\r\nX: " + b"y" * 20000 + b"\r\n\r\n",
            b"GET /healthz HTTP/1.1\r\n" + b"X-A: b\r\n" * 2000 + b"\r\n",
            b"POST /v1/parse HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: -5\r\n"
            b"\r\n",
            b"POST /v1/parse HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 99999"
            b"999999999999999999999\r\n\r\n",
            b"POST /v1/parse HTTP/1.1\r\nContent-Type: application/json\r\nTransfer-Encoding: "
            b"chunked\r\n\r\nzz\r\nxx\r\n",
            b"POST /v1/parse HTTP/1.1\r\nContent-Type: application/x-ndjson\r\nTransfer-Encoding:"
            b" chunked\r\n\r\nffffffffffffffffff\r\n\"1 Main St\"\n",
            b"POST /v1/parse HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 10\r\n"
            b"\r\n[[[[[[[[[[",
            b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n" * 50,
        ]
        for data in malformed:
            raw_exchange(s.port, data, timeout=3, shut=True)
            check(s.proc.poll() is None, f"server died on {data[:60]!r}")
        for n in range(60):
            data = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 4000)))
            if n % 3 == 1:
                data = b"GET /v1/parse?address=" + data
            elif n % 3 == 2:
                body = data
                ctype = b"application/x-ndjson" if n % 2 else b"application/json"
                data = (b"POST /v1/parse HTTP/1.1\r\nContent-Type: " + ctype +
                        b"\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            raw_exchange(s.port, data, timeout=2, shut=True)
            check(s.proc.poll() is None, f"server died on random input {n}")
        # Random bytes as addresses, through the parser.
        conn = s.connection()
        for n in range(200):
            address = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 300)))
            status, _, data = s.request("GET", "/v1/parse?address=" + urllib.parse.quote(address),
                                        conn=conn)
            check(status in (200, 422), f"random address: status {status}")
            json.loads(data)
        conn.close()
        body = "".join(json.dumps("".join(chr(rng.randrange(32, 0x250)) for _ in range(50)))
                       + "\n" for _ in range(300)).encode()
        status, _, data = s.post("/v1/parse", body, "application/x-ndjson")
        check(status == 200 and len(json_lines(data)) == 300, f"random NDJSON: {status}")
        status, _ = s.get_json("/healthz")
        check(status == 200, "server unwell after malformed input")
        check(s.stop() == 0, "server did not exit 0 after malformed input")


def case_deep_nesting(tmp):
    # Arrays and objects nested past the limit are refused before any tree
    # is built: the server once copied such a tree recursively and died of a
    # stack overflow on 70,000 levels.
    with Server() as s:
        d = 70000
        deep_id = b'[{"id": ' + b"[" * d + b"]" * d + b', "address": "1 Main St"}]'
        for body in (deep_id, b"[" * d + b"]" * d, b'[{"a":' * 200000 + b"1" + b"}]" * 200000,
                     b"[" * 500000):
            status, _, data = s.post("/v1/parse", body)
            check(s.proc.poll() is None, f"server died on {len(body)} bytes of nesting")
            check(status == 400 and json.loads(data)["error"]["kind"] == "too_deep",
                  f"deep body: {status} {data[:200]!r}")
        # Brackets inside strings do not count; ids nested within the limit
        # come back as they were sent.
        nested_id = json.loads("[" * 60 + "7" + "]" * 60)
        status, _, data = s.post("/v1/parse", [{"id": nested_id, "address": "1 Main St"},
                                               "[[[[" * 30000])
        check(status == 200, f"ids within the limit: {status} {data[:200]!r}")
        answers = json.loads(data)
        check(answers[0]["id"] == nested_id and answers[0]["street"] == "Main",
              f"nested id: {answers[0]}")
        # NDJSON: the deep line fails alone, the others are answered.
        # (30,000 levels: a line is at most 64 KiB)
        body = (b'"1 Main St"\n{"id": ' + b"[" * 30000 + b"]" * 30000 +
                b', "address": "x"}\n"2 Main St"\n')
        status, _, data = s.post("/v1/parse", body, "application/x-ndjson")
        rows = json_lines(data)
        check(status == 200 and len(rows) == 3, f"NDJSON: {status} {len(rows)} rows")
        check(rows[1]["error"]["kind"] == "too_deep" and rows[2]["street_number"] == "2",
              f"NDJSON deep line: {rows[1]} {rows[2]}")
        status, _ = s.get_json("/healthz")
        check(status == 200, "server unwell after deep bodies")
        check(s.stop() == 0, "server did not exit 0 after deep bodies")


def case_options(tmp):
    def start_fails(*args):
        p = subprocess.run([ARGS.server] + list(args), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=30)
        return p.returncode, p.stderr.decode()

    for args in (["--listen", "8080"], ["--listen", "[::1]8080"], ["--listen", "127.0.0.1:99999"],
                 ["--max-body", "lots"], ["--profile", "quebec"], ["--threads", "0"]):
        code, err = start_fails(*args)
        check(code == 1 and "zarn-serve:" in err, f"{args}: exit {code}, {err!r}")
    # Addresses reach the log only with --log-requests.
    secret = "4242 Secretmarker Rd"
    for flag, logged in (([], False), (["--log-requests"], True)):
        with Server(*flag) as s:
            s.get_json(query(secret))
            s.post("/v1/parse", [secret + " batch"])
            check(s.stop() == 0, "exit status")
            s._drain.join(10)
            err = s.stderr()
            check(("Secretmarker" in err) == logged, f"{flag}: log {'lacks' if logged else 'has'}"
                  f" the address: {err!r}")
            check("batch" not in err, "a POST body reached the log")
    # IPv6 loopback, when the machine has it.
    try:
        probe = socket.socket(socket.AF_INET6)
        probe.bind(("::1", 0))
        probe.close()
    except OSError:
        print("no IPv6 loopback: [::1] not tested")
        return
    p = subprocess.Popen([ARGS.server, "--listen", "[::1]:0", "--database", ARGS.database],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         preexec_fn=_die_with_parent)
    try:
        line = p.stderr.readline().decode()
        m = re.search(r"listening on http://\[::1\]:(\d+) ", line)
        check(m is not None, f"IPv6 start: {line!r}")
        conn = http.client.HTTPConnection("::1", int(m.group(1)), timeout=10)
        conn.request("GET", "/healthz")
        check(conn.getresponse().status == 200, "IPv6 healthz")
        conn.close()
    finally:
        p.kill()
        p.wait()


def spans_problems(address, answer, fields):
    """What is wrong with an answer's spans: each a list of [start, end) byte
    offsets inside the address, on whole characters, no byte in two fields,
    and none for an empty field."""
    raw = address.encode()
    problems = []
    spans = answer.get("spans")
    if answer["error"] is not None:
        return [] if spans is None else [f"spans {spans} for a failed address"]
    if not isinstance(spans, dict) or sorted(spans) != sorted(fields):
        return [f"spans {spans!r}: not one list per field"]
    taken = []
    for field, pairs in spans.items():
        if not answer[field] and pairs:
            problems.append(f"{field} is empty but has spans {pairs}")
        for start, end in pairs:
            if not 0 <= start < end <= len(raw):
                problems.append(f"{field}: [{start},{end}) outside the address")
                continue
            try:
                raw[start:end].decode()
            except UnicodeDecodeError:
                problems.append(f"{field}: [{start},{end}) cuts a character")
            taken.append((start, end, field))
    taken.sort()
    for a, b in zip(taken, taken[1:]):
        if a[1] > b[0]:
            problems.append(f"{a[2]} and {b[2]} overlap")
    return problems


def under(address, pairs):
    raw = address.encode()
    return [raw[s:e].decode() for s, e in pairs]


def case_spans(tmp):
    """?spans=1 adds where each part came from, as byte offsets into the
    address, on GET, POST and NDJSON; without it the answers are as before."""
    canada_fields = ["street_number", "street", "street_type", "direction", "unit", "po_box",
                     "rural_route", "general_delivery", "station", "municipality", "province",
                     "postal_code"]
    fields = {"specified": PARTS, "canada": canada_fields}
    with Server() as s:
        line = "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8"
        status, r = s.get_json(query(line, profile="canada", spans="1"))
        check(status == 200, f"GET spans: {status} {r}")
        check(list(r)[-2:] == ["error", "spans"], f"keys {list(r)}")
        check(spans_problems(line, r, canada_fields) == [], f"{spans_problems(line, r, canada_fields)}")
        got = {k: under(line, v) for k, v in r["spans"].items() if v}
        check(got == {"unit": ["5"], "street_number": ["123"], "street_type": ["rue"],
                      "street": ["Saint-Denis"], "direction": ["O"], "municipality": ["Montréal"],
                      "province": ["Québec"], "postal_code": ["H2X 3K8"]}, f"canada: {got}")
        # Offsets count UTF-8 bytes, not characters.
        check(r["spans"]["province"] == [[37, 44]], f"province {r['spans']['province']}")
        status, r = s.get_json(query("123 Main St. N", profile="specified", spans="true"))
        check(status == 200 and list(r["spans"]) == PARTS, f"specified spans: {r}")
        check(r["spans"] == {"street_number": [[0, 3]], "street": [[4, 8]], "street_type": [[9, 11]],
                             "direction": [[13, 14]], "unit": []}, f"{r}")
        for off in ("0", "false", ""):
            status, r = s.get_json(query("123 Main St. N", spans=off))
            check(status == 200 and "spans" not in r, f"spans={off}: {r}")
        status, r = s.get_json(query("123 Main St. N", spans="yes"))
        check(status == 400 and r["error"]["kind"] == "bad_parameter", f"spans=yes: {status} {r}")
        status, _, data = s.request("GET", "/v1/parse?address=12%20Main%FF%20St&spans=1")
        r = json.loads(data)
        check(status == 422 and r["spans"] is None and r["error"]["kind"] == "invalid_utf8",
              f"a failed address: {status} {r}")

        # Batches: the same answers as without spans, plus valid spans.
        addresses = samples()[:400] + [line, "   123   Main  St  ", "PO Box 4001 Stn A, Toronto ON  M5W 1A1"]
        for profile in PROFILES:
            status, _, data = s.post(f"/v1/parse?profile={profile}&spans=1&flags=1", addresses)
            check(status == 200, f"POST spans: {status}")
            with_spans = json.loads(data)
            status, _, data = s.post(f"/v1/parse?profile={profile}&flags=1", addresses)
            plain = json.loads(data)
            check(len(with_spans) == len(plain) == len(addresses), "answer counts")
            for a, w, p in zip(addresses, with_spans, plain):
                problems = spans_problems(a, w, fields[profile])
                check(problems == [], f"{profile} {a!r}: {problems}")
                check({k: v for k, v in w.items() if k != "spans"} == p, f"{profile} {a!r}: {w} {p}")
            body = "".join(json.dumps({"id": i, "address": a}) + "\n" for i, a in enumerate(addresses))
            status, _, data = s.post(f"/v1/parse?profile={profile}&spans=1&flags=1", body.encode(),
                                     content_type="application/x-ndjson")
            lines = json_lines(data)
            check(status == 200 and len(lines) == len(addresses), f"NDJSON spans: {status}")
            for i, (got, want) in enumerate(zip(lines, with_spans)):
                check(got == dict(want, id=i), f"NDJSON {addresses[i]!r}: {got} {want}")


CASES = {name[len("case_"):]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--server")
    parser.add_argument("--parser")
    parser.add_argument("--samples")
    parser.add_argument("--database")
    parser.add_argument("case", choices=sorted(CASES) + ["list"])
    ARGS = parser.parse_args()
    if ARGS.case == "list":
        print(";".join(sorted(CASES)), end="")
        return 0
    for name in ("server", "parser", "samples", "database"):
        if getattr(ARGS, name) is None:
            parser.error(f"--{name} is required")
    with tempfile.TemporaryDirectory(prefix="zarn-serve-") as tmp:
        try:
            CASES[ARGS.case](tmp)
        except Failure as e:
            print(f"FAILED {ARGS.case}: {e}", file=sys.stderr)
            return 1
    print(f"passed {ARGS.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

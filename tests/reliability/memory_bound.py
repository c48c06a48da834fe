#!/usr/bin/env python3
"""Memory stays bounded whatever the words: distinct 32,000-character lines
through zarn-parse and zarn-serve, with the process's memory measured before
and after.

The word memo once held every distinct word whole (up to 64 KiB each, 65,536
of them), so N distinct long lines grew a process by N x 64 KB: 1.27 GB for
zarn-parse on 20,000 lines, 1.89 GB held by zarn-serve. Every line is a
distinct word of 32,000 characters (an MD5 in hex, repeated); lines are made
as they are sent, never held.

zarn-parse takes the issue's full 100,000 lines (3.2 GB, about 30 s);
zarn-serve three runs of 10,000 lines each (the probe as the fault was
found: 960 MB of text over HTTP, under a minute). Fewer lines prove the
bound as well as more: the unbounded memo grew by 64 KB a line, while the
bounded one reaches its limits (4 MiB of words, 2 MiB of keys) within a few
hundred lines and then stays there. --lines changes the count.

  memory_bound.py zarn-parse --parser PATH --database PATH
  memory_bound.py zarn-serve --server PATH --database PATH
"""
import argparse
import hashlib
import os
import re
import socket
import subprocess
import sys
import threading

LINE_CHARS = 32000
# Allowed growth over the start, in KiB.
SLACK_KIB = 8 * 1024


def line(i):
    return hashlib.md5(str(i).encode()).hexdigest() * (LINE_CHARS // 32)


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as f:
        for row in f:
            if row.startswith(field + ":"):
                return int(row.split()[1])
    raise RuntimeError(f"no {field} in /proc/{pid}/status")


def peak_of_zarn_parse(args, first, count):
    """zarn-parse's peak RSS (KiB) on `count` lines from number `first`."""
    p = subprocess.Popen([args.parser, "--quiet", "--format", "tsv", "--threads", "1",
                          "--database", args.database], stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for i in range(first, first + count):
        p.stdin.write((line(i) + "\n").encode())
    p.stdin.close()
    err = p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError(f"zarn-parse exited {p.returncode}: {err[-500:]!r}")
    return usage.ru_maxrss


def check_zarn_parse(args):
    start = peak_of_zarn_parse(args, 0, 500)
    end = peak_of_zarn_parse(args, 10**9, args.lines)
    print(f"zarn-parse peak RSS: {start} KiB on 500 lines, {end} KiB on {args.lines} lines")
    return end - start


def stream_ndjson(port, first, count):
    """Sends `count` lines from number `first` as one NDJSON request, read
    back as it is answered; returns the number of answers."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=120)
    answers = [0]

    def reader():
        pending = b""
        with sock.makefile("rb") as f:
            for row in f:
                if row.startswith(b'{"street_number"'):
                    answers[0] += 1
                pending = row
        del pending

    t = threading.Thread(target=reader)
    t.start()
    sock.sendall(b"POST /v1/parse HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                 b"Content-Type: application/x-ndjson\r\nTransfer-Encoding: chunked\r\n\r\n")
    batch = []
    for i in range(first, first + count):
        batch.append('"' + line(i) + '"\n')
        if len(batch) == 64 or i == first + count - 1:
            chunk = "".join(batch).encode()
            sock.sendall(b"%x\r\n" % len(chunk) + chunk + b"\r\n")
            batch = []
    sock.sendall(b"0\r\n\r\n")
    t.join()
    sock.close()
    return answers[0]


def check_zarn_serve(args):
    p = subprocess.Popen([args.server, "--listen", "127.0.0.1:0", "--threads", "2",
                          "--database", args.database],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        first = p.stderr.readline().decode()
        port = int(re.search(r"127\.0\.0\.1:(\d+) ", first).group(1))
        for _ in range(2):  # both threads have served a stream of the same shape
            if stream_ndjson(port, 0, 500) != 500:
                raise RuntimeError("the first stream was not answered")
        start = status_kib(p.pid, "VmRSS")
        total = 0
        for run in range(3):  # the fault's probe: three runs, each of distinct lines
            total += stream_ndjson(port, 10**9 + run * args.lines, args.lines)
        if total != 3 * args.lines:
            raise RuntimeError(f"{total} answers to {3 * args.lines} lines")
        end = status_kib(p.pid, "VmRSS")
        print(f"zarn-serve RSS: {start} KiB after 1,000 lines, {end} KiB after three runs of "
              f"{args.lines} lines (peak {status_kib(p.pid, 'VmHWM')} KiB)")
        return end - start
    finally:
        p.kill()
        p.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("surface", choices=["zarn-parse", "zarn-serve"])
    parser.add_argument("--parser")
    parser.add_argument("--server")
    parser.add_argument("--database", required=True)
    parser.add_argument("--lines", type=int)
    args = parser.parse_args()
    if args.lines is None:
        args.lines = 100000 if args.surface == "zarn-parse" else 10000
    growth = check_zarn_parse(args) if args.surface == "zarn-parse" else check_zarn_serve(args)
    if growth > SLACK_KIB:
        print(f"FAILED: grew by {growth} KiB, over the allowed {SLACK_KIB} KiB", file=sys.stderr)
        return 1
    print(f"passed: grew by {growth} KiB (allowed {SLACK_KIB} KiB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())

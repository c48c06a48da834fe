"""The page of zarn-serve (GET /) in headless Chromium, driven by Selenium.

Usage: page_test.py --server PATH --parser PATH --samples FILE --database FILE
                    --screenshots DIR CASE
       page_test.py list
Each case starts the server on a free loopback port and a fresh browser.
"""

import argparse
import csv
import ctypes
import io
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

ARGS = None
SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def _die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Server:
    def __init__(self, *args):
        cmd = [ARGS.server, "--listen", "127.0.0.1:0", "--database", ARGS.database] + list(args)
        self.proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     preexec_fn=_die_with_parent)
        line = self.proc.stderr.readline().decode("utf-8", "replace")
        m = re.search(r"listening on http://127\.0\.0\.1:(\d+) ", line)
        if not m:
            self.proc.kill()
            raise Failure(f"server did not start: {line!r}")
        self.origin = f"http://127.0.0.1:{m.group(1)}"

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def browser(downloads, width=1280, height=900):
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-dev-shm-usage", f"--window-size={width},{height}",
              f"--user-data-dir={tempfile.mkdtemp(prefix='zarn-chromium-')}"):
        options.add_argument(a)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(120)
    return driver


def wait(driver, predicate, what, seconds=120):
    end = time.monotonic() + seconds
    while True:
        try:
            value = predicate(driver)
            if value:
                return value
        except Exception:  # the page is still changing
            pass
        check(time.monotonic() < end, f"timed out waiting for {what}")
        time.sleep(0.05)


def by_id(driver, name):
    from selenium.webdriver.common.by import By
    return driver.find_element(By.ID, name)


def select(driver, name, value):
    from selenium.webdriver.support.ui import Select
    Select(by_id(driver, name)).select_by_value(value)


def requests_made(driver):
    """Every URL the page asked for, from Chromium's network log."""
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message.get("method") == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def parse_lines(driver, text):
    box = by_id(driver, "input")
    box.clear()
    # Pasted at once, as a clipboard would, rather than typed key by key.
    driver.execute_script("arguments[0].value = arguments[1];", box, text)
    by_id(driver, "parse").click()
    count = len([l for l in text.split("\n") if l.strip()])
    wait(driver, lambda d: len(d.find_elements("css selector", "#results .row")) == count
         and "parsed" in by_id(d, "status").text or "analys" in by_id(d, "status").text,
         f"{count} result rows")


def row_parts(driver, index):
    row = driver.find_element("css selector", f'#results .row[data-row="{index}"]')
    cells = row.find_elements("css selector", "td[data-part]")
    return {c.get_attribute("data-part"): ("" if "empty" in c.get_attribute("class") else c.text)
            for c in cells}, row


def zarn_parse(args, stdin):
    p = subprocess.run([ARGS.parser, "--database", ARGS.database, "--no-progress"] + args,
                       input=stdin, capture_output=True, timeout=300)
    check(p.returncode == 0, f"zarn-parse {args}: {p.stderr!r}")
    return p.stdout


def with_page(fn, width=1280, height=900, accept_language=None):
    server = Server()
    downloads = tempfile.mkdtemp(prefix="zarn-downloads-")
    driver = browser(downloads, max(width, 800), height)
    try:
        if width < 800:
            # A phone's screen (a window cannot be made that narrow).
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": width, "height": height, "deviceScaleFactor": 2,
                                    "mobile": True})
        if accept_language:
            driver.execute_cdp_cmd("Network.setExtraHTTPHeaders",
                                   {"headers": {"Accept-Language": accept_language}})
            driver.execute_cdp_cmd("Network.enable", {})
        driver.get(server.origin + "/")
        wait(driver, lambda d: by_id(d, "parse").text, "the page")
        fn(driver, server, downloads)
        # Nothing outside the page's own origin was asked for, whatever the case
        # did (the browser's own chrome:// pages aside).
        for url in requests_made(driver):
            if url.startswith(("chrome:", "chrome-extension:", "about:", "devtools:")):
                continue
            check(url.startswith(server.origin + "/") or url.startswith(("blob:", "data:")),
                  f"the page asked for {url}")
    finally:
        driver.quit()
        server.stop()


def case_one_line(tmp):
    def run(driver, server, _):
        for profile in ("specified", "canada"):
            select(driver, "profile", profile)
            parse_lines(driver, "5-123 rue Saint-Denis Ouest")
            parts, row = row_parts(driver, 0)
            expected = zarn_parse(["--format", "jsonl", "--profile", profile],
                                  b"5-123 rue Saint-Denis Ouest\n")
            want = json.loads(expected)
            for key, value in parts.items():
                got = want.get(key, want.get("number") if key == "street_number" else None)
                check(value == (got or ""), f"{profile}: {key} shows {value!r}, zarn-parse {got!r}")
            check(parts.get("unit") == "5" and parts.get("street_number") == "123",
                  f"{profile}: parts {parts}")
            # Each part found in the typed line is marked, named on hover or focus.
            marks = {m.get_attribute("data-label"): m.text
                     for m in row.find_elements("css selector", ".typed .hl")}
            check(marks.get("civic number") == "123" and marks.get("unit") == "5",
                  f"{profile}: highlights {marks}")
        # An accented line: the service's spans are UTF-8 byte offsets, which
        # the page turns into positions in its text; each part's mark holds
        # exactly the words the part came from, in the order typed.
        accented = "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8"
        want_marks = {
            "canada": [("unit", "5"), ("street_number", "123"), ("street_type", "rue"),
                       ("street", "Saint-Denis"), ("direction", "O"),
                       ("municipality", "Montréal"), ("province", "Québec"),
                       ("postal_code", "H2X 3K8")],
            "specified": [("unit", "5"), ("street_number", "123"), ("street_type", "rue"),
                          ("street", "Saint"), ("street", "Denis O"),
                          ("street", "Montréal (Québec) H2X 3K8")],
        }
        for profile in ("canada", "specified"):
            select(driver, "profile", profile)
            parse_lines(driver, accented)
            _, row = row_parts(driver, 0)
            marks = []
            for m in row.find_elements("css selector", ".typed .hl"):
                kinds = [c[2:] for c in m.get_attribute("class").split() if c.startswith("p-")]
                marks.append((kinds[0] if kinds else "?", m.text))
            check(marks == want_marks[profile], f"{profile}: highlights {marks}")
            typed = row.find_element("css selector", ".typed").text
            check(typed == accented, f"{profile}: the typed line shows {typed!r}")
        asked = [u for u in requests_made(driver) if "/v1/parse?" in u]
        check(asked and all("spans=1" in u and u.startswith(server.origin + "/") for u in asked),
              f"requests without spans=1: {asked}")
        # The JSON link gives the same request's answer.
        href = by_id(driver, "json-link").get_attribute("href")
        check(href.startswith(server.origin + "/v1/parse?"), f"JSON link {href}")
        driver.get(href)
        answer = json.loads(driver.find_element("tag name", "body").text)
        check(answer.get("street_number") == "123", f"JSON {answer}")
    with_page(run)


def case_many_lines(tmp):
    with open(ARGS.samples, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f if l.strip()][:1000]
    def run(driver, _server, _):
        select(driver, "profile", "canada")
        parse_lines(driver, "\n".join(lines))
        want = [json.loads(l) for l in zarn_parse(["--format", "jsonl", "--profile", "canada"],
                                                  ("\n".join(lines) + "\n").encode()).splitlines()]
        for i in (0, 1, 499, 998, 999):
            parts, _ = row_parts(driver, i)
            check(parts.get("street", "") == want[i]["street"] and
                  parts.get("unit", "") == want[i]["unit"], f"row {i}: {parts} vs {want[i]}")
    with_page(run)


def case_errors(tmp):
    def run(driver, _server, _):
        parse_lines(driver, "1 " + "a" * 40000 + " St\n123 Main St. N")
        row = driver.find_element("css selector", '#results .row[data-row="0"]')
        check("32,767" in row.text, f"over-long line: {row.text[-200:]!r}")
        # Bytes that are not UTF-8, in a text file.
        path = os.path.join(tmp, "bad.txt")
        with open(path, "wb") as f:
            f.write(b"12 rue de l'\xc9glise\n123 Main St. N\n")
        by_id(driver, "tab-file").click()
        by_id(driver, "file").send_keys(path)
        wait(driver, lambda d: by_id(d, "file-parse").is_enabled(), "the file to load")
        by_id(driver, "file-parse").click()
        wait(driver, lambda d: d.find_elements("css selector", "#preview-table tbody tr"), "the preview")
        rows = driver.find_elements("css selector", "#preview-table tbody tr")
        check("UTF-8" in rows[0].text, f"invalid UTF-8 row: {rows[0].text!r}")
        check("Main" in rows[1].text and "UTF-8" not in rows[1].text, f"next row: {rows[1].text!r}")
    with_page(run)


def case_file(tmp):
    # 50,000 rows of real addresses, with a comma inside quotes here and there.
    with open(ARGS.samples, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f if l.strip()]
    path = os.path.join(tmp, "addresses.csv")
    with open(path, "w", encoding="utf-8", newline="") as f:
        w = csv.writer(f)
        w.writerow(["id", "address", "city"])
        for i in range(50000):
            w.writerow([i + 1, lines[i % len(lines)], "Montréal, QC" if i % 7 == 0 else "Winnipeg"])

    def run(driver, _server, downloads):
        select(driver, "profile", "canada")
        by_id(driver, "tab-file").click()
        by_id(driver, "file").send_keys(path)
        wait(driver, lambda d: by_id(d, "file-parse").is_enabled(), "the file to load")
        check(by_id(driver, "column").get_attribute("value") == "1", "the address column is not chosen")
        by_id(driver, "file-parse").click()
        wait(driver, lambda d: by_id(d, "download").is_displayed(), "the whole file", 240)
        check(int(float(by_id(driver, "progress").get_attribute("value"))) == 50000, "progress")
        by_id(driver, "download").click()
        target = os.path.join(downloads, "addresses-parsed.csv")
        wait(driver, lambda d: os.path.exists(target) and not os.path.exists(target + ".crdownload"),
             "the download")
        with open(target, encoding="utf-8", newline="") as f:
            got = list(csv.DictReader(f))
        with open(path, "rb") as f:
            want = list(csv.DictReader(io.StringIO(
                zarn_parse(["--csv", "--profile", "canada", "--flags"], f.read()).decode("utf-8"),
                newline="")))
        check(len(got) == len(want) == 50000, f"{len(got)} rows downloaded, {len(want)} from zarn-parse")
        parts = [k for k in got[0] if k not in ("id", "address", "city", "flags", "unplaced_words", "error")]
        check("street" in parts and "unit" in parts, f"downloaded columns {list(got[0])}")
        for i, (g, w) in enumerate(zip(got, want)):
            for k in parts:
                wk = w.get(k, w.get("number") if k == "street_number" else None)
                check(g[k] == wk, f"row {i + 1}, {k}: page {g[k]!r}, zarn-parse {wk!r}")
            check(g["id"] == w["id"] and g["city"] == w["city"], f"row {i + 1}: columns changed")
            check(g["flags"] == w["flags"] and g["unplaced_words"] == w["unplaced_words"],
                  f"row {i + 1}: flags {g['flags']!r} vs {w['flags']!r}")
            check(bool(g["error"]) == bool(w["error"]), f"row {i + 1}: error {g['error']!r} vs {w['error']!r}")
        # The flag counts shown agree with the file.
        counts = {}
        for w in want:
            for flag in filter(None, w["flags"].split(",")):
                counts[flag] = counts.get(flag, 0) + 1
        for flag, n in counts.items():
            cell = driver.find_element("css selector", f'#flag-table tr[data-flag="{flag}"] td')
            check(cell.text == str(n), f"flag {flag}: page {cell.text}, file {n}")
    with_page(run)


def case_screenshots(tmp):
    os.makedirs(ARGS.screenshots, exist_ok=True)
    lines = "5-123 rue Saint-Denis O., Montréal (Québec) H2X 3K8\nPO Box 4001 Stn A, Toronto ON  M5W 1A1"
    for name, width, height in (("desktop", 1280, 900), ("phone", 390, 844)):
        def run(driver, _server, _, name=name):
            select(driver, "profile", "canada")
            parse_lines(driver, lines)
            path = os.path.join(ARGS.screenshots, f"page-{name}.png")
            driver.save_screenshot(path)
            check(os.path.getsize(path) > 10000, f"screenshot {path}")
            print(f"screenshot: {path}")
            # At phone width nothing runs off the side.
            if name == "phone":
                scroll = driver.execute_script("return document.documentElement.scrollWidth")
                check(scroll <= width + 1, f"the page is {scroll}px wide at {width}px")
        with_page(run, width, height)


def case_french(tmp):
    def run(driver, _server, _):
        check(driver.execute_script("return document.documentElement.lang") == "fr", "lang")
        check(by_id(driver, "parse").text == "Analyser", f"button {by_id(driver, 'parse').text!r}")
        # Keyboard only: the tabs answer the arrow keys.
        from selenium.webdriver.common.keys import Keys
        by_id(driver, "tab-lines").send_keys(Keys.ARROW_RIGHT)
        check(by_id(driver, "panel-file").is_displayed(), "the arrow key does not change the tab")
        select(driver, "ui-lang", "en")
        check(by_id(driver, "parse").get_attribute("textContent") == "Parse",
              "the page does not switch to English")
    with_page(run, accept_language="fr-CA,fr;q=0.9,en;q=0.5")


CASES = {name[len("case_"):]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("--server", "--parser", "--samples", "--database", "--screenshots"):
        parser.add_argument(name)
    parser.add_argument("case", choices=sorted(CASES) + ["list"])
    ARGS = parser.parse_args()
    if ARGS.case == "list":
        print(";".join(sorted(CASES)), end="")
        return 0
    try:
        import selenium  # noqa: F401
        missing = [p for p in ("/usr/bin/chromium", "/usr/bin/chromedriver") if not os.path.exists(p)]
    except ImportError:
        missing = ["python3-selenium"]
    if missing:
        print(f"SKIPPED {ARGS.case}: not installed: {' '.join(missing)} (scripts/bootstrap)")
        return 1 if os.environ.get("CI") == "true" else SKIP
    with tempfile.TemporaryDirectory(prefix="zarn-page-") as tmp:
        try:
            CASES[ARGS.case](tmp)
        except Failure as e:
            print(f"FAILED {ARGS.case}: {e}", file=sys.stderr)
            return 1
    print(f"passed {ARGS.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

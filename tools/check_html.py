#!/usr/bin/env python3
"""Checks rook's -html report.

In every input mode (timeline_inputs.py) the page must hold one row and one
text report per record of the run: the reports, joined, must be the text
layout the same run wrote to standard output, and the rows' targets, times
and offsets those of the run's -json records.

Then the page of a corpus run, with shortcuts whose names and texts hold
markup, quotes and "&" added, is opened in headless Chromium (skipped with
a note when it is missing): the script runs and draws the chart; the table
holds one row per record (scrolled through whole); sorting by a time column
orders the rows; a range picked on the timeline keeps the records with a
time in it; the filter finds the hostile record, whose texts show as text
and open in its report, with no element or script of theirs in the page;
and the page asks for nothing but its own file.

usage: check_html.py --rook ROOK [--screenshot PNG] [--scratch DIR]
Exit status: 0 when everything holds, 1 otherwise.
"""
import argparse
import html
import json
import os
import re
import sys
import tempfile

import headless_chromium
import timeline_inputs

BLOCK = re.compile(rb'<script type="application/json" id="rook-(\w+)">(.*?)</script>', re.S)
HEADER = re.compile(rb'<pre id="run-header">(.*?)</pre>', re.S)
TIME_COLUMN = 4  # "Target modified"
TEXT_FIELDS = (0, 1, 2, 8, 9, 10, 11, 12, 17)
TOKEN = "pwn3d"
HOSTILE_FILE = "<img src=x onerror=alert(1)> & \"q\" 'a'.lnk"
HOSTILE_TARGET = "..\\</script><script>document.title='%s'</script> & \"%s\" <!--" % (TOKEN, TOKEN)
HOSTILE_NAME = "<img src=\"http://127.0.0.1:9/%s.png\" onerror=\"document.title='x'\">" % TOKEN


def read_page(path):
    data = open(path, "rb").read()
    blocks = {name.decode(): body for name, body in BLOCK.findall(data)}
    run = json.loads(blocks["run"])
    rows = json.loads(blocks["records"])
    # Texts that repeat the row above are 0, or [n, rest] for its first n
    # UTF-16 units and the rest.
    for above, row in zip(rows, rows[1:]):
        for field in TEXT_FIELDS:
            if row[field] == 0:
                row[field] = above[field]
            elif isinstance(row[field], list):
                units = above[field].encode("utf-16-le")[:2 * row[field][0]]
                row[field] = units.decode("utf-16-le") + row[field][1]
    lines, reports = [], []
    for report in json.loads(blocks["reports"]):
        text = []
        for item in report:
            if isinstance(item, str):
                lines.append(item)
                text.append(item)
            else:
                text.append(lines[item])
        reports.append("\n".join(text))
    header = html.unescape(HEADER.search(data).group(1).decode("utf-8"))
    return data, run, rows, reports, header


def short_time(iso):
    """The page's form of a -json time: no zone letter, no trailing zeros."""
    return re.sub(r"\.?0*Z$", "", iso) if iso else ""


def check_mode(rook, mode, scratch, problems):
    page = os.path.join(scratch, "report.html")
    label = f"{mode.name} ({' '.join(os.path.basename(a) for a in mode.args)})"
    status, text_out, err = timeline_inputs.run_rook(rook, mode.args + ["-codepage", "1252", "-html", page],
                                                     mode.stdin)
    if status != 0:
        problems.append(f"{label}: status {status}: {err[:300]!r}")
    data, run, rows, reports, header = read_page(page)
    _, json_out, _ = timeline_inputs.run_rook(rook, mode.args + ["-json"], mode.stdin)
    records = [json.loads(line) for line in json_out.decode("utf-8").splitlines()]
    if not (len(rows) == len(reports) == run["records"] == len(records)):
        problems.append(f"{label}: {len(rows)} rows, {len(reports)} reports, {run['records']} counted, "
                        f"{len(records)} records in -json")
    text = text_out.decode("utf-8", errors="replace")
    if mode.name == "file":
        # The same with the text layout going to -out instead.
        results = os.path.join(scratch, "results.txt")
        timeline_inputs.run_rook(rook, mode.args + ["-codepage", "1252", "-html", page, "-out", results], mode.stdin)
        data, run, rows, reports, header = read_page(page)
        text = open(results, encoding="utf-8", errors="replace").read()
    if not text.startswith(header) or "".join(reports) not in text[len(header):]:
        problems.append(f"{label}: the page's header and reports are not the text layout of the run")
    for number, (row, record) in enumerate(zip(rows, records), 1):
        target, source = record.get("target", {}), record["source"]
        want = [target.get("name", ""), short_time(target.get("modified")), short_time(target.get("accessed")),
                short_time(target.get("created")), source["offset"]]
        jump = record.get("jumplist", {})
        pin = "" if "pinned" not in jump else "yes, position %d" % jump["pin_position"] if jump["pinned"] else "no"
        want += [source.get("volume_path", ""), source.get("deleted", False), pin,
                 jump.get("access_count", "") if "pinned" in jump else ""]
        if [row[2], row[3], row[4], row[5], row[14]] + row[17:21] != want:
            problems.append(f"{label} record {number}: row {row} is not {want}")
            break
    if data.count(b"</script>") != 4 or b"<script>document" in data:
        problems.append(f"{label}: the page holds other scripts than its own four")
    print(f"{label}: {len(rows)} rows and reports, {len(data)} bytes")
    return len(rows)


# Scrolls the table from top to bottom and returns, in row order, the
# "#" cell and the cell of the given column of every row it rendered.
COLLECT_ROWS = """(async (column) => {
  const scroller = document.getElementById('grid-scroll');
  const frame = () => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
  const seen = new Map();
  scroller.scrollTop = 0;
  await frame();
  for (;;) {
    for (const tr of document.querySelectorAll('#grid tbody tr.record'))
      if (!tr.hidden) seen.set(Number(tr.getAttribute('aria-rowindex')), [tr.cells[0].textContent, tr.cells[column].textContent]);
    if (scroller.scrollTop + scroller.clientHeight >= scroller.scrollHeight - 1) break;
    scroller.scrollTop += scroller.clientHeight - 60;
    await frame();
  }
  return [...seen.entries()].sort((a, b) => a[0] - b[0]).map((entry) => [entry[0]].concat(entry[1]));
})(%d)"""

PAINTED = """(() => {
  const canvas = document.getElementById('chart');
  const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
  let painted = 0;
  for (let i = 3; i < pixels.length; i += 4) if (pixels[i]) painted++;
  return painted;
})()"""


def display_time(iso):
    return iso[:10] + " " + iso[11:19] if iso else ""


def set_value(page, element, value, event):
    page.evaluate("(() => { const e = document.getElementById(%s); e.value = %s; e.dispatchEvent(new Event(%s)); })()"
                  % (json.dumps(element), json.dumps(value), json.dumps(event)))


def check_in_browser(rook, corpus_mode, scratch, screenshot, problems):
    hostile = os.path.join(scratch, HOSTILE_FILE)
    with open(hostile, "wb") as out:
        out.write(timeline_inputs.shortcut_bytes(name=HOSTILE_NAME, relative_path=HOSTILE_TARGET,
                                                 times=(timeline_inputs.filetime(1500000000),) * 3))
    page_path = os.path.join(scratch, "corpus.html")
    status, _, err = timeline_inputs.run_rook(rook, ["-pipe", "-html", page_path, "-csv"],
                                              corpus_mode.stdin + hostile.encode() + b"\n")
    if status != 0:
        problems.append(f"corpus page: status {status}: {err[:300]!r}")
    _, _, rows, _, _ = read_page(page_path)
    count = len(rows)
    url = "file://" + os.path.abspath(page_path)
    with headless_chromium.Chromium() as browser:
        page = browser.open_page()
        page.navigate(url)
        if not page.wait_for("document.body && document.body.dataset.ready === 'true' && "
                             "document.readyState === 'complete'", 120):
            problems.append("browser: the page never became ready")
            return
        facts = page.evaluate("""({title: document.title, scripts: document.scripts.length,
            foreign: document.querySelectorAll('body img, body b, iframe, object, embed, link').length,
            rowcount: document.getElementById('grid').getAttribute('aria-rowcount'),
            counted: document.getElementById('record-count').textContent,
            events: document.getElementById('event-count').textContent})""")
        if facts["title"] != "rook report" or facts["scripts"] != 4 or facts["foreign"] != 0:
            problems.append(f"browser: evidence reached the markup: {facts}")
        if facts["rowcount"] != str(count + 1) or facts["counted"] != f"{count} records":
            problems.append(f"browser: the table does not count {count} records: {facts}")
        if page.evaluate(PAINTED) < 200 or "target and" not in facts["events"]:
            problems.append(f"browser: the chart was not drawn: {facts['events']}")

        if screenshot:
            page.screenshot(screenshot)
            print("screenshot:", screenshot)

        # Every row, scrolled through, in record order before any sort.
        listed = page.evaluate(COLLECT_ROWS % TIME_COLUMN, 300)
        if [int(number) for _, number, _ in listed] != list(range(1, count + 1)):
            problems.append(f"browser: scrolling the table shows {len(listed)} rows, not records 1 to {count}")
        page.evaluate("document.querySelector('#grid th[data-column=\"%d\"]').click()" % TIME_COLUMN)
        ordered = [cell for _, _, cell in page.evaluate(COLLECT_ROWS % TIME_COLUMN, 300)]
        expected = sorted(display_time(r[3]) for r in rows if r[3]) + [""] * sum(1 for r in rows if not r[3])
        if ordered != expected:
            problems.append("browser: sorting by target modified does not order the rows")
        page.evaluate("document.querySelector('#grid th[data-column=\"%d\"]').click()" % TIME_COLUMN)
        first = page.evaluate("document.querySelector('#grid tbody tr.record').cells[%d].textContent" % TIME_COLUMN)
        if first != max(display_time(r[3]) for r in rows):
            problems.append(f"browser: a second click does not sort descending: first row {first!r}")

        # A day on the timeline: the records with a target or MRU time that day.
        days = {}
        for row in rows:
            for day in set(row[15][0::2]):
                days[day] = days.get(day, 0) + 1
        busiest = max(days, key=days.get)
        day_text = page.evaluate("new Date(%d * 86400000).toISOString().slice(0, 10)" % busiest)
        set_value(page, "range-from", day_text, "change")
        set_value(page, "range-to", day_text, "change")
        zoomed = page.evaluate("document.getElementById('record-count').textContent")
        if not zoomed.startswith(f"{days[busiest]} of {count} records"):
            problems.append(f"browser: {day_text} should keep {days[busiest]} records: {zoomed!r}")
        page.evaluate("document.getElementById('range-reset').click()")

        # The hostile record: found by the filter, its texts shown as text.
        set_value(page, "filter", TOKEN, "input")
        page.wait_for("document.getElementById('record-count').textContent.startsWith('1 of')", 10)
        cells = page.evaluate("[...document.querySelector('#grid tbody tr.record').cells].map((c) => c.textContent)")
        if cells[1] != hostile or cells[3] != HOSTILE_TARGET:
            problems.append(f"browser: the hostile record shows as {cells[:4]}")
        page.evaluate("document.querySelector('#grid tbody tr.record').click()")
        report = page.evaluate("document.getElementById('report-text').textContent")
        if HOSTILE_NAME not in report or HOSTILE_TARGET not in report or hostile not in report:
            problems.append(f"browser: the report does not show the hostile texts: {report[:300]!r}")
        again = page.evaluate("({title: document.title, scripts: document.scripts.length, "
                              "foreign: document.querySelectorAll('body img, body b, iframe').length})")
        if again != {"title": "rook report", "scripts": 4, "foreign": 0}:
            problems.append(f"browser: opening the hostile report changed the page: {again}")
        page.evaluate("document.getElementById('report-close').click()")
        set_value(page, "filter", "", "input")
        page.wait_for("document.getElementById('record-count').textContent === '%d records'" % count, 10)

        # Chromium's own controls may draw from data: URLs; nothing else may load.
        requested = [e["request"]["url"] for e in page.events("Network.requestWillBeSent")]
        leaving = [u for u in requested if u != url and not u.startswith("data:")]
        if leaving or url not in requested:
            problems.append(f"browser: the page asked for {leaving or requested}")
    print(f"browser: {count} rows rendered, sorted, zoomed and filtered; {len(requested)} requests")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rook", required=True)
    parser.add_argument("--screenshot")
    parser.add_argument("--scratch")
    args = parser.parse_args()
    problems, notes = [], []
    browsed = False
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        modes = timeline_inputs.modes(scratch, notes)
        rows = sum(check_mode(args.rook, mode, scratch, problems) for mode in modes)
        corpus = [m for m in modes if m.name == "pipe"]
        if not headless_chromium.chromium_binary():
            notes.append("chromium missing (Debian package chromium): the page was not opened in a browser")
        elif not corpus:
            notes.append("corpus absent: the page was not opened in a browser")
        else:
            check_in_browser(args.rook, corpus[0], scratch, args.screenshot, problems)
            browsed = True
    for note in notes:
        print("note:", note)
    for problem in problems[:50]:
        print(problem)
    print(f"{rows} rows checked, {len(problems)} problems")
    if problems or rows == 0:
        return 1
    # Skipped (for CTest) when the browser half could not run.
    return 0 if browsed else 77


if __name__ == "__main__":
    sys.exit(main())

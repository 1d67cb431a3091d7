#!/usr/bin/env python3
"""How soon the live page shows each writer's record.

Watches the writers' logs (one `R ...` line per record, written once the tutor has said the record
is written) and the page of `classnotes-review --live` (one row per session: the student's name,
and the records so far), every 0.1 s, until every record a writer logged is on the page or the time
is up. Prints, per writer, when the page caught up with each record, and fails when a row is
missing or a record took longer than the limit to show.

  live_probe.py LOGS PAGE WRITERS SECONDS [LIMIT]
"""
import glob
import os
import re
import sys
import time

logs, page, writers, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
limit = float(sys.argv[5]) if len(sys.argv) > 5 else 5.0
done_marker = os.path.join(logs, "..", "writers-done")
row = re.compile(rb'<tr[^>]*><td>Writer (\d+)</td>.*?<td class="n">(\d+)</td><td class="n since">')

logged = {}  # (writer, k) -> when the writer logged its k-th record
shown = {}   # (writer, k) -> when the page first showed k records of it
counts = {}
rows = set()
start = time.monotonic()
while time.monotonic() - start < seconds:
    now = time.monotonic()
    for path in glob.glob(os.path.join(logs, "w*-r0.log")):
        w = int(re.match(r"w(\d+)-", os.path.basename(path)).group(1))
        try:
            with open(path, "rb") as f:
                n = sum(1 for line in f if line.startswith(b"R ") and line.endswith(b"\n"))
        except OSError:
            continue
        for k in range(counts.get(w, 0) + 1, n + 1):
            logged[(w, k)] = now
        counts[w] = max(counts.get(w, 0), n)
    try:
        with open(page, "rb") as f:
            text = f.read()
    except OSError:
        text = b""
    for m in row.finditer(text):
        w, n = int(m.group(1)), int(m.group(2))
        rows.add(w)
        for k in range(1, n + 1):
            shown.setdefault((w, k), now)
    finished = os.path.exists(done_marker)
    if finished and logged and all(key in shown for key in logged):
        break
    time.sleep(0.1)

delays = sorted(max(0.0, shown[key] - logged[key]) for key in logged if key in shown)
missing = [key for key in logged if key not in shown]
ok = len(rows) == writers and not missing and delays and delays[-1] <= limit
print("  live page: rows %d of %d writers; %d records logged, %d shown" % (len(rows), writers, len(logged),
                                                                           len(logged) - len(missing)))
if delays:
    print("  from a writer's record to the page showing it: median %.2f s, p90 %.2f s, longest %.2f s (limit %.0f s)"
          % (delays[len(delays) // 2], delays[int(len(delays) * 0.9)], delays[-1], limit))
for w in sorted(set(k[0] for k in logged)):
    mine = sorted(max(0.0, shown[k] - logged[k]) for k in logged if k[0] == w and k in shown)
    if mine:
        print("    Writer %d: %d records, longest %.2f s" % (w, len(mine), mine[-1]))
if missing:
    print("  never shown: %s" % ", ".join("Writer %d record %d" % k for k in sorted(missing)[:10]))
sys.exit(0 if ok else 1)

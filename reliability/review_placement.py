#!/usr/bin/env python3
"""Whose record is whose, as the instructor's program reads a stress run's folder back.

Runs `classnotes-review --csv` on the folder and checks every row that carries a writer's stamp
("@@ w=W r=R ..."): its name is that writer's ("Writer W"), all rows of one writer's run share
one session and no other run shares it (the notes file, which holds no headers, has none), the computer is the one the writer ran on (W mod the
number of computers given), and `seconds` counts from the same run's record before in that file.
Then reads a copy without the session index and expects the count of records placed by order
only on standard error.
  review_placement.py REVIEW FOLDER [HOST_OF_WRITERS_0_MOD_N HOST_OF_WRITERS_1_MOD_N ...]
Exit 0 when every row is placed right.
"""

import csv
import io
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

STAMP = re.compile(r"@@ w=(\d+) r=(\d+) s=(\d+)")


def seconds_of(hms):
    h, m, s = (int(x) for x in hms.split(":"))
    return h * 3600 + m * 60 + s


def review(program, folder):
    done = subprocess.run([program, "--csv", str(folder)], capture_output=True, timeout=600)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        return 2
    program, folder = sys.argv[1], Path(sys.argv[2])
    hosts = sys.argv[3:]
    code, out, err = review(program, folder)
    rows = list(csv.DictReader(io.StringIO(out, newline="")))
    problems = []
    if code != 0:
        problems.append(f"classnotes-review exited with {code}: {err.strip()[:300]}")
    session_of = {}  # (file, writer, run) -> session
    run_of = {}  # (file, session) -> (writer, run)
    last_time = {}  # (file, writer, run) -> time of the record before
    stamped = 0
    for row in rows:
        m = STAMP.search(row["text"])
        if not m:
            continue
        stamped += 1
        w, r = int(m.group(1)), int(m.group(2))
        where = f'{Path(row["file"]).name} w{w} r{r} s{m.group(3)}'
        if row["name"] != f"Writer {w}":
            problems.append(f'{where}: named "{row["name"]}"')
        if hosts and row["computer"] != hosts[w % len(hosts)]:
            problems.append(f'{where}: on computer "{row["computer"]}", not {hosts[w % len(hosts)]}')
        key = (row["file"], w, r)
        # The notes file holds no session headers: there the name and computer place a note.
        if not row["session"] and Path(row["file"]).name.startswith("notes"):
            pass
        elif session_of.setdefault(key, row["session"]) != row["session"]:
            problems.append(f'{where}: in session {row["session"]}, its run is in {session_of[key]}')
        elif run_of.setdefault((row["file"], row["session"]), (w, r)) != (w, r):
            problems.append(f'{where}: session {row["session"]} also holds w{run_of[(row["file"], row["session"])]}')
        now = seconds_of(row["time"])
        if key in last_time:
            want = (now - last_time[key]) % 86400
            if row["seconds"] != str(want):
                problems.append(f'{where}: seconds {row["seconds"]}, {want} since its run\'s record before')
        last_time[key] = now
    print(f"review_placement: {len(rows)} rows, {stamped} stamped, "
          f"{len(session_of)} writer runs over the files, {len(problems)} misplaced")

    with tempfile.TemporaryDirectory() as bare:
        for f in folder.glob("*.txt"):
            shutil.copy(f, bare)
        _, _, err = review(program, bare)
        order = re.search(r"[\d,]+ records? placed in sessions by their order in the file only", err)
        said = order.group(0) if order else None
        print(f"review_placement: without the index: {said or 'no word of records placed by order'}")
        if not said:
            problems.append("without the index, standard error does not say how many records were placed by order")
    for p in problems[:20]:
        print("  " + p)
    return 1 if problems or stamped == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

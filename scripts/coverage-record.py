#!/usr/bin/env python3
"""Records what one test run reached, from the gcov data the runs so far have summed up.

Usage: coverage-record.py BUILD_DIR SNAPSHOT [RECORD.json]
Reads every object's gcov data under BUILD_DIR (none yet: nothing reached), keeps the lines of src/ and tools/, and writes to
RECORD.json the lines and branches whose counts grew since SNAPSHOT was taken (in gcovr's JSON
shape, so that coverage-unique.py reads either); then SNAPSHOT holds the counts of now. Without
RECORD.json it only takes the snapshot. Far quicker than a gcovr run per test, and the data keep
summing up, so one gcovr run at the end still sees the whole suite.
"""
import json
import os
import subprocess
import sys

ROOTS = ("src/", "tools/")


def counts(build, every):
    """The counts of every object (`every`), or of those that ran since the data were reset."""
    gcdas = []
    for folder, dirs, files in os.walk(build):
        dirs[:] = [d for d in dirs if not d[0].isdigit()]  # CMake's compiler checks
        gcdas += [os.path.abspath(os.path.join(folder, f)) for f in files
                  if f.endswith(".gcno") and (every or f[:-5] + ".gcda" in files)]
    now = {}
    root = os.path.dirname(os.path.abspath(build))
    for i in range(0, len(gcdas), 200):
        out = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities"] + gcdas[i:i + 200],
                             cwd=build, capture_output=True, text=True).stdout
        for doc in out.splitlines():
            if not doc.startswith("{"):
                continue
            data = json.loads(doc)
            cwd = data.get("current_working_directory", build)
            for entry in data["files"]:
                path = os.path.relpath(os.path.normpath(os.path.join(cwd, entry["file"])), root)
                if not path.startswith(ROOTS):
                    continue
                for line in entry["lines"]:
                    key = f"{path}:{line['line_number']}"
                    branches = [b["count"] for b in line["branches"] if not b.get("throw")]
                    had = now.get(key)
                    if had is None:
                        now[key] = [line["count"], branches]
                    else:  # a header's line in several objects: the sum of them
                        had[0] += line["count"]
                        if len(had[1]) == len(branches):
                            had[1] = [a + b for a, b in zip(had[1], branches)]
    return now


def main():
    build, snapshot = sys.argv[1], sys.argv[2]
    before = {}
    if os.path.exists(snapshot):
        with open(snapshot) as f:
            before = json.load(f)
    # The first snapshot knows every line, reached or not: what the summaries count against.
    now = counts(build, not before)
    if len(sys.argv) > 3:
        files = {}
        for key, (count, branches) in now.items():
            old_count, old_branches = before.get(key, [0, [0] * len(branches)])
            if len(old_branches) != len(branches):
                old_branches = [0] * len(branches)
            grown = [b - a for a, b in zip(old_branches, branches)]
            if count > old_count or any(g > 0 for g in grown):
                path, line = key.rsplit(":", 1)
                files.setdefault(path, []).append(
                    {"line_number": int(line), "count": count - old_count,
                     "branches": [{"count": g} for g in grown]})
        with open(sys.argv[3], "w") as f:
            json.dump({"files": [{"file": p, "lines": l} for p, l in sorted(files.items())]}, f)
    before.update(now)
    with open(snapshot, "w") as f:
        json.dump(before, f)


if __name__ == "__main__":
    main()

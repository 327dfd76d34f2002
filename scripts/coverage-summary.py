#!/usr/bin/env python3
"""Sums coverage per folder: lines and branches reached, and a total for src/ and tools/.

Usage: coverage-summary.py gcovr.json [summary.json]   (prints the table, writes the JSON)
       coverage-summary.py --records DIR SNAPSHOT [summary.json]
The second form counts what the runs recorded in DIR (coverage-record.py) reach together, against
every line and branch the snapshot knows.
"""
import glob
import json
import os
import sys


def from_records(folder, snapshot):
    """A gcovr-shaped report of the union of the records, over the snapshot's lines."""
    reached, branches_reached = set(), set()
    for path in glob.glob(folder + "/*.json"):
        with open(path) as f:
            for entry in json.load(f)["files"]:
                for line in entry["lines"]:
                    key = f"{entry['file']}:{line['line_number']}"
                    if line["count"] > 0:
                        reached.add(key)
                    for i, b in enumerate(line.get("branches", [])):
                        if b["count"] > 0:
                            branches_reached.add((key, i))
    with open(snapshot) as f:
        every = json.load(f)
    files = {}
    for key, (_, branches) in every.items():
        path, number = key.rsplit(":", 1)
        files.setdefault(path, []).append(
            {"line_number": int(number), "count": int(key in reached),
             "branches": [{"count": int((key, i) in branches_reached)}
                          for i in range(len(branches))]})
    return {"files": [{"file": p, "lines": l} for p, l in files.items()]}


def main():
    args = sys.argv[1:]
    if args[0] == "--records":
        report = from_records(args[1], args[2])
        args = args[3:]
    else:
        with open(args[0]) as f:
            report = json.load(f)
        args = args[1:]
    folders = {}

    def add(name, lines, lines_hit, branches, branches_hit):
        s = folders.setdefault(name, [0, 0, 0, 0])
        s[0] += lines
        s[1] += lines_hit
        s[2] += branches
        s[3] += branches_hit

    for entry in report["files"]:
        path = entry["file"]
        code = [l for l in entry["lines"] if not l.get("gcovr/noncode")]
        branches = [b for l in code for b in l.get("branches", [])]
        figures = (len(code), sum(1 for l in code if l["count"] > 0),
                   len(branches), sum(1 for b in branches if b["count"] > 0))
        add(os.path.dirname(path), *figures)
        top = path.split("/")[0]
        add(top + " (all)", *figures)

    rows = []
    print(f"{'folder':<22} {'lines':>14} {'line %':>7} {'branches':>14} {'branch %':>8}")
    for name in sorted(folders):
        lines, lhit, br, bhit = folders[name]
        lp = 100.0 * lhit / lines if lines else 100.0
        bp = 100.0 * bhit / br if br else 100.0
        rows.append({"folder": name, "lines": lines, "lines_covered": lhit, "line_percent":
                     round(lp, 1), "branches": br, "branches_covered": bhit,
                     "branch_percent": round(bp, 1)})
        print(f"{name:<22} {lhit:>6}/{lines:<7} {lp:>6.1f}% {bhit:>6}/{br:<7} {bp:>7.1f}%")
    if args:
        with open(args[0], "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Sums a gcovr JSON report per folder: lines and branches reached, and a total for src/.

Usage: coverage-summary.py gcovr.json [summary.json]   (prints the table, writes the JSON)
"""
import json
import os
import sys


def main():
    with open(sys.argv[1]) as f:
        report = json.load(f)
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
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()

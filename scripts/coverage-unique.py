#!/usr/bin/env python3
"""Lists, for each test suite (or test function) recorded by `scripts/coverage.sh --per-suite` or
`--per-function`, the source lines that no other recorded run reaches. A run with no such lines
adds nothing to coverage: it stays only if it guards a fault the others would miss.

Usage: coverage-unique.py [--lines] [--only NAME...] [build-coverage/per-test]
  --lines      print the unique lines themselves (file:line), not just counts per file
  --only NAME  compare all runs but report only those whose name starts with NAME
Runs of test functions (<suite>.<function>.json) are compared with each other and with every
other suite's run, never with their own suite's whole run.
"""
import glob
import json
import os
import sys
from collections import defaultdict


def covered(path):
    with open(path) as f:
        report = json.load(f)
    hit = set()
    for entry in report["files"]:
        for line in entry["lines"]:
            if line["count"] > 0 and not line.get("gcovr/noncode"):
                hit.add((entry["file"], line["line_number"]))
    return hit


def main():
    args = sys.argv[1:]
    show_lines = "--lines" in args
    args = [a for a in args if a != "--lines"]
    only = []
    if "--only" in args:
        i = args.index("--only")
        only = args[i + 1:]
        args = args[:i]
    folder = args[0] if args else "build-coverage/per-test"
    runs = {os.path.basename(p)[:-5]: covered(p) for p in sorted(glob.glob(folder + "/*.json"))}
    split = {n.split(".")[0] for n in runs if "." in n}
    # A suite broken into its functions is represented by the functions alone.
    runs = {n: hit for n, hit in runs.items() if n not in split}
    reach = defaultdict(int)
    for hit in runs.values():
        for key in hit:
            reach[key] += 1
    total = set(reach)
    print(f"{len(runs)} runs reach {len(total)} lines together")
    for name, hit in sorted(runs.items()):
        if only and not any(name.startswith(o) for o in only):
            continue
        unique = sorted(k for k in hit if reach[k] == 1)
        print(f"{name}: {len(hit)} lines, {len(unique)} only here")
        per_file = defaultdict(list)
        for file, line in unique:
            per_file[file].append(line)
        for file, lines in sorted(per_file.items()):
            if show_lines:
                print(f"    {file}: {', '.join(map(str, lines))}")
            else:
                print(f"    {file}: {len(lines)}")


if __name__ == "__main__":
    main()

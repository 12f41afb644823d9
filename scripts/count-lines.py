#!/usr/bin/env python3
"""Counts the lines of code and of tests: non-blank lines that are not comments only.

Usage: count-lines.py [--max-test-share PERCENT] [ROOT]

Prints the lines of each folder under src/, tools/ and tests/, the totals, and the share
of tests/ in all three together. With --max-test-share, exits 1 when the share is above it.
"""
import os
import re
import sys

C_LIKE = {".c", ".cc", ".cpp", ".h", ".hpp"}
HASH_COMMENTS = {".sh", ".txt", ".cmake", ".supp", ".py", ".map", ""}


def counted_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    ext = os.path.splitext(path)[1]
    if ext in C_LIKE:
        # Block comments become blank lines; then line comments and blank lines drop out.
        text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
        comment = "//"
    elif ext in HASH_COMMENTS:
        comment = "#"
    else:
        comment = None
    count = 0
    for line in text.split("\n"):
        s = line.strip()
        if s and not (comment and s.startswith(comment)):
            count += 1
    return count


def folder_lines(folder):
    total = 0
    for directory, _, files in os.walk(folder):
        for name in files:
            total += counted_lines(os.path.join(directory, name))
    return total


def main(argv):
    limit = None
    if len(argv) >= 2 and argv[0] == "--max-test-share":
        limit = float(argv[1])
        argv = argv[2:]
    root = argv[0] if argv else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    totals = {}
    for top in ("src", "tools", "tests"):
        base = os.path.join(root, top)
        totals[top] = 0
        for name in sorted(os.listdir(base)):
            path = os.path.join(base, name)
            lines = folder_lines(path) if os.path.isdir(path) else counted_lines(path)
            totals[top] += lines
            print(f"{top}/{name:<24} {lines:6}")
    all_lines = sum(totals.values())
    share = 100.0 * totals["tests"] / all_lines
    print(f"code (src/ + tools/) {totals['src'] + totals['tools']:6}")
    print(f"tests/               {totals['tests']:6}")
    print(f"tests share          {share:5.1f}%")
    if limit is not None and share > limit:
        print(f"tests are above {limit:g}% of the lines")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

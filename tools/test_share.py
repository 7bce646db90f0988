#!/usr/bin/env python3
"""Prints how much of the code is test code: lines in tests/ (C++, headers,
Python and shell, fuzz targets and builders included) against the program's
C++ everywhere else (tools/, bench/ and build folders left out). Exits 1 when
the tests are more than a third of the two together.

  tools/test_share.py [--no-fail] [repository]
"""

import os
import sys

TEST_SUFFIXES = (".cpp", ".h", ".py", ".sh")
PROGRAM_SUFFIXES = (".cpp", ".h")
LEFT_OUT = {"tests", "tools", "bench", ".git"}


def count_lines(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def tally(top, suffixes, skip_top_level):
    total = 0
    for root, dirs, files in os.walk(top):
        if skip_top_level and root == top:
            dirs[:] = [d for d in dirs if d not in LEFT_OUT and not d.startswith("build")]
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        total += sum(count_lines(os.path.join(root, f)) for f in files if f.endswith(suffixes))
    return total


def main(argv):
    fail = "--no-fail" not in argv
    rest = [a for a in argv if a != "--no-fail"]
    top = os.path.abspath(rest[0] if rest else os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    tests = tally(os.path.join(top, "tests"), TEST_SUFFIXES, False)
    program = tally(top, PROGRAM_SUFFIXES, True)
    share = tests / (tests + program) if tests + program else 0.0
    over = 3 * tests > tests + program
    print("test share: %d test lines, %d program lines: %.1f%% of all code (at most 33.3%%)%s" %
          (tests, program, 100 * share, ", too much" if over else ""))
    return 1 if over and fail else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

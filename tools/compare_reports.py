#!/usr/bin/env python3
"""Compares what the Linux and the Windows build wrote for the same run.

    compare_reports.py LINUX_OUT WINDOWS_OUT [LINUX_ERR WINDOWS_ERR]

Windows' text mode turns each "\\n" into "\\r\\n"; that is undone first. The
run header (up to its first empty line) and the input file's own times
(which the two systems keep differently) are masked. Prints one summary line
and, on a difference, the first differing lines; exits 1 when they differ.
"""
import re
import sys

SOURCE_TIME_LINE = re.compile(r"^(file (?:modified|accessed|created):\s*).*$")
CSV_HEADER_START = "source path/filename,"
# Wine runs every program as an administrator; a Linux run need not be root.
ADMIN_NOTICE = "... running w/o admin privileges ..."
SOURCE_TIME_COLUMNS = ("file mdate", "file adate", "file cdate")


def read(path, from_windows):
    with open(path, "rb") as f:
        data = f.read()
    if from_windows:
        data = data.replace(b"\r\n", b"\n")
    return data.decode("utf-8", errors="surrogateescape")


def without_run_header(lines):
    return lines[lines.index("") + 1:] if "" in lines else lines


def masked(lines):
    out = []
    masked_columns = set()
    for line in lines:
        if line.startswith(CSV_HEADER_START):
            fields = line.split(",")
            masked_columns = set()
            for i, name in enumerate(fields):
                if name in SOURCE_TIME_COLUMNS:
                    masked_columns.update({i, i + 1})  # the date and its time column
        elif masked_columns and "," in line:
            fields = line.split(",")
            line = ",".join("<source time>" if i in masked_columns else f for i, f in enumerate(fields))
        out.append(SOURCE_TIME_LINE.sub(r"\1<source time>", line))
    return out


def compare(label, linux, windows):
    if linux == windows:
        return True
    for i, (a, b) in enumerate(zip(linux, windows)):
        if a != b:
            print(f"  {label} line {i + 1} differs:\n    linux:   {a!r}\n    windows: {b!r}")
            break
    else:
        print(f"  {label}: linux has {len(linux)} lines, windows {len(windows)}")
    return False


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    linux = masked(without_run_header(read(sys.argv[1], False).split("\n")))
    windows = masked(without_run_header(read(sys.argv[2], True).split("\n")))
    same = compare("output", linux, windows)
    if len(sys.argv) == 5:
        errors = [[line for line in read(path, from_windows).split("\n") if line != ADMIN_NOTICE]
                  for path, from_windows in ((sys.argv[3], False), (sys.argv[4], True))]
        same = compare("errors", errors[0], errors[1]) and same
    print(f"{'same' if same else 'DIFFERENT'}: {len(linux)} lines")
    sys.exit(0 if same else 1)


if __name__ == "__main__":
    main()

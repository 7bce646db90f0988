#!/usr/bin/env python3
"""Runs two builds of rook over the same inputs in every layout and reports
every output that differs, with only the run-time lines masked.

usage: compare_outputs.py OLD_ROOK NEW_ROOK [--corpus DIR] [--scratch DIR] [--stdout-only]

Inputs: every file under the corpus's lnk/, jumplists/ and fragments/
folders (text, -csv, -csvl2t, -bodyfile, -idltimes, and -csv -deepscan for
jump lists), -pipe over the corpus list in each layout, -rawscan over a
planted blob and over every corpus image that unpacks to a raw file.
"""
import argparse
import gzip
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

MASKS = [re.compile(rb"^run time:.*$", re.M), re.compile(rb"^command:.*$", re.M),
         re.compile(rb"^[0-9.]+ secs \s*$", re.M)]
LAYOUTS = [[], ["-csv"], ["-csvl2t"], ["-bodyfile"], ["-idltimes"]]


def masked(data):
    for mask in MASKS:
        data = mask.sub(b"<masked>", data)
    return data


def run(binary, args, stdin=None):
    done = subprocess.run([binary] + args, input=stdin, capture_output=True, timeout=600)
    return masked(done.stdout), masked(done.stderr), done.returncode


class Comparison:
    def __init__(self, old, new, stdout_only=False):
        self.old, self.new = old, new
        self.stdout_only = stdout_only
        self.compared = 0
        self.differences = []

    def check(self, args, stdin=None, label=None):
        self.compared += 1
        a = run(self.old, args, stdin)
        b = run(self.new, args, stdin)
        if self.stdout_only:
            a, b = (a[0], b"", a[2]), (b[0], b"", b[2])
        if a != b:
            self.differences.append((label or " ".join(args), a, b))


def corpus_files(corpus):
    for folder in ("lnk", "jumplists", "fragments"):
        top = os.path.join(corpus, folder)
        for root, _, names in os.walk(top):
            for name in sorted(names):
                yield os.path.join(root, name)


def planted_blob(path):
    rng = random.Random(7)
    sample = open(os.path.join(os.path.dirname(__file__), "..", "tests", "data", "sample.lnk"), "rb").read()
    blob = bytearray(rng.randbytes(4 << 20))
    for i, at in enumerate(range(4096, len(blob) - 8192, 131072)):
        at += (i * 37) % 512 if i % 3 else 0  # aligned, unaligned, chunk-straddling
        if i % 5 == 4:
            at = (at // 65536 + 1) * 65536 - 200
        blob[at:at + len(sample)] = sample
    open(path, "wb").write(blob)


def raw_images(corpus, scratch):
    images = os.path.join(corpus, "images")
    for root, _, names in os.walk(images):
        for name in sorted(names):
            path = os.path.join(root, name)
            out = os.path.join(scratch, name)
            if name.endswith(".qcow2") and shutil.which("qemu-img"):
                out += ".raw"
                subprocess.run(["qemu-img", "convert", "-O", "raw", path, out], check=True)
                yield out
            elif name.endswith(".raw.gz"):
                with gzip.open(path) as src, open(out[:-3], "wb") as dst:
                    shutil.copyfileobj(src, dst)
                yield out[:-3]
            elif name.endswith(".raw") or name.endswith(".vmdk") or name.endswith(".mft"):
                yield path


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--scratch")
    parser.add_argument("--show", type=int, default=5, help="differences to print in full")
    parser.add_argument("--stdout-only", action="store_true",
                        help="compare results and exit status, not standard error")
    args = parser.parse_args()
    old, new = os.path.abspath(args.old), os.path.abspath(args.new)
    scratch = args.scratch or tempfile.mkdtemp(prefix="rook_compare_")
    cmp = Comparison(old, new, args.stdout_only)

    files = list(corpus_files(args.corpus))
    for path in files:
        for layout in LAYOUTS:
            cmp.check([path] + layout)
        if "jumplists" in path:
            cmp.check([path, "-csv", "-deepscan"])
    listing = "".join(f + "\n" for f in files).encode()
    for layout in LAYOUTS:
        cmp.check(["-pipe"] + layout, stdin=listing, label="-pipe " + " ".join(layout))

    blob = os.path.join(scratch, "planted.bin")
    planted_blob(blob)
    for layout in LAYOUTS:
        cmp.check([blob, "-rawscan"] + layout)
    cmp.check([blob, "-deepscan", "-csv"])
    for image in raw_images(args.corpus, scratch):
        cmp.check([image, "-rawscan", "-csv"])
        cmp.check([image, "-rawscan"])

    for label, a, b in cmp.differences[: args.show]:
        print(f"DIFFERS: {label}")
        for name, x, y in (("stdout", a[0], b[0]), ("stderr", a[1], b[1])):
            if x != y:
                xl, yl = x.splitlines(), y.splitlines()
                for i in range(max(len(xl), len(yl))):
                    p = xl[i] if i < len(xl) else b"<none>"
                    q = yl[i] if i < len(yl) else b"<none>"
                    if p != q:
                        print(f"  {name} line {i + 1}:\n    old: {p[:300]!r}\n    new: {q[:300]!r}")
                        break
        if a[2] != b[2]:
            print(f"  status: old {a[2]} new {b[2]}")
    for label, _, _ in cmp.differences[args.show:]:
        print(f"DIFFERS: {label}")
    print(f"files compared: {len(files)}, runs compared: {cmp.compared}, differences: {len(cmp.differences)}")
    if not args.scratch:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if cmp.differences else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs two builds of rook over the same inputs in every layout and reports
every output that differs, with only the run-time lines masked.

usage: compare_outputs.py OLD_ROOK NEW_ROOK [--corpus DIR] [--scratch DIR]
                          [--images DIR] [--stdout-only]

Inputs: every file under the corpus's lnk/, jumplists/ and fragments/
folders (text, -csv, -csvl2t, -bodyfile, -json, -idltimes, and -csv
-deepscan for jump lists), -pipe over the corpus list in each layout and
with -rawscan, -rawscan over a planted blob. Every corpus image (unpacked
into the scratch folder, or taken from --images where a raw copy already
lies): -ntfs_scan without an offset and at each NTFS partition either build
lists, in each layout; the cluster passes and -vss all; -rawscan of the
smaller ones; the VMware disks through -vmdk. With ntfscp, a copy of
windows_volume with every corpus jump list and a third of the shortcuts
copied in, -ntfs_scan in each layout.
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
LAYOUTS = [[], ["-csv"], ["-csvl2t"], ["-bodyfile"], ["-json"], ["-idltimes"]]
# Whole-volume passes and carving read every byte: only volumes up to this.
PASSES_LIMIT = 6 << 30
RAWSCAN_LIMIT = 1100 << 20
NTFS_LINE = re.compile(rb"^volume offset \[ (0x[0-9a-f]+) \] : ntfs", re.M)


def masked(data):
    for mask in MASKS:
        data = mask.sub(b"<masked>", data)
    return data


def touch_read(path):
    """Reads a byte: the first read of a file after it was copied moves its
    access time, which the reports show, so it must not be the old build's."""
    with open(path, "rb") as f:
        f.read(1)


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


def raw_images(corpus, scratch, unpacked=None):
    """Each corpus image as a file rook reads: raw copies from unpacked
    when it holds them, else converted or unpacked into scratch."""
    images = os.path.join(corpus, "images")
    for root, _, names in os.walk(images):
        for name in sorted(names):
            path = os.path.join(root, name)
            stem = name
            for suffix in (".qcow2", ".gz", ".tgz", ".tar.gz"):
                if stem.endswith(suffix):
                    stem = stem[: -len(suffix)]
            if name.endswith(".qcow2"):
                stem += ".raw"
            if name.endswith((".tgz", ".tar.gz")):
                listed = subprocess.run(["tar", "-tf", path], capture_output=True, check=True).stdout
                stem = listed.decode().splitlines()[0]
            if unpacked and os.path.exists(os.path.join(unpacked, stem)):
                yield os.path.join(unpacked, stem)
            elif name.endswith(".qcow2") and shutil.which("qemu-img"):
                out = os.path.join(scratch, stem)
                subprocess.run(["qemu-img", "convert", "-O", "raw", path, out], check=True)
                yield out
            elif name.endswith(".raw.gz"):
                with gzip.open(path) as src, open(os.path.join(scratch, stem), "wb") as dst:
                    shutil.copyfileobj(src, dst)
                yield os.path.join(scratch, stem)
            elif name.endswith((".tgz", ".tar.gz")):
                subprocess.run(["tar", "-xf", path, "-C", scratch], check=True)
                yield os.path.join(scratch, stem)
            elif name.endswith((".raw", ".vmdk", ".mft")):
                yield path


def ntfs_offsets(cmp, image):
    """The NTFS partitions either build lists for a disk image."""
    offsets = set()
    for binary in (cmp.old, cmp.new):
        offsets.update(m.decode() for m in NTFS_LINE.findall(run(binary, [image, "-ntfs_scan", "-quiet"])[1]))
    return sorted(offsets, key=lambda o: int(o, 16))


def check_image(cmp, image):
    size = os.path.getsize(image)
    cmp.check([image, "-ntfs_scan"])
    starts = [["-offset", o] for o in ntfs_offsets(cmp, image)] or [[]]
    if image.endswith(".vmdk"):
        starts = [[]]
    for start in starts:
        for layout in LAYOUTS:
            cmp.check([image, "-ntfs_scan"] + start + layout)
        if size <= PASSES_LIMIT:
            passes = ["-include_unalloc_clusters", "-include_vss_clusters", "-include_pagefile_clusters"]
            cmp.check([image, "-ntfs_scan"] + start + passes)
            cmp.check([image, "-ntfs_scan"] + start + passes + ["-json"])
        cmp.check([image, "-vss", "all"] + start)
        cmp.check([image, "-vss", "all", "-json"] + start)
    if size <= RAWSCAN_LIMIT:
        cmp.check([image, "-rawscan", "-csv"])
        cmp.check([image, "-rawscan"])
    if image.endswith(".vmdk"):
        cmp.check(["-vmdk", image])
        cmp.check(["-vmdk", image, "-rawscan"])
        cmp.check(["-vmdk", image, "-rawscan", "-json"])


def planted_volume(corpus, image, scratch):
    """A copy of the volume image with every corpus jump list and a third of
    the corpus shortcuts copied in; None without ntfscp."""
    if not shutil.which("ntfscp"):
        return None
    volume = os.path.join(scratch, "planted_volume.raw")
    shutil.copyfile(image, volume)
    files = sorted(os.path.join(r, n) for r, _, ns in os.walk(os.path.join(corpus, "jumplists")) for n in ns)
    files += sorted(os.path.join(r, n) for r, _, ns in os.walk(os.path.join(corpus, "lnk")) for n in ns)[::3]
    for i, path in enumerate(files):
        name = "%03d_%s" % (i, os.path.basename(path).replace(" ", "_"))
        if "jumplists" not in path and not name.lower().endswith(".lnk"):
            name += ".lnk"
        subprocess.run(["ntfscp", "-f", volume, path, "/" + name], capture_output=True)
    return volume


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    parser.add_argument("--scratch")
    parser.add_argument("--images", help="folder already holding raw copies of the corpus images")
    parser.add_argument("--show", type=int, default=5, help="differences to print in full")
    parser.add_argument("--stdout-only", action="store_true",
                        help="compare results and exit status, not standard error")
    args = parser.parse_args()
    old, new = os.path.abspath(args.old), os.path.abspath(args.new)
    scratch = args.scratch or tempfile.mkdtemp(prefix="rook_compare_")
    cmp = Comparison(old, new, args.stdout_only)

    files = list(corpus_files(args.corpus))
    for path in files:
        touch_read(path)
    for path in files:
        for layout in LAYOUTS:
            cmp.check([path] + layout)
        if "jumplists" in path:
            cmp.check([path, "-csv", "-deepscan"])
    listing = "".join(f + "\n" for f in files).encode()
    for layout in LAYOUTS + [["-rawscan"], ["-rawscan", "-csv"]]:
        cmp.check(["-pipe"] + layout, stdin=listing, label="-pipe " + " ".join(layout))

    blob = os.path.join(scratch, "planted.bin")
    planted_blob(blob)
    touch_read(blob)
    for layout in LAYOUTS:
        cmp.check([blob, "-rawscan"] + layout)
    cmp.check([blob, "-deepscan", "-csv"])
    volume = None
    for image in raw_images(args.corpus, scratch, args.images):
        touch_read(image)
        check_image(cmp, image)
        if os.path.basename(image) == "windows_volume.raw":
            volume = planted_volume(args.corpus, image, scratch)
        if image.startswith(scratch):
            os.remove(image)
    if volume:
        touch_read(volume)
        for layout in LAYOUTS:
            cmp.check([volume, "-ntfs_scan"] + layout, label="planted volume -ntfs_scan " + " ".join(layout))

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

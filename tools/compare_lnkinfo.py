#!/usr/bin/env python3
"""Cross-checks rendered IDList paths against lnkinfo's shell item names.

For every shortcut under the corpus that lnkinfo decodes, each shell item
name lnkinfo shows (long name, else name; volume; shell folder; network
location) must appear in the path printed by build/idlist_paths.

Usage: tools/compare_lnkinfo.py [corpus_dir] [-v]
"""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import gen_guid_names  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "build", "idlist_paths")


def table_names():
    names = {}
    for text, name in gen_guid_names.CURATED:
        names.setdefault(text, name)
    for raw, name in gen_guid_names.header_entries():
        d1 = int.from_bytes(raw[0:4], "little")
        d2 = int.from_bytes(raw[4:6], "little")
        d3 = int.from_bytes(raw[6:8], "little")
        text = f"{d1:08x}-{d2:04x}-{d3:04x}-{raw[8:10].hex()}-{raw[10:16].hex()}"
        names.setdefault(text, name)
    return names


def lnkinfo_items(path):
    try:
        out = subprocess.run(["lnkinfo", path], capture_output=True, text=True, timeout=20,
                             errors="replace").stdout
    except subprocess.TimeoutExpired:
        return None
    if "Link target identifier:" not in out:
        return None
    section = out.split("Link target identifier:", 1)[1]
    section = re.split(r"\n(?:Distributed link tracking|Special folder location|"
                       r"Known folder location|Environment variables|Data block)", section)[0]
    items = []
    for chunk in re.split(r"\n\tShell item: \d+\n", section)[1:]:
        fields = {}
        for line in chunk.splitlines():
            m = re.match(r"\t+([^:\t]+?)\t*: (.*)$", line)
            if m and m.group(1) not in fields:
                fields[m.group(1)] = m.group(2)
        items.append(fields)
    return items


def required_texts(fields, names):
    wanted = []
    if "Long name" in fields:
        wanted.append([fields["Long name"]])
    elif "Name" in fields:
        wanted.append([fields["Name"]])
    if "Volume name" in fields:
        wanted.append([fields["Volume name"].rstrip("\\")])
    if "Shell folder identifier" in fields:
        choices = []
        if fields.get("Shell folder name", "Unknown") != "Unknown":
            choices.append(fields["Shell folder name"])
        ours = names.get(fields["Shell folder identifier"])
        if ours:
            choices.append(ours)
        choices.append(fields["Shell folder identifier"])
        wanted.append(choices)
    if "Location" in fields:
        location = fields["Location"]
        wanted.append([location, location.rstrip("\\").split("\\")[-1]])
    return [[w for w in choices if w] for choices in wanted if any(choices)]


def main():
    args = [a for a in sys.argv[1:] if a != "-v"]
    verbose = "-v" in sys.argv
    corpus = args[0] if args else os.path.join(ROOT, "..", "shared", "corpus", "lnk")
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(corpus) for f in fs)
    names = table_names()
    decoded = 0
    matched = 0
    for path in files:
        items = lnkinfo_items(path)
        if not items:
            continue
        decoded += 1
        ours = subprocess.run([TOOL, path], capture_output=True, text=True,
                              errors="replace").stdout.split("\t")
        rendered = ours[1] if len(ours) > 1 else ""
        missing = [choices[0] for fields in items for choices in required_texts(fields, names)
                   if not any(c in rendered for c in choices)]
        if missing:
            if verbose:
                print(f"MISS {path}\n  path: {rendered}\n  missing: {missing}")
        else:
            matched += 1
    share = 100.0 * matched / decoded if decoded else 0.0
    print(f"{matched} of {decoded} files lnkinfo decodes match ({share:.1f}%)")
    return 0 if share >= 97.0 else 1


if __name__ == "__main__":
    sys.exit(main())

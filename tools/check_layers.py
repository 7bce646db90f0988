#!/usr/bin/env python3
"""Holds every #include of the program's folders to layers.txt: a folder may
include its own headers and those of the folders its line names, nothing
else. Prints each offending line and exits 1; exits 0 when all is in order.

usage: check_layers.py [SOURCE_DIR]
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def read_layers(path):
    allowed = {}
    for line in open(path):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        folder, _, below = line.partition(":")
        allowed[folder.strip()] = set(below.split()) | {folder.strip()}
    return allowed


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    allowed = read_layers(os.path.join(root, "layers.txt"))
    problems = 0
    checked = 0
    for folder, permitted in sorted(allowed.items()):
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            continue
        for name in sorted(os.listdir(top)):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(top, name)
            text = open(path, encoding="utf-8", errors="replace").read()
            for number, line in enumerate(text.splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                checked += 1
                target = match.group(1)
                if target in allowed and target not in permitted:
                    print(f"{folder}/{name}:{number}: {folder} may not include {target}: {line.strip()}")
                    problems += 1
    print(f"layers: {checked} includes checked, {problems} outside the layer graph")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Holds every #include of the program's folders to layers.txt: a file in a
folder, or in any folder below it, may include the headers of its own
folder and of the folders its line names, nothing else. Every spelling
counts: "x/y.h", "../x/y.h" and <x/y.h>, each resolved the way the compiler
does (a quoted name first beside the including file, then from the source
root). Prints each offending line and exits 1; exits 0 when all is in order,
naming the edges of layers.txt that no include uses. The build runs it
before any layer is compiled (--stamp writes FILE once all is in order).

usage: check_layers.py [SOURCE_DIR] [--stamp FILE]
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inc")


def read_layers(path):
    allowed = {}
    for line in open(path):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        folder, _, below = line.partition(":")
        allowed[folder.strip()] = set(below.split())
    return allowed


def resolve(root, including, quote, target):
    """The file an include names, relative to root ("" when outside it)."""
    candidates = [os.path.join(root, target)]
    if quote == '"':
        candidates.insert(0, os.path.join(os.path.dirname(including), target))
    existing = [c for c in candidates if os.path.exists(c)]
    # A header that does not exist is taken as the compiler would look for
    # it first: "../x" beside the file, everything else from the root.
    chosen = existing[0] if existing else candidates[0 if target.startswith(".") else -1]
    relative = os.path.relpath(os.path.normpath(chosen), root)
    return "" if relative.startswith("..") else relative.replace(os.sep, "/")


def main():
    args = sys.argv[1:]
    stamp = None
    if "--stamp" in args:
        at = args.index("--stamp")
        stamp = args[at + 1]
        del args[at:at + 2]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    allowed = read_layers(os.path.join(root, "layers.txt"))
    problems = 0
    checked = 0
    used = set()
    for folder in sorted(allowed):
        top = os.path.join(root, folder)
        for directory, subfolders, names in os.walk(top):
            subfolders.sort()
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, name)
                shown = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = resolve(root, path, match.group(1), match.group(2))
                        layer = target.split("/", 1)[0] if "/" in target else ""
                        if layer not in allowed:
                            continue
                        checked += 1
                        if layer == folder:
                            continue
                        if layer in allowed[folder]:
                            used.add((folder, layer))
                            continue
                        print(f"{shown}:{number}: {folder} may not include {layer}: {line.strip()}")
                        problems += 1
    unused = sorted((f, b) for f in allowed for b in allowed[f] if (f, b) not in used)
    print(f"layers: {checked} includes checked, {problems} outside the layer graph")
    if unused and not problems:
        print("layers.txt edges no include uses: " + ", ".join(f"{f} -> {b}" for f, b in unused))
    if problems:
        return 1
    if stamp:
        with open(stamp, "w") as out:
            out.write("layer rule holds\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Lists every C++ function longer than a limit, from its first line to its
closing brace. Functions are the bodies opened directly in a namespace or a
class; lambdas count as part of the function around them.

usage: function_length.py [--limit N] FOLDER_OR_FILE...
Exit status 1 when a function is over the limit.
"""
import argparse
import os
import re
import sys

CODE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
SCOPE = re.compile(r'\b(namespace|class|struct|union|enum)\b')


def blank_out(match):
    # Keeps the line breaks so that line numbers stay right.
    return re.sub(r'[^\n]', ' ', match.group(0))


def functions(text):
    """(name, first line, last line) of each function body."""
    code = CODE.sub(blank_out, text)
    stack = []  # per open brace: ("scope" | "block" | "function", (name, first line))
    head_start = 0
    found = []
    line = 1
    for i, c in enumerate(code):
        if c == '\n':
            line += 1
        elif c == ';':
            head_start = i + 1
        elif c == '{':
            head = code[head_start:i]
            if any(kind != "scope" for kind, _ in stack):
                stack.append(("block", None))
            elif SCOPE.search(head) and ')' not in head:
                stack.append(("scope", None))
            elif ')' in head:
                body = head.lstrip()
                name = re.findall(r'([~\w:]+)\s*\(', body)
                stack.append(("function", (name[0] if name else "?", line - body.count('\n'))))
            else:
                stack.append(("block", None))
            head_start = i + 1
        elif c == '}':
            kind, info = stack.pop() if stack else ("block", None)
            if kind == "function":
                found.append((info[0], info[1], line))
            head_start = i + 1
    return found


def sources(paths):
    for path in paths:
        if os.path.isfile(path):
            yield path
            continue
        for folder, _, names in os.walk(path):
            for name in sorted(names):
                if name.endswith(('.cpp', '.h')):
                    yield os.path.join(folder, name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    over = 0
    for path in sources(args.paths):
        with open(path, encoding="utf-8") as f:
            for name, first, last in functions(f.read()):
                length = last - first + 1
                if length > args.limit:
                    over += 1
                    print(f"{path}:{first}: {name} is {length} lines (limit {args.limit})")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs the README's examples and checks what they write.

An example is the ```sh block after a line "<!-- example -->" or
"<!-- example needs: WHAT ... -->". Its lines starting "$ " are commands, run
by bash in README order in one scratch folder that links tests/ from the
source tree, with the built rook first on PATH; the lines after a command are
its standard output, blanks at line ends left out; a block of commands
without a mark is refused. "..." alone on a line stands for any lines,
inside a line for any text. A command must end with status 0 (an example shows another
status with `; echo "status $?"`).

WHAT is a command (jq, mactime, ...), "windows", or a feature the built
program is probed for: "operands" (several names on the command line),
"folder" (a folder operand), "noheader" (-noheader in the usage). An example
whose needs are missing is skipped with the reason.

  tools/check_readme.py --rook build/rook [--readme README.md]
"""

import argparse
import functools
import os
import re
import shutil
import subprocess
import sys
import tempfile

MARK = re.compile(r"^<!-- example(?: needs: ([^>]*))? -->$")


def examples(text):
    """(line number, needs, [(command, [expected lines])]) for each example."""
    lines = text.split("\n")
    for at, line in enumerate(lines):
        mark = MARK.match(line)
        if not mark:
            if line == "```sh" and lines[at + 1].startswith("$ ") and not MARK.match(lines[at - 1]):
                sys.exit("README line %d: an example without a mark, which no test would run" % (at + 2))
            continue
        if lines[at + 1] != "```sh":
            sys.exit("README line %d: an example mark without a ```sh block after it" % (at + 1))
        end = lines.index("```", at + 2)
        commands = []
        for body in lines[at + 2:end]:
            if body.startswith("$ "):
                commands.append((body[2:], []))
            elif commands:
                commands[-1][1].append(body)
        yield at + 1, (mark.group(1) or "").split(), commands


def matches(expected, actual):
    @functools.cache
    def rest(e, a):
        if e == len(expected):
            return a == len(actual)
        if expected[e] == "...":
            return any(rest(e + 1, later) for later in range(a, len(actual) + 1))
        pattern = ".*".join(map(re.escape, expected[e].split("...")))
        return a < len(actual) and re.fullmatch(pattern, actual[a]) is not None and rest(e + 1, a + 1)
    return rest(0, 0)


def run(command, folder, env):
    done = subprocess.run(["bash", "-c", command], cwd=folder, env=env, capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def probes(rook, folder, env):
    """What the built program does beyond what every build does."""
    _, usage, _ = run("'%s' -h" % rook, folder, env)
    _, _, two = run("'%s' tests/data/sample.lnk tests/data/sample.lnk" % rook, folder, env)
    _, _, directory = run("'%s' tests/data" % rook, folder, env)
    return {"noheader": "-noheader" in usage, "operands": "unused argument" not in two,
            "folder": "is a directory" not in directory}


def missing(needs, features):
    for need in needs:
        if need == "windows":
            yield "runs on Windows"
        elif need in features:
            if not features[need]:
                yield "this rook lacks %s" % need
        elif shutil.which(need) is None:
            yield "no %s on this machine" % need


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rook", required=True)
    parser.add_argument("--readme", default=os.path.join(os.path.dirname(__file__), "..", "README.md"))
    args = parser.parse_args()
    source = os.path.dirname(os.path.abspath(args.readme))
    rook = os.path.abspath(args.rook)
    env = dict(os.environ, PATH=os.path.dirname(rook) + os.pathsep + os.environ["PATH"], LC_ALL="C.UTF-8")
    with open(args.readme, encoding="utf-8") as f:
        found = list(examples(f.read()))
    ran = skipped = 0
    with tempfile.TemporaryDirectory() as folder:
        os.symlink(os.path.join(source, "tests"), os.path.join(folder, "tests"))
        features = probes(rook, folder, env)
        for line, needs, commands in found:
            reasons = list(missing(needs, features))
            if reasons:
                print("README line %d: skipped: %s" % (line, ", ".join(reasons)))
                skipped += 1
                continue
            for command, expected in commands:
                status, out, err = run(command, folder, env)
                actual = [line.rstrip() for line in out.rstrip("\n").split("\n")] if out.strip("\n") else []
                if status != 0 or not matches(expected, actual):
                    print("README line %d: $ %s\nstatus %d; expected:\n%s\ngot:\n%s\nstandard error:\n%s" %
                          (line, command, status, "\n".join(expected), "\n".join(actual[:60]), err[-2000:]))
                    return 1
            ran += 1
    print("README: %d examples ran as shown, %d skipped" % (ran, skipped))
    return 0 if ran else 1


if __name__ == "__main__":
    sys.exit(main())

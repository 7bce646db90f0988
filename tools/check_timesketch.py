#!/usr/bin/env python3
"""Checks rook's -timesketch layout in every input mode (timeline_inputs.py).

Every line must be strict UTF-8 and a JSON object holding only the keys
docs/timesketch.md lists, each of its type, with the keys the table marks as
on every line; datetime must parse as ISO 8601 UTC and agree with timestamp.
Each record's events are rebuilt here from its -json record (the MACB
merging done again, independently) and must match the lines in order; the
target events must be the -csvl2t lines of the same run, line for line; the
identifying fields must equal the -json record's. -out must write what
standard output gets.

usage: check_timesketch.py --rook ROOK [--scratch DIR]
Exit status: 0 when everything holds, 1 otherwise.
"""
import argparse
import datetime
import json
import os
import re
import sys
import tempfile

import timeline_inputs

SCHEMA = os.path.join(timeline_inputs.ROOT, "docs", "timesketch.md")
# The -csvl2t run shows every digit of the FILETIME, as datetime does.
L2T_OPTIONS = ["-csvl2t", "-dateformat", "yyyy-mm-dd", "-timeformat", "hh:mm:ss.xxxxxxx"]
TARGET_NAMES = ("Last Modified", "Last Access", "MRU Time", "Created")
SOURCE_NAMES = ("Source File Modified", "Source File Accessed", "Source File MFT Changed", "Source File Created")
TYPES = {"text": str, "number": int, "time": str, "boolean": bool, "list": list}


def documented_keys():
    keys = {}
    for line in open(SCHEMA, encoding="utf-8"):
        row = re.match(r"^\| `(\w+)` \| (\w+) \| (yes)? *\|", line)
        if row:
            keys[row.group(1)] = (row.group(2), row.group(3) == "yes")
    return keys


def iso_instant(text):
    return datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))


def merge_macb(slots, names):
    """The MACB merging, written again from its description: slots is
    (M, A, C, B) as ISO texts or None; events are (time, marks, names)."""
    used = [slot is None for slot in slots]
    events = []
    for first in range(4):
        if used[first]:
            continue
        used[first] = True
        marks, merged = ["."] * 4, [names[first]]
        marks[first] = "MACB"[first]
        for other in range(first + 1, 4):
            if not used[other] and slots[other] == slots[first]:
                used[other] = True
                marks[other] = "MACB"[other]
                merged.append(names[other])
        events.append((slots[first], "".join(marks), "; ".join(merged)))
    # Ascending time, events of equal time in the order they were made.
    return sorted(events, key=lambda e: iso_instant(e[0]))


def expected_events(record, mode):
    target = record.get("target", {})
    jumplist = record.get("jumplist")
    source = record["source"]
    events = [(t, m, d, "target") for t, m, d in merge_macb(
        (target.get("modified"), target.get("accessed"), (jumplist or {}).get("mru_time"), target.get("created")),
        TARGET_NAMES)]
    if "mft_entry" in source:
        own = True
    elif mode.name in ("ntfs_scan", "vss"):
        own = False  # carved from the volume's clusters
    else:
        own = "-rawscan" not in mode.args or jumplist is not None
    if own:
        events += [(t, m, d, "source_file") for t, m, d in merge_macb(
            (source.get("modified"), source.get("accessed"), source.get("mft_changed"), source.get("created")),
            SOURCE_NAMES)]
    tracker = record.get("extra_data", {}).get("tracker", {})
    if "object_id_time" in tracker:
        events.append((tracker["object_id_time"], None, "ObjectID Time", "object_id"))
    birth = tracker.get("birth_object_id_time")
    if birth and birth != tracker.get("object_id_time"):
        events.append((birth, None, "Birth ObjectID Time", "object_id"))
    return events


# The DestList entry's own fields, named as -json names them.
DESTLIST_KEYS = ["pinned", "pin_position", "access_count", "destlist_path", "destlist_netbios", "destlist_volume_id",
                 "destlist_object_id", "destlist_birth_volume_id", "destlist_birth_object_id"]


def expected_fields(record):
    source, tracker = record["source"], record.get("extra_data", {}).get("tracker", {})
    jumplist = record.get("jumplist")
    fields = {
        "data_type": "windows:jumplist:entry" if jumplist else "windows:lnk:link",
        "source_path": source.get("path"),
        "source_type": source.get("type"),
        "target_path": record.get("target", {}).get("name"),
        "local_path": record.get("link_info", {}).get("local_base_path"),
        "arguments": record.get("string_data", {}).get("arguments"),
        "volume_serial": record.get("link_info", {}).get("volume", {}).get("serial"),
        "volume_label": record.get("link_info", {}).get("volume", {}).get("label"),
        "machine_id": tracker.get("machine_id") or (jumplist or {}).get("destlist_netbios"),
        "mac_address": tracker.get("mac_address"),
        "app_id": (jumplist or {}).get("app_id"),
        "app_name": (jumplist or {}).get("app_name"),
        "mru_position": (jumplist or {}).get("mru_index"),
        "mft_entry": source.get("mft_entry"),
        "record_offset": source.get("offset"),
        "shadow_copy": source.get("shadow_copy"),
        "volume_path": source.get("volume_path"),
        "deleted": source.get("deleted"),
    }
    for key in DESTLIST_KEYS:
        fields[key] = (jumplist or {}).get(key) if "pinned" in (jumplist or {}) else None
    return {k: v for k, v in fields.items() if v not in (None, "")}


COMPARED_FIELDS = [
    "data_type", "source_path", "source_type", "target_path", "local_path", "arguments", "volume_serial",
    "volume_label", "machine_id", "mac_address", "app_id", "app_name", "mru_position", "mft_entry", "record_offset",
    "shadow_copy", "volume_path", "deleted"] + DESTLIST_KEYS


def parse_lines(data, label, keys, problems):
    lines = []
    if data and not data.endswith(b"\n"):
        problems.append(f"{label}: output does not end with a newline")
    for number, raw in enumerate(data.split(b"\n")[:-1], 1):
        where = f"{label} line {number}"
        try:
            line = json.loads(raw.decode("utf-8", errors="strict"))
        except ValueError as error:
            problems.append(f"{where}: not UTF-8 JSON ({error})")
            continue
        for key, (kind, always) in keys.items():
            if always and key not in line:
                problems.append(f"{where}: no {key}")
        for key, value in line.items():
            if key not in keys:
                problems.append(f"{where}: undocumented key {key}")
            elif not isinstance(value, TYPES[keys[key][0]]) or value in ("", None):
                problems.append(f"{where}: {key} is not a {keys[key][0]}: {value!r}")
        try:
            instant = iso_instant(line["datetime"])
            if not line["datetime"].endswith("Z") or instant.tzinfo != datetime.timezone.utc:
                raise ValueError("not UTC")
            # Microseconds: 100 ns digits beyond them are cut, not rounded.
            epoch = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
            if (instant - epoch) // datetime.timedelta(microseconds=1) != line["timestamp"]:
                problems.append(f"{where}: timestamp {line['timestamp']} is not {line['datetime']}")
        except (KeyError, ValueError) as error:
            problems.append(f"{where}: datetime does not parse ({error})")
        lines.append(line)
    return lines


def l2t_events(data):
    events = []
    for line in data.decode("utf-8", errors="replace").split("\n"):
        fields = line.split(",")
        if len(fields) < 17 or not re.match(r"\d{4}-\d\d-\d\d$", fields[0]):
            continue
        when = fields[0] + "T" + fields[1].strip() + "Z"
        events.append((when, fields[3], fields[6], fields[5], fields[12]))
    return events


def check_mode(rook, mode, keys, scratch, problems):
    status, out, err = timeline_inputs.run_rook(rook, mode.args + ["-timesketch"], mode.stdin)
    label = f"{mode.name} ({' '.join(os.path.basename(a) for a in mode.args)})"
    if status != 0:
        problems.append(f"{label}: status {status}: {err[:300]!r}")
    lines = parse_lines(out, label, keys, problems)
    _, json_out, _ = timeline_inputs.run_rook(rook, mode.args + ["-json"], mode.stdin)
    records = [json.loads(l) for l in json_out.decode("utf-8").splitlines()]
    _, l2t_out, _ = timeline_inputs.run_rook(rook, mode.args + L2T_OPTIONS + ["-codepage", "1252"], mode.stdin)

    by_record = {}
    for line in lines:
        by_record.setdefault(line.get("record_number"), []).append(line)
    for number in by_record:
        if not isinstance(number, int) or not 1 <= number <= len(records):
            problems.append(f"{label}: record_number {number} outside 1..{len(records)}")
    for number, record in enumerate(records, 1):
        got = [(l["datetime"], l.get("macb"), l["timestamp_desc"], l["time_of"]) for l in by_record.get(number, [])]
        want = expected_events(record, mode)
        if got != want:
            problems.append(f"{label} record {number}: events\n  {got}\n  expected\n  {want}")
        fields = expected_fields(record)
        for line in by_record.get(number, []):
            line_fields = {k: line[k] for k in COMPARED_FIELDS if k in line}
            if line_fields != fields:
                problems.append(f"{label} record {number}: fields {line_fields} expected {fields}")
                break
    # The CSV turns commas inside values into blanks.
    target_lines = [tuple(l[k].replace(",", " ") for k in ("datetime", "macb", "timestamp_desc", "source_type",
                                                          "source_path"))
                    for l in lines if l["time_of"] == "target"]
    if target_lines != l2t_events(l2t_out):
        problems.append(f"{label}: the target events are not the -csvl2t lines")
    print(f"{label}: {len(records)} records, {len(lines)} events, {len(target_lines)} of them the -csvl2t lines")

    if mode.name == "file":
        # -out gets the same lines; -hostname adds its field to each.
        results = os.path.join(scratch, "events.jsonl")
        timeline_inputs.run_rook(rook, mode.args + ["-timesketch", "-hostname", "ws \"1\"", "-out", results],
                                 mode.stdin)
        if [json.loads(l) for l in open(results, "rb")] != [dict(l, hostname='ws "1"') for l in lines]:
            problems.append(f"{label}: -out with -hostname wrote other lines than standard output got")
    return len(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rook", required=True)
    parser.add_argument("--scratch")
    args = parser.parse_args()
    keys = documented_keys()
    problems, notes = [], []
    with tempfile.TemporaryDirectory(dir=args.scratch) as scratch:
        events = sum(check_mode(args.rook, mode, keys, scratch, problems)
                     for mode in timeline_inputs.modes(scratch, notes))
    for note in notes:
        print("note:", note)
    for problem in problems[:50]:
        print(problem)
    print(f"{events} events checked, {len(problems)} problems")
    return 1 if problems or events == 0 else 0


if __name__ == "__main__":
    sys.exit(main())

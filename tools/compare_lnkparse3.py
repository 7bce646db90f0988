#!/usr/bin/env python3
"""Compares rook's text report with LnkParse3's JSON rendering of the same
shortcuts, field by field where the two overlap, and prints the differences.

usage: compare_lnkparse3.py ROOK CORPUS_LNK_DIR
  (CORPUS_LNK_DIR holds lnkparse3/*.lnk and lnkparse3-expected/*.json)

Each difference prints as: sample | field | rook=... | lnkparse3=...
A cross-checking aid for development, not part of rook.
"""
import json
import os
import re
import subprocess
import sys

LABEL = re.compile(r"^([A-Za-z][A-Za-z0-9 /#().\[\]-]*?):\s+(.*)$")
PROPERTY_LINE = re.compile(r"^ \[(\d+)\] (\S+?)/(.*?)\s+\[(.*)\]$")

# LnkParse3's names for LinkFlags where they differ from ours.
FLAG_NAMES = {"HasTargetIDList": "HasLinkTargetIDList"}
DRIVE_TYPES = {"DRIVE_UNKNOWN": "unk", "DRIVE_NO_ROOT_DIR": "no root dir",
               "DRIVE_REMOVABLE": "removable", "DRIVE_FIXED": "fixed", "DRIVE_REMOTE": "remote",
               "DRIVE_CDROM": "cdrom", "DRIVE_RAMDISK": "RAM drive"}


def run_rook(rook, path):
    out = subprocess.run([rook, path, "-quiet"], capture_output=True, timeout=60)
    return out.stdout.decode("utf-8", "replace")


def parse_report(text):
    fields, properties = {}, []
    in_store = False
    for line in text.splitlines():
        if line.startswith("PropertyStoreDataBlk:"):
            in_store = True
            continue
        if in_store:
            m = PROPERTY_LINE.match(line)
            if m:
                properties.append((m.group(2).lower(), m.group(3).strip(), m.group(4)))
                continue
            in_store = False
        m = LABEL.match(line)
        if m and m.group(1) not in fields:
            fields[m.group(1)] = m.group(2).rstrip(" ")
    return fields, properties


def rook_time(text):
    # "mm/dd/yyyy hh:mm:ss.mmm [UTC]" -> "yyyy-mm-ddThh:mm:ss"
    m = re.match(r"(\d\d)/(\d\d)/(\d{4}) (\d\d:\d\d:\d\d)", text or "")
    return "%s-%s-%sT%s" % (m.group(3), m.group(1), m.group(2), m.group(4)) if m else None


def their_time(text):
    return text[:19] if text else None


def bytes_in_brackets(text):
    m = re.search(r"\[(\d+) bytes\]", text or "")
    return int(m.group(1)) if m else None


def serial_text(value):
    # "0xd4675185" -> "d467-5185"
    if not value:
        return None
    digits = "%08x" % int(value, 16)
    return digits[:4] + "-" + digits[4:]


def compare(name, rook_out, expected, report):
    fields, properties = parse_report(rook_out)
    header = expected.get("header", {})
    data = expected.get("data", {})
    info = expected.get("link_info", {})
    location = info.get("location_info", {})
    extra = expected.get("extra", {})

    def diff(field, ours, theirs, note=""):
        if ours != theirs:
            report.append("%s | %s | rook=%r | lnkparse3=%r%s" % (name, field, ours, theirs, note))

    for label, key in (("Target created", "creation_time"), ("Target modified", "modified_time"),
                       ("Target accessed", "accessed_time")):
        theirs = their_time(header.get(key))
        ours = rook_time(fields.get(label))
        # Header time 0: we fall back to the last ID list item's time.
        note = " (header time empty)" if theirs is None and ours else ""
        diff(label, ours, theirs, note)
    diff("Target file size", bytes_in_brackets(fields.get("Target file size")),
         header.get("file_size"))
    attributes = fields.get("Target attributes")
    ours = [] if attributes in (None, "not specified") else attributes.split("; ")
    diff("Target attributes", sorted(ours), sorted(header.get("file_flags", [])))
    ours = fields.get("Target flags", "")
    ours = [] if ours in ("", "Default") else ours.split(", ")
    diff("Target flags", sorted(ours),
         sorted(FLAG_NAMES.get(f, f) for f in header.get("link_flags", [])))
    show = fields.get("Show cmd")
    diff("Show cmd", show.strip("[]") if show else None, header.get("windowstyle"))

    for label, key in (("Description", "description"), ("Relative path", "relative_path"),
                       ("Working directory", "working_directory"),
                       ("Cmdline args", "command_line_arguments"),
                       ("Icon filename", "icon_location")):
        diff(label, fields.get(label), data.get(key) or None)

    if info:
        diff("Local base path", fields.get("Local base path"), info.get("local_base_path") or None)
        diff("Common path", fields.get("Common path"), info.get("common_path_suffix") or None)
        diff("Volume serial num", fields.get("Volume serial num"),
             serial_text(location.get("drive_serial_number")))
        drive = location.get("drive_type")
        diff("Volume Type", fields.get("Volume Type"), DRIVE_TYPES.get(drive, drive))
        diff("Volume label", fields.get("Volume label"), location.get("volume_label") or None)
        diff("Network name", fields.get("Network name"), location.get("net_name") or None)
        diff("Device name", fields.get("Device name"), location.get("device_name") or None)

    tracker = extra.get("DISTRIBUTED_LINK_TRACKER_BLOCK")
    if tracker:
        diff("NETBIOS name", fields.get("NETBIOS name"), tracker.get("machine_identifier") or None)
        for label, key in (("Volume ID", "droid_volume_identifier"),
                           ("Object ID", "droid_file_identifier")):
            ours = (fields.get(label) or "").split(" [orig")[0] or None
            theirs = tracker.get(key)
            diff(label, ours, theirs.lower() if theirs else None)
    env = extra.get("ENVIRONMENTAL_VARIABLES_LOCATION_BLOCK")
    if env:
        diff("Environment DataBlk", fields.get("Environment DataBlk"),
             env.get("target_unicode") or env.get("target_ansi"))
    icon = extra.get("ICON_LOCATION_BLOCK")
    if icon:
        diff("Icon environ name", fields.get("Icon environ name"),
             icon.get("target_unicode") or icon.get("target_ansi"))
    known = extra.get("KNOWN_FOLDER_LOCATION_BLOCK")
    if known:
        ours = (fields.get("Known Folder ID") or "").lower()
        theirs = known.get("known_folder_id", "").lower()
        if theirs not in ours:
            diff("Known Folder ID", fields.get("Known Folder ID"), known.get("known_folder_id"))
    special = extra.get("SPECIAL_FOLDER_LOCATION_BLOCK")
    if special:
        diff("Special Folder ID", fields.get("Special Folder ID") is not None, True,
             " (id %r)" % special.get("special_folder_id"))

    store = extra.get("METADATA_PROPERTIES_BLOCK", {}).get("property_store", [])
    listed = {"VT_LPWSTR", "VT_BSTR", "VT_LPSTR", "VT_FILETIME"}
    for storage in store:
        fmtid = storage.get("format_id", "").lower()
        for value in storage.get("serialized_property_values", []):
            if value.get("value_type") not in listed:
                continue
            key = value.get("name") or value.get("id")
            theirs = value.get("value")
            ours = [v for f, n, v in properties if f == fmtid]
            if value.get("value_type") == "VT_FILETIME":
                ours = [rook_time(v) for v in ours]
                theirs = their_time(theirs)
            if theirs not in ours:
                diff("PropertyStoreDataBlk %s/%s" % (fmtid, key), ours or None, theirs)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    rook, corpus = sys.argv[1], sys.argv[2]
    expected_dir = os.path.join(corpus, "lnkparse3-expected")
    report, compared = [], 0
    for entry in sorted(os.listdir(expected_dir)):
        if not entry.endswith(".json"):
            continue
        sample = os.path.join(corpus, "lnkparse3", entry[:-5] + ".lnk")
        if not os.path.exists(sample):
            continue
        with open(os.path.join(expected_dir, entry), encoding="utf-8") as f:
            expected = json.load(f)
        if isinstance(expected, list):
            expected = expected[0]
        compare(entry[:-5], run_rook(rook, sample), expected, report)
        compared += 1
    print("samples compared: %d, differences: %d" % (compared, len(report)))
    for line in report:
        print(line)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Checks rook's -json layout against the sample corpus and generated records.

Every JSON line must be strict UTF-8 and parse with Python's json module and
with jq; the keys written must be exactly those docs/json.md lists (none
undocumented, each documented one written somewhere); and for every record
the text report, rendered again from the JSON, must equal the text report
rook writes, line by line, times included.

usage: check_json.py --rook ROOK [--samples TOOL] [--corpus DIR] [--images]

--samples runs tools/json_sample_records, whose records set every field.
--images also carves every corpus image (unpacked and converted to raw
files in a scratch folder; slower). Exit status: 0 when everything holds,
1 otherwise, 77 when the corpus is absent.
"""
import argparse
import gzip
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# The text run shows times the way the JSON notes carry them, and decodes
# ANSI text with the JSON layout's default code page.
TEXT_OPTIONS = ["-dateformat", "yyyy-mm-dd", "-timeformat", "hh:mm:ss.xxxxxxx", "-codepage", "1252"]
LABEL_WIDTH = 26
PROPERTY_NAME_WIDTH = 49
PROPERTY_LABEL = "PropertyStoreDataBlk:    format guid/id [value] "
LISTED_TYPES = {8, 30, 31, 64, 7}
FILETIME_1970 = 116444736000000000


# ---- running rook ----------------------------------------------------------

def run(rook, args, stdin=b""):
    done = subprocess.run([rook] + args, input=stdin, capture_output=True, timeout=900)
    return done.stdout


def json_lines(data, label, problems):
    records = []
    for number, raw in enumerate(data.split(b"\n")[:-1], 1):
        try:
            text = raw.decode("utf-8", errors="strict")
        except UnicodeDecodeError as error:
            problems.append(f"{label} line {number}: not UTF-8 ({error})")
            continue
        try:
            records.append(json.loads(text))
        except ValueError as error:
            problems.append(f"{label} line {number}: not JSON ({error})")
    if data and not data.endswith(b"\n"):
        problems.append(f"{label}: output does not end with a newline")
    if shutil.which("jq"):
        done = subprocess.run(["jq", "-c", "."], input=data, capture_output=True)
        if done.returncode != 0 or done.stdout.count(b"\n") != len(records):
            problems.append(f"{label}: jq refused the output: {done.stderr[:200]!r}")
    elif not getattr(json_lines, "warned", False):
        json_lines.warned = True
        print("jq not installed: lines checked with Python only")
    return records


# ---- keys against docs/json.md ---------------------------------------------

def documented_keys(path):
    keys, kind = set(), None
    for line in open(path, encoding="utf-8"):
        heading = re.match(r"^## .*\(`(\w+)`\)", line)
        if heading:
            kind = heading.group(1)
            continue
        row = re.match(r"^\| `([^`]+)` \|", line)
        if row and kind:
            keys.add(f"{kind}:{row.group(1)}")
    return keys


# Keys whose values are objects of a documented kind of their own.
NESTED_KINDS = {"items": "item", "children": "item", "embedded_idlists": "item", "idlists": "item",
                "properties": "property", "extension_blocks": "extension_block",
                "link_target_idlist": "idlist", "vista_idlist": "idlist"}


def collect_keys(value, kind, prefix, found):
    if isinstance(value, list):
        for element in value:
            collect_keys(element, kind, prefix, found)
        return
    if not isinstance(value, dict):
        return
    for key, child in value.items():
        path = prefix + key
        found.add(f"{kind}:{path}")
        nested = NESTED_KINDS.get(key)
        if kind == "item" and key == "notes":
            nested = "note"
        if nested:
            collect_keys(child, nested, "", found)
        else:
            collect_keys(child, kind, path + ".", found)


# ---- the text report, rendered from JSON -----------------------------------

BIDI = set(range(0x202A, 0x202F)) | set(range(0x2066, 0x206A)) | {0x200E, 0x200F, 0x061C}


def escaped(text):
    """The text report's escaping: controls as \\x{HH}, bidirectional controls as
    \\u{HHHH}, a backslash that would read as either as \\x{5c}."""
    out = []
    for i, ch in enumerate(text):
        c = ord(ch)
        if c < 0x20 or c == 0x7F or 0x80 <= c <= 0x9F:
            out.append(f"\\x{{{c:02x}}}")
        elif c in BIDI:
            out.append(f"\\u{{{c:04x}}}")
        elif ch == "\\" and re.match(r"x\{[0-9A-Fa-f]{2}\}|u\{[0-9A-Fa-f]{4}\}", text[i + 1:i + 8]):
            out.append("\\x{5c}")
        else:
            out.append(ch)
    return "".join(out)


def line(label, value):
    return label.ljust(LABEL_WIDTH) + escaped(value)


def command_text(command):
    target = command.get("target", "")
    text = f'"{target}"' if " " in target else target
    if command.get("arguments"):
        text += (" " if text else "") + command["arguments"]
    return f"{text} [target from {command.get('target_from', '')}]"


def date_time(iso, fraction=True):
    """"2009-06-05T20:13:20.1234567Z" as the text report shows it with
    TEXT_OPTIONS: "2009-06-05 20:13:20.1234567 [UTC]"."""
    if iso is None:
        return ""
    day, clock = iso[:-1].split("T")
    if not fraction:
        clock = clock.split(".")[0]
    return f"{day} {clock} [UTC]"


def compact_stamp(iso):
    day, clock = iso[:-1].split("T")
    year, month, mday = (int(x) for x in day.split("-"))
    two_digit = year - 1900 if year < 2000 else year - 2000
    return f"{month:02d}/{mday:02d}/{two_digit:02d} {clock[:12]} [UTC]"


def with_original(value, original):
    if not original or original == value:
        return value
    return f"{value} [orig: {original}]"


def numbered(label, texts):
    if not texts:
        return []
    if len(texts) == 1:
        return [line(label, texts[0])]
    return [line(label, "")] + [f" [{i}] {escaped(t)}" for i, t in enumerate(texts, 1)]


def listing_name(p):
    name = p["format_id"] + "/"
    if "name" in p or p.get("string_named"):
        return name + p.get("name", "")
    return name + "0x%02x" % p["id"]


def listing_value(p, hex_sizes):
    value = p.get("value")
    if p["type"] == 64:
        return compact_stamp(value) if isinstance(value, str) else "0x%x" % value
    if p["type"] == 7:
        if isinstance(value, str):
            return compact_stamp(value)
        if value is None:
            return None
        bits = struct.unpack("<Q", struct.pack("<d", value))[0]
        return "0x%08x" % bits if hex_sizes else str(bits)
    return value if isinstance(value, str) else ""


def destlist_entry_lines(jump):
    if "pinned" not in jump:
        return []
    out = [line("Pin status:", "pinned, position %d" % jump["pin_position"] if jump["pinned"] else "not pinned")]
    if "access_count" in jump:
        out.append(line("Access count:", str(jump["access_count"])))
    for label, key in (("DestList path:", "destlist_path"), ("DestList NETBIOS name:", "destlist_netbios")):
        if key in jump:
            out.append(line(label, jump[key]))
    for label, key in (("DestList volume ID:", "volume_id"), ("DestList object ID:", "object_id")):
        value, birth = jump.get("destlist_" + key), jump.get("destlist_birth_" + key)
        if value:
            out.append(line(label, value + (f" [orig: {birth}]" if birth and birth != value else "")))
    return out


def expected_text(r, mode):
    """The text report's lines for record r; mode holds the run's flags."""
    out = []
    source, header = r["source"], r["header"]
    jump, target = r.get("jumplist"), r["target"]
    extra, info = r.get("extra_data", {}), r.get("link_info", {})
    strings, tracker = r.get("string_data", {}), r.get("extra_data", {}).get("tracker", {})
    single_file = "volume" not in source and "vmdk_paths" not in source
    offset_shown = mode["rawscan"] or mode["deepscan"] or mode["mft_scan"]
    if single_file:
        out.append(line("source path/filename:", source.get("path", "")))
    if "volume_path" in source:
        where = source["volume_path"] + (" (deleted)" if source["deleted"] else "")
        out.append(line("location in volume:", where + " [MFT entry 0x%08x, seq# 0x%04x]" %
                        (source["mft_entry"], source["mft_sequence"])))
        out += [line("also named:", p) for p in source.get("other_paths", [])]
        if source.get("damaged_record"):
            out.append(line("damaged record:", "the MFT record's update sequence does not match; read as it is"))
    elif "carved_from" in source:
        out.append(line("location in volume:", source["carved_from"] + " (carved)"))
    if offset_shown and source["offset"] != 0:
        out.append(line("file offset:", "0x%08x" % source["offset"]))
    if jump:
        app = jump.get("app_id", "") + (f" [{jump['app_name']}]" if "app_name" in jump else "")
        out.append(line("AppID:", app))
        if jump["kind"] == "destlist":
            if jump["from_slack"]:
                out.append(line("MRU/MFU/Stream# data:", "not avail - parsed from slack space"))
            else:
                index = jump.get("mru_index")
                out.append(line("MRU/MFU index:", "not available for this record" if index is None else str(index)))
                out.append(line("stream #:", str(jump["stream_number"])))
                out.append(line("MRU time:", date_time(jump.get("mru_time"))))
                out += destlist_entry_lines(jump)
    if single_file:
        for label, key in (("file modified:", "modified"), ("file accessed:", "accessed"),
                           ("file created:", "created")):
            out.append(line(label, date_time(source.get(key), fraction=False)))
    if mode["mft_scan"] and "mft_entry" in target:
        out.append(line("MFT Entry:", "0x%08x" % target["mft_entry"]))
        out.append(line("MFT Sequence#:", "0x%04x" % target["mft_sequence"]))
    flags = header["link_flag_names"]
    out.append(line("Target flags:", "Default" if header["link_flags"] == 0 else ", ".join(flags)))
    attributes = header["file_attribute_names"]
    out.append(line("Target attributes:", "not specified" if header["file_attributes"] == 0
                    else "; ".join(attributes) or "unk"))
    for label, key in (("Target modified:", "modified"), ("Target accessed:", "accessed"),
                       ("Target created:", "created")):
        out.append(line(label, date_time(target.get(key)) or "not available"))
    if "object_id_time" in tracker:
        out.append(line("Target ObjID time:", date_time(tracker["object_id_time"])))
    if tracker.get("birth_object_id_time", tracker.get("object_id_time")) != tracker.get("object_id_time"):
        out.append(line("Target ObjID time [orig]:", date_time(tracker["birth_object_id_time"])))
    if offset_shown:
        out.append(line("File offset:", "0x%08x [%d]" % (source["offset"], source["offset"])))
    out.append(line("Parsed size:", "0x%08x [%d bytes]" % (r["parsed_size"], r["parsed_size"])))
    out.append(line("Target file size:", "0x%08x [%d bytes]" % (header["file_size"], header["file_size"])))
    if header["show_command_name"] != "unk":
        out.append(line("Show cmd:", f"[{header['show_command_name']}]"))
    idlist = r.get("link_target_idlist", {})
    if idlist.get("path"):
        out.append(line("ID List:", idlist["path"]))
    out += numbered("Embedded ID List info:", idlist.get("notes", []))
    volume, network = info.get("volume", {}), info.get("network", {})
    texts = [("Volume Type:", volume.get("drive_type_name")), ("Volume serial num:", volume.get("serial")),
             ("Volume label:", volume.get("label")), ("Network name:", network.get("net_name")),
             ("Device name:", network.get("device_name")), ("Local base path:", info.get("local_base_path")),
             ("Common path:", info.get("common_path_suffix")), ("Description:", strings.get("description")),
             ("Relative path:", strings.get("relative_path")),
             ("Working directory:", strings.get("working_directory")),
             ("Cmdline args:", strings.get("arguments")), ("Icon filename:", strings.get("icon_location")),
             ("Icon environ name:", extra.get("icon_environment", {}).get("target")),
             ("Environment DataBlk:", extra.get("environment", {}).get("target")),
             ("Special Folder ID:", extra.get("special_folder", {}).get("name")),
             ("Known Folder ID:", extra.get("known_folder", {}).get("id"))]
    out += [line(label, value) for label, value in texts if value]
    netbios = tracker.get("machine_id", "")
    if not netbios and jump and jump["kind"] == "destlist":
        netbios = jump.get("destlist_netbios", "")
    if netbios:
        out.append(line("NETBIOS name:", netbios))
    if "droid_volume_id" in tracker:
        out.append(line("Volume ID:", with_original(tracker["droid_volume_id"], tracker.get("birth_droid_volume_id"))))
    vista = extra.get("vista_idlist", {})
    if vista.get("path"):
        out.append(line("VistaAndAboveIDList:", vista["path"]))
    out += numbered("VistaAndAboveIDList-info:", vista.get("notes", []))
    if "droid_object_id" in tracker:
        out.append(line("Object ID:", with_original(tracker["droid_object_id"], tracker.get("birth_droid_object_id"))))
    if "mac_address" in tracker:
        out.append(line("MAC address:", with_original(tracker["mac_address"], tracker.get("birth_mac_address"))))
    listed = [p for p in extra.get("property_store", {}).get("properties", [])
              if p["type"] in LISTED_TYPES]
    if listed:
        out.append(PROPERTY_LABEL)
        for i, p in enumerate(listed, 1):
            out.append(f" [{i}] {escaped(listing_name(p)).ljust(PROPERTY_NAME_WIDTH)} [{escaped(listing_value(p, True))}]")
        if "hostname" in r:
            out.append(line("username:", r.get("username", "")))
            out.append(line("hostname:", r["hostname"]))
    if "command" in r:
        out.append(line("Command run:", command_text(r["command"])))
    out += [line("Anomaly:", f"{a['code']}: {a['detail']}") for a in r.get("anomalies", [])]
    return out


def text_records(data):
    """The text report's records, each a list of lines, after the run header."""
    lines = data.decode("utf-8", errors="surrogateescape").split("\n")
    records, current = [], None
    for text in lines:
        if text.startswith("source path/filename:"):
            current = [text]
            records.append(current)
        elif current is not None:
            current.append(text)
    for record in records:
        while record and record[-1] == "":
            record.pop()
    return records


def lenient_equal(got, want):
    # A birth object-identifier time that is set but not valid shows as an
    # empty value in the text report; JSON omits it, so nothing tells the two apart.
    if len(got) == len(want) + 1:
        extra = [i for i in range(len(got)) if i >= len(want) or got[i] != want[i]]
        if extra and got[extra[0]].rstrip() == "Target ObjID time [orig]:":
            return got[:extra[0]] + got[extra[0] + 1:] == want
    return got == want


def compare(label, rook, args, stdin, mode, problems, all_records):
    records = json_lines(run(rook, args + ["-json", "-quiet"], stdin), label, problems)
    all_records += records
    texts = text_records(run(rook, args + TEXT_OPTIONS + ["-quiet"], stdin))
    if len(texts) != len(records):
        problems.append(f"{label}: {len(records)} JSON records, {len(texts)} text records")
        return len(records)
    for number, (record, text) in enumerate(zip(records, texts), 1):
        want = expected_text(record, mode)
        if not lenient_equal(text, want):
            for i in range(max(len(text), len(want))):
                got = text[i] if i < len(text) else "<none>"
                exp = want[i] if i < len(want) else "<none>"
                if got != exp:
                    problems.append(f"{label} record {number} ({record['source'].get('path')}):\n"
                                    f"    text: {got!r}\n    json: {exp!r}")
                    break
    return len(records)


# ---- inputs ----------------------------------------------------------------

def corpus_files(corpus):
    for folder in ("lnk", "jumplists", "fragments"):
        for root, _, names in os.walk(os.path.join(corpus, folder)):
            for name in sorted(names):
                yield os.path.join(root, name)


def planted_blob(path):
    rng = random.Random(11)
    sample = open(os.path.join(ROOT, "tests", "data", "sample.lnk"), "rb").read()
    blob = bytearray(rng.randbytes(1 << 20))
    for i, at in enumerate(range(4096, len(blob) - 8192, 65536 + 300)):
        blob[at + (i * 37) % 512:at + (i * 37) % 512 + len(sample)] = sample
    open(path, "wb").write(blob)


def corpus_images(corpus, scratch, convert):
    for root, _, names in os.walk(os.path.join(corpus, "images")):
        for name in sorted(names):
            path = os.path.join(root, name)
            if name.endswith((".raw", ".vmdk", ".mft")):
                yield path
            elif convert and name.endswith(".raw.gz"):
                out = os.path.join(scratch, name[:-3])
                with gzip.open(path) as src, open(out, "wb") as dst:
                    shutil.copyfileobj(src, dst)
                yield out
            elif convert and name.endswith(".qcow2") and shutil.which("qemu-img"):
                out = os.path.join(scratch, name + ".raw")
                subprocess.run(["qemu-img", "convert", "-O", "raw", path, out], check=True)
                yield out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rook", required=True)
    parser.add_argument("--samples")
    parser.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--docs", default=os.path.join(ROOT, "docs", "json.md"))
    parser.add_argument("--images", action="store_true")
    args = parser.parse_args()
    if not os.path.isdir(args.corpus):
        print("corpus absent, skipped")
        return 77
    rook = os.path.abspath(args.rook)
    problems, records = [], []
    plain = {"rawscan": False, "deepscan": False, "mft_scan": False}
    scratch = tempfile.mkdtemp(prefix="rook_json_")
    try:
        files = list(corpus_files(args.corpus))
        files += sorted(os.path.join(ROOT, "tests", "data", n) for n in os.listdir(os.path.join(ROOT, "tests", "data")))
        listing = "".join(f + "\n" for f in files).encode()
        counted = compare("-pipe", rook, ["-pipe"], listing, plain, problems, records)
        jumplists = "".join(f + "\n" for f in files if "jumplists" in f).encode()
        counted += compare("-pipe -deepscan", rook, ["-pipe", "-deepscan"], jumplists,
                           dict(plain, deepscan=True), problems, records)
        blob = os.path.join(scratch, "planted.bin")
        planted_blob(blob)
        images = [blob] + list(corpus_images(args.corpus, scratch, args.images))
        for image in images:
            # A file made just now gets a new access time when first read;
            # read it once so both runs see the same one.
            open(image, "rb").read(1)
            counted += compare("-rawscan " + os.path.basename(image), rook, [image, "-rawscan"], b"",
                               dict(plain, rawscan=True), problems, records)
        if args.samples:
            records += json_lines(run(os.path.abspath(args.samples), []), "samples", problems)
        # -out takes the same lines.
        results = os.path.join(scratch, "results.jsonl")
        run(rook, [files[0], "-json", "-quiet", "-out", results])
        if open(results, "rb").read() != run(rook, [files[0], "-json", "-quiet"]):
            problems.append("-out: the results file differs from standard output")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    found = set()
    for record in records:
        collect_keys(record, "record", "", found)
    documented = documented_keys(args.docs)
    for key in sorted(found - documented):
        problems.append(f"key written but not documented: {key}")
    for key in sorted(documented - found):
        problems.append(f"key documented but never written: {key}")

    for problem in problems[:40]:
        print(problem)
    print(f"records compared: {counted}, JSON lines read: {len(records)}, keys: {len(found)}, "
          f"problems: {len(problems)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Decodes the DestList stream of automatic-destinations jump lists and
prints it as JSON: a second, independent reading to check rook's against.

Written from the public descriptions of the format (Joachim Metz, "Jump
lists format", libyal/dtformats documentation; the Forensics Wiki "Jump
Lists" page): a 32-byte header (version, entry count, pinned entry count,
a float, last entry number, revision), then one entry per shortcut stream.
Version 1 entries (Windows 7 and 8) end in a path of 16-bit characters whose
count is at entry offset 112; later versions (2 and up, Windows 10 and 11)
carry a pin-independent access count at 116 and the path count at 128,
and 4 bytes follow the path.

Usage: tools/destlist.py [--tsv] FILE...
FILE is an .automaticDestinations-ms compound file (read with olefile, the
Debian package python3-olefile) or a bare DestList stream. --tsv prints
one tab-separated line per header and entry, texts as hex of their UTF-8,
for tests that compare without a JSON reader; each file's lines follow a
"file" line naming it.
"""

import datetime
import json
import struct
import sys
import uuid

OLE_SIGNATURE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
HEADER = struct.Struct("<IIIfIIII")


def destlist_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(OLE_SIGNATURE):
        return data
    import olefile  # only compound files need it

    ole = olefile.OleFileIO(data)
    for name in ole.listdir(streams=True, storages=False):
        if len(name) == 1 and name[0].lower() == "destlist":
            return ole.openstream(name).read()
    return None


def filetime_text(value):
    if value == 0:
        return None
    try:
        moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=value // 10)
    except OverflowError:
        return None
    return moment.isoformat() + "Z"


def decode_entry(data, at, version):
    long_form = version >= 2
    fixed = 130 if long_form else 114
    if at + fixed > len(data):
        return None, len(data)
    guid = lambda o: str(uuid.UUID(bytes_le=bytes(data[at + o : at + o + 16])))
    host = data[at + 72 : at + 88].split(b"\0", 1)[0]
    (number,) = struct.unpack_from("<I", data, at + 88)
    (accessed,) = struct.unpack_from("<Q", data, at + 100)
    (pin,) = struct.unpack_from("<i", data, at + 108)
    count = struct.unpack_from("<I", data, at + 116)[0] if long_form else None
    (characters,) = struct.unpack_from("<H", data, at + fixed - 2)
    path_raw = data[at + fixed : at + fixed + 2 * characters]
    path_raw = path_raw[: len(path_raw) // 2 * 2]
    entry = {
        "entry_number": number,
        "netbios_name": host.decode("latin-1"),
        "netbios_raw": host,
        "last_access_time": accessed,
        "last_access_time_text": filetime_text(accessed),
        "pin_status": pin,
        "pinned": pin != -1,
        "access_count": count,
        "droid_volume_id": guid(8),
        "droid_file_id": guid(24),
        "birth_droid_volume_id": guid(40),
        "birth_droid_file_id": guid(56),
        "path": path_raw.decode("utf-16-le", errors="replace"),
        "path_cut": len(path_raw) < 2 * characters,
    }
    end = at + fixed + 2 * characters + (4 if long_form else 0)
    return entry, end


def decode(data):
    if data is None or len(data) < HEADER.size:
        return None
    version, count, pinned, weight, last, _, revision, _ = HEADER.unpack_from(data)
    result = {
        "version": version,
        "entry_count": count,
        "pinned_count": pinned,
        "last_entry_number": last,
        "revision": revision,
        "entries": [],
    }
    if not 1 <= version <= 6:
        return result
    at = HEADER.size
    while len(result["entries"]) < count and at < len(data):
        entry, at = decode_entry(data, at, version)
        if entry is None:
            break
        result["entries"].append(entry)
        if entry["path_cut"]:
            break
    return result


def hex_text(value):
    return value.hex() if isinstance(value, bytes) else value.encode("utf-8", "surrogatepass").hex()


def print_tsv(path, result):
    print(f"file\t{path}")
    if result is None:
        print("none")
        return
    print("header\t" + "\t".join(str(result[k]) for k in
                                 ("version", "entry_count", "pinned_count", "last_entry_number", "revision")))
    for e in result["entries"]:
        count = "-" if e["access_count"] is None else str(e["access_count"])
        print("\t".join(["entry", str(e["entry_number"]), str(e["last_access_time"]), str(e["pin_status"]),
                         count, hex_text(e["netbios_raw"]), hex_text(e["path"])]))


def main(argv):
    tsv = "--tsv" in argv
    paths = [a for a in argv if a != "--tsv"]
    if not paths:
        sys.exit(__doc__)
    report = {}
    for path in paths:
        result = decode(destlist_bytes(path))
        if tsv:
            print_tsv(path, result)
            continue
        if result is not None:
            for e in result["entries"]:
                del e["netbios_raw"]
        report[path] = result
    if not tsv:
        json.dump(report, sys.stdout, indent=2, ensure_ascii=False)
        print()


if __name__ == "__main__":
    main(sys.argv[1:])

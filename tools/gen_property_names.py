#!/usr/bin/env python3
"""Generates shellitems/property_names_table.cpp, the property-name table.

Source: the property keys of the Windows SDK as shipped in the MinGW-w64
headers (Debian package mingw-w64-x86-64-dev, include/propkey.h), plus the
shell keys that header lacks, taken from Microsoft's property system
reference. Each PKEY_A_B becomes its canonical name System.A.B.

usage: gen_property_names.py [propkey.h] > shellitems/property_names_table.cpp
"""
import re
import sys

DEFAULT_HEADER = "/usr/share/mingw-w64/include/propkey.h"

# Shell keys missing from the MinGW header (learn.microsoft.com, "System.*"
# property pages: formatID and propID).
EXTRA_KEYS = [
    ("System.ItemFolderNameDisplay", "B725F130-47EF-101A-A5F1-02608C9EEBAC", 2),
    ("System.ItemTypeText", "B725F130-47EF-101A-A5F1-02608C9EEBAC", 4),
    ("System.ItemNameDisplay", "B725F130-47EF-101A-A5F1-02608C9EEBAC", 10),
    ("System.Size", "B725F130-47EF-101A-A5F1-02608C9EEBAC", 12),
    ("System.ItemType", "28636AA6-953D-11D2-B5D6-00C04FD918D0", 11),
    ("System.ParsingName", "28636AA6-953D-11D2-B5D6-00C04FD918D0", 24),
    ("System.SFGAOFlags", "28636AA6-953D-11D2-B5D6-00C04FD918D0", 25),
    ("System.ParsingPath", "28636AA6-953D-11D2-B5D6-00C04FD918D0", 30),
    ("System.ItemFolderPathDisplayNarrow", "DABD30ED-0043-4789-A7F8-D013A4736622", 100),
    ("System.ItemFolderPathDisplay", "E3E0584C-B788-4A5A-BB20-7F5A44C9ACDD", 6),
    ("System.ItemPathDisplay", "E3E0584C-B788-4A5A-BB20-7F5A44C9ACDD", 7),
    ("System.ThumbnailCacheId", "446D16B1-8DAD-4870-A748-402EA43D788C", 100),
    ("System.VolumeId", "446D16B1-8DAD-4870-A748-402EA43D788C", 104),
    ("System.Photo.DateTaken", "14B81DA1-0135-4D31-96D9-6CBFC9671A99", 36867),
    ("System.Kind", "1E3EE840-BC2B-476C-8237-2ACD1A839B22", 3),
    ("System.Link.TargetParsingPath", "B9B4B3FC-2B51-4A42-B5D8-324146AFCF25", 2),
    # Packaged (UWP) application keys that the Applications folder's items carry.
    ("System.AppUserModel.HostEnvironment", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 14),
    ("System.AppUserModel.PackageInstallPath", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 15),
    ("System.AppUserModel.PackageFamilyName", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 17),
    ("System.AppUserModel.InstalledBy", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 18),
    ("System.AppUserModel.ParentID", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 19),
    ("System.AppUserModel.PackageFullName", "9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3", 21),
    ("System.Tile.SmallLogoPath", "86D40B4D-9069-443C-819A-2A54090DCCEC", 2),
    ("System.Tile.Background", "86D40B4D-9069-443C-819A-2A54090DCCEC", 4),
]

# Portable-device (WPD) keys that MTP shell items carry in their property
# records (Microsoft's PortableDevice.h: formatID and propID).
WPD_OBJECT = "EF6B490D-5CD8-437A-AFFC-DA8B60EE4A3C"
WPD_STORAGE = "01A3057A-74D6-4E80-BEA7-DC4C212CE50A"
EXTRA_KEYS += [("WPD_OBJECT_" + name, WPD_OBJECT, pid) for name, pid in [
    ("ID", 2), ("PARENT_ID", 3), ("NAME", 4), ("PERSISTENT_UNIQUE_ID", 5), ("FORMAT", 6),
    ("CONTENT_TYPE", 7), ("ISHIDDEN", 9), ("ISSYSTEM", 10), ("SIZE", 11),
    ("ORIGINAL_FILE_NAME", 12), ("NON_CONSUMABLE", 13), ("REFERENCES", 14), ("KEYWORDS", 15),
    ("SYNC_ID", 16), ("IS_DRM_PROTECTED", 17), ("DATE_CREATED", 18), ("DATE_MODIFIED", 19),
    ("DATE_AUTHORED", 20), ("BACK_REFERENCES", 21), ("CONTAINER_FUNCTIONAL_OBJECT_ID", 23),
    ("GENERATE_THUMBNAIL_FROM_RESOURCE", 24), ("HINT_LOCATION_DISPLAY_NAME", 25),
    ("CAN_DELETE", 26), ("LANGUAGE_LOCALE", 27)]]
EXTRA_KEYS += [("WPD_STORAGE_" + name, WPD_STORAGE, pid) for name, pid in [
    ("FILE_SYSTEM_TYPE", 3), ("CAPACITY", 4), ("FREE_SPACE_IN_BYTES", 5),
    ("FREE_SPACE_IN_OBJECTS", 6), ("DESCRIPTION", 7), ("SERIAL_NUMBER", 8),
    ("MAX_OBJECT_SIZE", 9), ("CAPACITY_IN_OBJECTS", 10), ("ACCESS_CAPABILITY", 11)]]
EXTRA_KEYS += [
    ("WPD_FUNCTIONAL_OBJECT_CATEGORY", "8F052D93-ABCA-4FC5-A5AC-B01DF4DBE598", 2),
    ("WPD_DEVICE_FRIENDLY_NAME", "26D4979A-E643-4626-9E2B-736DC0C92FDC", 12),
    ("WPD_CONTACT_DISPLAY_NAME", "FBD4FDAB-987D-4777-B3F9-726185A9312B", 2),
]

# Keys the shell writes into items whose names are not published: kept so
# their flags reach the decoder; they list by number.
UNNAMED_KEYS = [
    ("01A3057A-74D6-4E80-BEA7-DC4C212CE50A", 2),
    ("0B63E350-9CCC-11D0-BCDB-00805FCCCE04", 8),
    ("1E3EE840-BC2B-476C-8237-2ACD1A839B22", 8),
] + [("EEBB82B9-EACE-4AF7-AA64-B7F3C7C996B4", pid) for pid in (2, 5, 9, 10, 11, 12, 13, 14)]

# Flag bits: 0x40/0x80/0x100 make a FILETIME the item's created/modified/
# accessed time, 0x400 shows 1..4 through the attribute names, 0x800 always
# describes a 64-bit value, 0x1000 shows SFGAO names. Others are carried only.
FLAGS = {
    ("B725F130-47EF-101A-A5F1-02608C9EEBAC", 14): 0x90,
    ("B725F130-47EF-101A-A5F1-02608C9EEBAC", 15): 0x50,
    ("B725F130-47EF-101A-A5F1-02608C9EEBAC", 16): 0x110,
    ("B725F130-47EF-101A-A5F1-02608C9EEBAC", 21): 0x800,
    ("28636AA6-953D-11D2-B5D6-00C04FD918D0", 25): 0x1000,
    ("01A3057A-74D6-4E80-BEA7-DC4C212CE50A", 2): 0x400,
    ("0B63E350-9CCC-11D0-BCDB-00805FCCCE04", 8): 0x90,
    ("14B81DA1-0135-4D31-96D9-6CBFC9671A99", 36867): 0x50,
    ("1E3EE840-BC2B-476C-8237-2ACD1A839B22", 3): 0,
    ("1E3EE840-BC2B-476C-8237-2ACD1A839B22", 6): 0,
    ("1E3EE840-BC2B-476C-8237-2ACD1A839B22", 8): 6,
}
for _pid in (2, 5, 9, 10, 11, 12, 13, 14):
    FLAGS[("EEBB82B9-EACE-4AF7-AA64-B7F3C7C996B4", _pid)] = 0x2000

# Which key names an item that has no name of its own: 1 primary, 2 name,
# 3 secondary.
NAME_ROLES = {
    "System.ItemNameDisplay": 1,
    "System.ItemName": 2,
    "System.FileName": 2,
    "System.Title": 3,
}

DEFINE = re.compile(
    r"DEFINE_PROPERTYKEY\(\s*PKEY_(\w+)\s*,\s*"
    r"(0x[0-9a-fA-F]+)\s*,\s*(0x[0-9a-fA-F]+)\s*,\s*(0x[0-9a-fA-F]+)\s*,"
    r"((?:\s*0x[0-9a-fA-F]+\s*,){8})\s*(\d+)\s*\)")


def guid_text(l, w1, w2, b):
    return "%08X-%04X-%04X-%02X%02X-%s" % (l, w1, w2, b[0], b[1], "".join("%02X" % x for x in b[2:]))


def guid_bytes(text):
    parts = text.split("-")
    l, w1, w2 = int(parts[0], 16), int(parts[1], 16), int(parts[2], 16)
    tail = bytes.fromhex(parts[3] + parts[4])
    return l.to_bytes(4, "little") + w1.to_bytes(2, "little") + w2.to_bytes(2, "little") + tail


def read_header(path):
    rows = []
    with open(path, encoding="latin-1") as f:
        for m in DEFINE.finditer(f.read()):
            name = "System." + m.group(1).replace("_", ".")
            b = [int(x, 16) for x in m.group(5).replace(",", " ").split()]
            rows.append((name, guid_text(int(m.group(2), 16), int(m.group(3), 16),
                                         int(m.group(4), 16), b), int(m.group(6))))
    return rows


def main():
    header = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_HEADER
    table = {}
    for name, fmtid, pid in read_header(header) + EXTRA_KEYS:
        table.setdefault((fmtid, pid), name)  # the SDK header wins
    for fmtid, pid in UNNAMED_KEYS:
        table.setdefault((fmtid, pid), "")
    out = sys.stdout
    out.write("// Generated by tools/gen_property_names.py from the Windows SDK property\n"
              "// keys (MinGW-w64 propkey.h) and the shell keys it lacks. Do not edit.\n"
              "#include \"shellitems/property_names.h\"\n\n"
              "namespace lnk {\n\n"
              "const PropertyNameRow kPropertyNameRows[] = {\n")
    for (fmtid, pid), name in sorted(table.items(), key=lambda kv: (guid_bytes(kv[0][0]), kv[0][1])):
        g = ", ".join("0x%02x" % x for x in guid_bytes(fmtid))
        out.write('    {{%s}, %d, "%s", 0x%x, %d},\n'
                  % (g, pid, name, FLAGS.get((fmtid, pid), 0), NAME_ROLES.get(name, 0)))
    out.write("};\n\nconst size_t kPropertyNameRowCount = sizeof(kPropertyNameRows) / "
              "sizeof(kPropertyNameRows[0]);\n\n}  // namespace lnk\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Generates shellitems/guid_names_table.cpp.

Sources: a hand-kept list of shell-folder GUIDs that shortcuts carry as root
items (first, so their names win), then the known-folder IDs, shell CLSIDs,
folder-type IDs, view IDs and property-set IDs declared in the Windows SDK
headers of the MinGW-w64 distribution (Debian package mingw-w64-x86-64-dev).

Usage: tools/gen_guid_names.py [include_dir] > shellitems/guid_names_table.cpp
"""

import re
import sys

INCLUDE_DIR = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/mingw-w64/include"
HEADERS = ["knownfolders.h", "shlguid.h", "shobjidl.h", "exdisp.h"]

# Root folders met in shortcuts, named the way an examiner knows them.
CURATED = [
    ("00000000-0000-0000-0000-000000000000", "<none specified>"),
    ("20d04fe0-3aea-1069-a2d8-08002b30309d", "My Computer"),
    ("208d2c60-3aea-1069-a2d7-08002b30309d", "My Network Places"),
    ("645ff040-5081-101b-9f08-00aa002f954e", "Recycle Bin"),
    ("21ec2020-3aea-1069-a2dd-08002b30309d", "Control Panel"),
    ("26ee0668-a00a-44d7-9371-beb064c98683", "Control Panel"),
    ("5399e694-6ce5-4d6c-8fce-1d8870fdcba0", "Control Panel (Desktop and Start Menu)"),
    ("871c5380-42a0-1069-a2ea-08002b30309d", "Internet Explorer (Homepage)"),
    ("59031a47-3f72-44a7-89c5-5595fe6b30ee", "Shared Documents Folder (Users Files)"),
    ("ed228fdf-9ea8-4870-83b1-96b02cfe0d52", "My Games (Games Explorer)"),
    ("3080f90d-d7ad-11d9-bd98-0000947b0257", "Show Desktop"),
    ("3080f90e-d7ad-11d9-bd98-0000947b0257", "Window Switcher"),
    ("4336a54d-038b-4685-ab02-99bb52d3fb8b", "Public"),
    ("2559a1f3-21d7-11d4-bdaf-00c04f60b9f0", "Run..."),
    ("2559a1f1-21d7-11d4-bdaf-00c04f60b9f0", "Help and Support"),
    ("2559a1f2-21d7-11d4-bdaf-00c04f60b9f0", "Search"),
    ("2559a1f4-21d7-11d4-bdaf-00c04f60b9f0", "Internet"),
    ("2559a1f5-21d7-11d4-bdaf-00c04f60b9f0", "E-mail"),
    ("4234d49b-0245-4df3-b780-3893943456e1", "Applications"),
    ("22877a6d-37a1-461a-91b0-dbda5aaebc99", "Recent Places"),
    ("f02c1a0d-be21-4350-88b0-7367fc96ef3c", "Network (Computers and Devices)"),
    ("52205fd8-5dfb-447d-801a-d0b52f2e83e1", "File Explorer"),
    ("031e4825-7b94-4dc3-b131-e946b44c8dd5", "Libraries"),
    ("679f85cb-0220-4080-b29b-5540cc05aab6", "Quick Access"),
    ("018d5c66-4533-4307-9b53-224de2ed1fe6", "OneDrive"),
    ("450d8fba-ad25-11d0-98a8-0800361b1103", "My Documents"),
    ("e17d4fc0-5564-11d1-83f2-00a0c90dc849", "Search Results"),
    ("1f4de370-d627-11d1-ba4f-00a0c91eedba", "Search Results - Computers"),
    ("9343812e-1c37-4a49-a12e-4b2d810d956b", "Search Home"),
    ("04731b67-d933-450a-90e6-4acd2e9408fe", "Search Folder"),
    ("2227a280-3aea-1069-a2de-08002b30309d", "Printers"),
    ("992cffa0-f557-101a-88ec-00dd010ccc48", "Network Connections"),
    ("7007acc7-3202-11d1-aad2-00805fc1270e", "Network Connections"),
    ("d20ea4e1-3957-11d2-a40b-0c5020524153", "Administrative Tools"),
    ("7be9d83c-a729-4d97-b5a7-1b7313c39e0a", "Programs Folder"),
    ("865e5e76-ad83-4dca-a109-50dc2113ce9a", "Programs Folder and Fast Items"),
    ("b4bfcc3a-db2c-424c-b029-7fe99a87c641", "Desktop"),
    ("d3162b92-9365-467a-956b-92703aca08af", "Documents"),
    ("088e3905-0323-4b02-9826-5d99428e115f", "Downloads"),
    ("24ad3ad4-a569-4530-98e1-ab02f9417aa8", "Pictures"),
    ("3dfdf296-dbec-4fb4-81d1-6a3438bcf4de", "Music"),
    ("f86fa3ab-70d2-4fc7-9c99-fcbf05467f3a", "Videos"),
    ("0db7e03f-fc29-4dc6-9020-ff41b59e513a", "3D Objects"),
    ("a8cdff1c-4878-43be-b5fd-f8091c1c60d0", "Documents"),
    ("374de290-123f-4565-9164-39c4925e467b", "Downloads"),
    ("1cf1260c-4dd0-4ebb-811f-33c572699fde", "Music"),
    ("3add1653-eb32-4cb0-bbd7-dfa0abb5acca", "Pictures"),
    ("a0953c92-50dc-43bf-be83-3742fed03c9c", "Videos"),
    ("35786d3c-b075-49b9-88dd-029876e11c01", "Portable Devices"),
    ("6785bfac-9d2d-4be5-b7e2-59937e8fb80a", "Other Users Folder"),
    ("ed7ba470-8e54-465e-825c-99712043e01c", "All Tasks"),
    ("bd84b380-8ca2-1069-ab1d-08000948f534", "Fonts"),
    ("d6277990-4c6a-11cf-8d87-00aa0060f5bf", "Scheduled Tasks"),
    ("85bbd920-42a0-1069-a2e4-08002b30309d", "Briefcase"),
    ("8e908fc9-becc-40f6-915b-f4ca0e70d03d", "Network and Sharing Center"),
    ("7b81be6a-ce2b-4676-a29e-eb907a5126c5", "Programs and Features"),
    ("9c73f5e5-7ae7-4e32-a8e8-8d23b85255bf", "Sync Center"),
    ("a3dd4f92-658a-410f-84fd-6fbbbef2fffe", "Internet Options"),
    ("87d66a43-7b11-4a28-9811-c86ee395acf7", "Indexing Options"),
    ("a304259d-52b8-4526-8b1a-a1d6cecc8243", "iSCSI Initiator"),
    ("78f3955e-3b90-4184-bd14-5397c15f1efc", "Performance Information and Tools"),
    ("d555645e-d4f8-4c29-a827-d93c859c4f2a", "Ease of Access Center"),
    ("bb06c0e4-d293-4f75-8a90-cb05b6477eee", "System"),
    ("36eef7db-88ad-4e81-ad49-0e313f0c35f8", "Windows Update"),
    ("60632754-c523-4b62-b45c-4172da012619", "User Accounts"),
    ("9fe63afd-59cf-4419-9775-abcc3849f861", "Recovery"),
    ("17cd9488-1228-4b2f-88ce-4298e93e0966", "Default Programs"),
    ("c555438b-3c23-4769-a71f-b6d3d9b6053a", "Display"),
    ("ed834ed6-4b5a-4bfe-8f11-a626dcb6a921", "Personalization"),
    ("c58c4893-3be0-4b45-abb5-a63e4b8c8651", "Troubleshooting"),
    ("bb64f8a7-bee7-4e1a-ab8d-7d8273f7fdb6", "Action Center"),
    ("f2ddfc82-8f12-4cdd-b7dc-d4fe1425aa4d", "Sound"),
    ("025a5937-a6be-4686-a844-36fe4bec8b6d", "Power Options"),
    ("e2e7934b-dce5-43c4-9576-7fe4f75e7480", "Date and Time"),
    ("62d8ed13-c9d0-4ce8-a914-47dd628fb1b0", "Region and Language"),
    ("5ea4f148-308c-46d7-98a9-49041b1dd468", "Mobility Center"),
    ("a8a91a66-3a7d-4424-8d24-04e180695c7a", "Devices and Printers"),
    ("74246bfc-4c96-11d0-abef-0020af6b0b7a", "Device Manager"),
    ("b98a2bea-7d42-4558-8bd1-832f41bac6fd", "Backup and Restore"),
    ("15eae92e-f17a-4431-9f28-805e482dafd4", "Get Programs"),
    ("5e6c858f-0e22-4760-9afe-ea3317b67173", "Profile"),
    ("1777f761-68ad-4d8a-87bd-30b759fa33dd", "Favorites"),
    ("f3364ba0-65b9-11ce-a9ba-00aa004ae837", "Shell File System Folder"),
    ("0ac0837c-bbf8-452a-850d-79d08e667ca7", "Computer"),
    ("c4aa340d-f20f-4863-afef-f87ef2e6ba25", "Public Desktop"),
    ("ed4824af-dce4-45a8-81e2-fc7965083634", "Public Documents"),
    ("f38bf404-1d43-42f2-9305-67de0b28fc23", "Windows"),
    ("1ac14e77-02e7-4e5d-b744-2eb1ae5198b7", "System32"),
    ("905e63b6-c1bf-494e-b29c-65b732d3d21a", "Program Files"),
    ("7c5a40ef-a0fb-4bfc-874a-c0f2e0b9fa8e", "Program Files (x86)"),
    ("62ab5d82-fdc1-4dc3-a9dd-070d1d495d97", "ProgramData"),
    ("f1b32785-6fba-4fcf-9d55-7b8e7f157091", "Local AppData"),
    ("3eb685db-65f9-4cf6-a03a-e3ef65729f3d", "Roaming AppData"),
    ("a77f5d77-2e2b-44c3-a6a2-aba601054a51", "Programs"),
    ("625b53c3-ab48-4ec1-ba1f-a1ef4146fc19", "Start Menu"),
]

# Identifier prefixes taken from the headers, and the text added to their names.
PREFIXES = [
    ("FOLDERID_", ""),
    ("CLSID_", ""),
    ("FOLDERTYPEID_", " (folder type)"),
    ("VID_", " view"),
    ("FMTID_", " (property set)"),
]

DEFINE = re.compile(
    r"DEFINE_(?:GUID|KNOWN_FOLDER)\s*\(\s*(\w+)\s*,\s*(0x[0-9a-fA-F]+)\s*,\s*(0x[0-9a-fA-F]+)\s*,"
    r"\s*(0x[0-9a-fA-F]+)\s*,((?:\s*0x[0-9a-fA-F]+\s*,?){8})\s*\)")


def split_words(identifier):
    # "ProgramFilesX86" -> "Program Files X86"; runs of capitals stay together.
    words = re.findall(r"[A-Z]+\d*(?=[A-Z][a-z])|[A-Z]?[a-z]+\d*|[A-Z]+\d*|\d+", identifier)
    return " ".join(words) if words else identifier


def guid_bytes_from_text(text):
    parts = text.split("-")
    d1, d2, d3 = int(parts[0], 16), int(parts[1], 16), int(parts[2], 16)
    tail = bytes.fromhex(parts[3] + parts[4])
    return d1.to_bytes(4, "little") + d2.to_bytes(2, "little") + d3.to_bytes(2, "little") + tail


def header_entries():
    for header in HEADERS:
        try:
            text = open(f"{INCLUDE_DIR}/{header}", encoding="latin-1").read()
        except OSError:
            continue
        for m in DEFINE.finditer(text):
            ident = m.group(1)
            for prefix, suffix in PREFIXES:
                if ident.startswith(prefix):
                    break
            else:
                continue
            d1, d2, d3 = (int(m.group(i), 16) for i in (2, 3, 4))
            tail = bytes(int(b, 16) for b in re.findall(r"0x[0-9a-fA-F]+", m.group(5)))
            raw = d1.to_bytes(4, "little") + d2.to_bytes(2, "little") + d3.to_bytes(2, "little") + tail
            yield raw, split_words(ident[len(prefix):]) + suffix


def main():
    seen = set()
    rows = []
    for text, name in CURATED:
        raw = guid_bytes_from_text(text)
        if raw not in seen:
            seen.add(raw)
            rows.append((raw, name))
    for raw, name in header_entries():
        if raw not in seen:
            seen.add(raw)
            rows.append((raw, name))
    out = sys.stdout
    out.write("// GENERATED by tools/gen_guid_names.py; do not edit by hand.\n")
    out.write('#include "shellitems/guid_names.h"\n\nnamespace lnk {\n\n')
    out.write("const GuidNameRow kGuidNameRows[] = {\n")
    for raw, name in rows:
        body = ", ".join(f"0x{b:02x}" for b in raw)
        escaped = name.replace("\\", "\\\\").replace('"', '\\"')
        out.write(f'    {{{{{body}}}, "{escaped}"}},\n')
    out.write("};\n\n")
    out.write("const size_t kGuidNameRowCount = sizeof(kGuidNameRows) / sizeof(kGuidNameRows[0]);\n\n")
    out.write("}  // namespace lnk\n")
    print(f"{len(rows)} rows", file=sys.stderr)


if __name__ == "__main__":
    main()

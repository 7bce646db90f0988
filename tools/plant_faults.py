#!/usr/bin/env python3
"""Plants single-line faults in the program, one at a time, and records which
test catches each: the measure of what the suite is worth, taken before and
after the tests are reshaped.

Each fault replaces one exact piece of one line in a named file. For every
fault the runner applies it, rebuilds incrementally, runs the tests until the
first failure (the tests of the fault's layer first, then the rest of the
GoogleTest binary, then the script tests), and restores the file from git,
also when interrupted. The table goes to --out (Markdown), one row per fault,
rewritten after every fault so a stopped run keeps what it measured.

  tools/plant_faults.py --build build --out /tmp/faults.md
  tools/plant_faults.py --list
  tools/plant_faults.py --only N3,J1 --build build
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time

# (id, file, exact text on one line, replacement, what it breaks)
FAULTS = [
    # platform: the bounds-checked reader
    ("P1", "platform/byte_reader.cpp", "(bytes_[off + 1] << 8)", "(bytes_[off + 1] << 9)",
     "u16 high byte shifted wrong"),
    ("P2", "platform/byte_reader.cpp", "while (end + 1 < n && (bytes_[off + end]", "while (end + 3 < n && (bytes_[off + end]",
     "utf16z drops the last unit of an unterminated string"),
    ("P3", "platform/byte_reader.cpp", "while (end < n && bytes_[off + end] != 0) ++end;",
     "while (end + 1 < n && bytes_[off + end] != 0) ++end;", "ansiz drops the last byte of an unterminated string"),
    ("P4", "platform/byte_reader.cpp", "len < avail ? len : avail));", "len < avail ? len : avail - 1));",
     "sub() cut one byte short at the end"),
    ("P5", "platform/platform_posix.cpp", 'read_sys_number(dir + "/start", start)', 'read_sys_number(dir + "/size", start)',
     "partition start read from its size"),
    # core: time
    ("C1", "core/time_value.cpp", "((days + 1) % 7)", "((days + 2) % 7)", "day of week shifted"),
    ("C2", "core/time_value.cpp", "if (years == 4) years = 3;", "if (years == 5) years = 3;",
     "31 December of a leap year"),
    ("C3", "core/time_value.cpp", "t.millisecond = static_cast<uint16_t>(fraction / 10000);",
     "t.millisecond = static_cast<uint16_t>(fraction / 1000);", "milliseconds scaled wrong"),
    # storage: byte sources
    ("S1", "storage/window_source.cpp", "std::min<uint64_t>(buffer.size(), length_ - offset);",
     "std::min<uint64_t>(buffer.size(), length_ - offset + 1);", "window reads one byte past its end"),
    ("S2", "storage/disk_source.cpp", "out.start = offset - out.skip;", "out.start = offset;",
     "sector-aligned read not aligned"),
    ("S3", "storage/extent_source.cpp", "return offset - e.file_offset < e.length ? index : extents_.size();",
     "return offset - e.file_offset <= e.length ? index : extents_.size();", "extent lookup one past its end"),
    ("S4", "storage/extent_source.cpp", "if (at >= valid_size_) {", "if (at > valid_size_) {",
     "byte at the valid size not zeroed"),
    ("S5", "storage/vmdk_sparse.cpp", "h.version > kHighestVersion)", "h.version > kHighestVersion - 1)",
     "newest sparse extent version refused"),
    ("S6", "storage/split_names.cpp", "if (number <= 99) {", "if (number < 99) {",
     "E99 segment named wrong"),
    # storage: shadow copies
    ("V1", "storage/vss_source.cpp", "for (size_t index = listed.size(); index-- > 0;) {",
     "for (size_t index = 0; index < listed.size(); ++index) {", "damage marked on the later stores"),
    ("V2", "storage/vss_source.cpp", "catalog_damaged_ = catalog_end == ChainEnd::cut;", "catalog_damaged_ = false;",
     "a cut catalog not marked"),
    ("V3", "storage/vss_store_map.cpp", "const bool usable = budget > 0 && visited.insert(block).second &&",
     "const bool usable = budget > 0 &&", "a chain that loops walked until the budget runs out"),
    ("V4", "storage/vss_store_map.cpp", "ByteReader(bytes).u32(kShadowBlockVersionField) == kShadowBlockVersion &&",
     "", "store block version not checked"),
    ("V5", "storage/vss_store_map.cpp", "if ((forwarder && overlay) || !fits(target, kShadowBlockSize, volume_size)) {",
     "if (!fits(target, kShadowBlockSize, volume_size)) {", "an entry both forwarder and overlay taken"),
    ("V6", "storage/vss_store_map.cpp", "if ((forwarder && overlay) || !fits(target, kShadowBlockSize, volume_size)) {",
     "if (forwarder && overlay) {", "saved bytes past the volume taken"),
    ("V7", "storage/vss_source.cpp", "const uint64_t size = std::min(info.volume_size, shared_->volume_size);",
     "const uint64_t size = info.volume_size;", "a view as large as the catalog claims"),
    ("V8", "storage/vss_source.cpp", "if (index_ == newest && unused && !shared.maps[store].forwarded_from(block))",
     "if (unused && !shared.maps[store].forwarded_from(block))", "unused blocks zero in older views too"),
    ("V9", "storage/vss_store_map.cpp", "if (forwarder && original == relative) return;", "",
     "a forwarder to the block it replaces kept"),
    ("V10", "storage/vss_store_map.cpp", "  return {volume_blocks / 256 + 64, volume_blocks / kBitsPerBitmapBlock + 2};",
     "  return {UINT64_MAX, UINT64_MAX};", "chains walked without a budget"),
    ("V11", "storage/vss_source.cpp", "size_ - std::min(offset, size_), kReadAheadMemory});",
     "size_ - std::min(offset, size_)});", "a view announces more than read ahead holds"),
    # ntfs
    ("N1", "ntfs/mft_record.cpp", "const uint64_t at = i * stride - 2;", "const uint64_t at = i * stride - 1;",
     "fixup written one byte off"),
    ("N2", "ntfs/mft_record.cpp", "(raw >> (offset_size * 8 - 1)) & 1)", "(raw >> (offset_size * 8 - 2)) & 1)",
     "data run offset sign taken from the wrong bit"),
    ("N3", "ntfs/mft_record.cpp", "length = (length << 8) | r.u8(position + i);",
     "length = (length << 8) | r.u8(position + i - 1);", "data run length read one byte early"),
    ("N4", "ntfs/mft_record.cpp", "kFnNameSpaceField = 65;", "kFnNameSpaceField = 64;",
     "file name namespace field offset"),
    ("N5", "ntfs/mft_record.cpp", "kSiAccessedField = 24;", "kSiAccessedField = 16;",
     "$STANDARD_INFORMATION accessed field offset"),
    ("N6", "ntfs/lznt1.cpp", "p >= 0x10; p >>= 1", "p > 0x10; p >>= 1", "LZNT1 length/displacement split"),
    ("N7", "ntfs/lznt1.cpp", "kMinimumMatch = 3;", "kMinimumMatch = 2;", "LZNT1 shortest match"),
    ("N8", "ntfs/ntfs_volume.cpp", "kMftClusterField = 48;", "kMftClusterField = 56;",
     "boot sector: MFT mirror taken for the MFT"),
    ("N9", "ntfs/mft_record.cpp", "out.starting_vcn = e.u64(kListStartingVcnField);", "out.starting_vcn = 0;",
     "attribute list starting VCN ignored"),
    ("N10", "ntfs/file_data.cpp", "return packed != nullptr && packed->map(offset, in_volume);", "return false;",
     "records in compressed files placed at their MFT record"),
    ("N11", "ntfs/path_lookup.cpp", "sequence == 0xFFFF ? 1 : sequence + 1;", "sequence == 0xFFFF ? 1 : sequence + 2;",
     "a freed folder not told by its sequence one ahead"),
    # images: partition tables
    ("I1", "images/partition_table.cpp", "if (is_extended(e.type)) return e.start + base;",
     "if (is_extended(e.type)) return e.start + record_lba;", "EBR link taken relative to the record"),
    ("I2", "images/partition_table.cpp", "return type == 0x05 || type == 0x0F;", "return type == 0x05;",
     "LBA extended type not followed"),
    ("I3", "images/partition_table.cpp", "add(e.start + record_lba, e.sectors, e.type);",
     "add(e.start + base, e.sectors, e.type);", "logical partition relative to the extended base"),
    ("I4", "images/partition_table.cpp", "kGptEntryFirstLbaOffset = 32;", "kGptEntryFirstLbaOffset = 40;",
     "GPT entry first LBA offset"),
    ("I5", "images/partition_table.cpp", "kGptEntryNameOffset = 56;", "kGptEntryNameOffset = 58;",
     "GPT entry name offset"),
    ("I6", "images/partition_table.cpp", "extended(e.start);", "extended(e.start); return true;",
     "MBR slots after the extended entry ignored"),
    # lnk
    ("L1", "lnk/parse_lnk.cpp", "idlist_size >= 2 ? idlist_size - 2 : 0;", "idlist_size >= 2 ? idlist_size - 1 : 0;",
     "ID list item bytes one too many"),
    ("L2", "lnk/link_info.cpp", "kCommonPathSuffixOffsetField = 24;", "kCommonPathSuffixOffsetField = 20;",
     "link info common path suffix offset"),
    ("L3", "lnk/link_info.cpp", "\"%02x%02x-%02x%02x\", (serial >> 24) & 0xFF,",
     "\"%02x%02x-%02x%02x\", (serial >> 16) & 0xFF,", "volume serial byte order"),
    ("L4", "lnk/string_data.cpp", "return bytes.utf16z(data, uint64_t{count} * 2);",
     "return bytes.utf16z(data, uint64_t{count} * 2 - 2);", "UTF-16 string data loses its last character"),
    ("L5", "lnk/extra_blocks.cpp", "block.u32(140 + 4 * i);", "block.u32(136 + 4 * i);",
     "console color table offset"),
    ("L6", "lnk/extra_blocks.cpp", "kTargetUnicodeOffset = 268;", "kTargetUnicodeOffset = 264;",
     "environment block Unicode target offset"),
    ("L7", "lnk/extra_blocks.cpp", "kSpecialFolderOffsetField = 12;", "kSpecialFolderOffsetField = 16;",
     "special folder block offset field"),
    ("L8", "lnk/parse_lnk.cpp", "if (block_size < kExtraBlockHeader || block_size > rest || pos + block_size >= length ||",
     "if (block_size < kExtraBlockHeader || block_size > rest + 8 || pos + block_size >= length + 8 ||",
     "extra block walk bound"),
    ("L9", "lnk/string_data.cpp", "const uint64_t unit = unicode ? 2 : 1;", "const uint64_t unit = 2;",
     "ANSI StringData advanced as UTF-16"),
    ("L10", "lnk/string_data.cpp", "std::min<uint32_t>(count, kWindowsLimit) : count;", "count : count;",
     "StringData read to its count where Windows stops at 260"),
    # shellitems
    ("H1", "shellitems/idlist.cpp", "if (size <= 4 || size > remaining) break;",
     "if (size <= 4 || size >= remaining) break;", "last shell item that fills the list dropped"),
    ("H2", "shellitems/property_store.cpp", "kIdValueTypeOffset = 9;", "kIdValueTypeOffset = 8;",
     "property value type offset"),
    ("H3", "shellitems/property_store.cpp", "kStorageFormatIdOffset = 8;", "kStorageFormatIdOffset = 12;",
     "property storage format ID offset"),
    # jumplist
    ("J1", "jumplist/destlist.cpp", "kLastAccessField = 100;", "kLastAccessField = 104;",
     "DestList last access offset"),
    ("J2", "jumplist/destlist.cpp", "kPinStatusField = 108;", "kPinStatusField = 112;",
     "DestList pin status offset"),
    ("J3", "jumplist/destlist.cpp", "kV2PathField = 130;", "kV2PathField = 128;", "DestList v2 path offset"),
    ("J4", "jumplist/compound_file.cpp", "kEntryStartSectorField = 116;", "kEntryStartSectorField = 120;",
     "compound file directory start sector offset"),
    ("J5", "jumplist/compound_file.cpp", "entry.stream_size < file.mini_stream_cutoff && !root;",
     "entry.stream_size <= file.mini_stream_cutoff && !root;", "stream of exactly the cutoff read as mini"),
    ("J6", "jumplist/compound_file.cpp", "i + 1 < per_difat && list.size() < fat_sectors;",
     "i < per_difat && list.size() < fat_sectors;", "DIFAT chain pointer read as a FAT sector"),
    ("J7", "jumplist/custom_destinations.cpp", "i + 1 < hits.size() ? hits[i + 1] : all.size();",
     "i + 1 < hits.size() ? hits[i + 1] - 1 : all.size();", "carved custom destination cut one byte short"),
    ("J8", "jumplist/jumplist.cpp", "number = number * 16 + static_cast<uint64_t>(d - '0');",
     "number = number * 10 + static_cast<uint64_t>(d - '0');", "stream number read as decimal"),
    # report writers
    ("R1", "report/text_report.cpp", "out << \" [\" << (i + 1) << \"] \" << escape_controls(texts[i]) << '\\n';",
     "out << \" [\" << (i) << \"] \" << escape_controls(texts[i]) << '\\n';", "text report list numbered from 0"),
    ("R6", "report/escape_text.cpp", "if (c < 0x20 || c == 0x7F) return c == 0 ? 0x100 : c;",
     "if (c < 0x0A || c == 0x7F) return c == 0 ? 0x100 : c;", "a line feed or ESC reaches the line-based layouts raw"),
    ("R2", "report/csv_report.cpp", "if (r.mru_index > 0 && r.mru_index < kNoMruIndex)",
     "if (r.mru_index > 1 && r.mru_index < kNoMruIndex)", "CSV MRU index 1 lost"),
    ("R3", "report/csv_report.cpp", "if (text.size() >= 2) text.resize(text.size() - 2);",
     "if (text.size() >= 2) text.resize(text.size() - 1);", "CSV labelled list keeps a separator"),
    ("R4", "report/json_text.cpp", "plain[c] = c != '\"' && c != '\\\\';", "plain[c] = c != '\"';",
     "JSON backslash not escaped"),
    ("R5", "report/timeline_report.cpp", "<< '|' << bodyfile_seconds(values.target_accessed) << '|'",
     "<< '|' << bodyfile_seconds(values.target_modified) << '|'", "body file atime from mtime"),
    # producers: carver and MFT scan
    ("K1", "carve/carve_range.cpp", "bytes = chunk.subspan(pos, context.hits[i + 1].position - pos);",
     "bytes = chunk.subspan(pos, context.hits[i + 1].position - pos - 1);", "carved record cut one byte short"),
    ("K2", "scan/mft_scan.cpp", "(bitmap.data[cluster / 8] >> (cluster % 8)) & 1;",
     "(bitmap.data[cluster / 8] >> (7 - cluster % 8)) & 1;", "cluster bitmap read MSB first"),
    ("K3", "scan/mft_scan.cpp", "if (view.bytes.size() < kSmallestScannedRecord ||",
     "if (view.bytes.size() <= kSmallestScannedRecord ||", "1,024-byte records skipped"),
    ("K4", "carve/process_file.cpp", "const uint64_t last = size > kHeaderBytes ? size - kHeaderBytes : 0;",
     "const uint64_t last = size > kHeaderBytes ? size - kHeaderBytes - 1 : 0;", "file scan stops one byte early"),
    # cmdline
    ("M1", "cmdline/options.cpp", "if (c >= '0' && c <= '9') d =", "if (c >= '0' && c <= '8') d =",
     "digit 9 refused in numbers"),
    ("M2", "cmdline/options.cpp", "if (dot != std::string::npos && dot > 0) name.resize(dot);",
     "if (dot != std::string::npos && dot > 0) name.resize(dot + 1);", "file name stem keeps its dot"),
]

# The tests to try first for a fault in each folder: most faults fall there,
# so a caught fault costs seconds instead of the whole suite.
FIRST_TESTS = {
    "platform": "ByteReader.*:Text.*:CodePage*:Utf.*:ParseLinkInfo.*:ParseStringData.*:DecoderFields.*",
    "core": "TimeValue*:TimeFormats.*",
    "storage": "*Source*:*Vmdk*:*Split*:AlignedSpan.*:Ewf*:*Shadow*:ChainFixture.*:ReadAhead.*:QemuTest.*",
    "ntfs": "Ntfs*:Mft*:Lznt1.*:Fixups.*:DataRuns.*:AttributeWalker.*:AttributeList.*:RecordValues.*:IndexNode.*",
    "images": "MbrReader.*:GptReader.*:PartitionTypeName.*:BuiltDisks*:CorpusDisks*:BlockDevice.*:ImageScan.*",
    "lnk": "Parse*:DecoderFields.*:ExtraBlocks*:CorpusRobustness.*:*Signature*:Names.*:RecordDump*",
    "shellitems": "Idlist*:PropertyStore*:PropertyDescription.*:ExtensionBlocks.*:RenderIdlist.*:DecoderFields.*",
    "jumplist": "JumpList*:DestList.*:CompoundFile.*:CustomDestinations.*:AppIds.*",
    "report": "TextReport.*:CsvReport.*:JsonText.*:BodyFile.*:Log2Timeline.*:Mactime.*:MacbMerge.*:Html*",
    "carve": "Carve.*:RawScan.*:ProcessFile.*:QuickPass.*",
    "scan": "ScanFixture.*:ScanCorpus.*:ScanFileKind.*:VssScan.*",
    "cmdline": "Option*:NumberParser.*:DriverTest.*:PipeRun.*:PipeNames.*",
}

SCRIPT_TESTS = "^(LayerRule|JsonLayout|Timesketch|HtmlReport)$"

interrupted = False


def on_signal(signum, frame):
    global interrupted
    interrupted = True
    raise KeyboardInterrupt


def run(cmd, cwd, timeout):
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b"") + (e.stderr or b"")
        return "timeout", out.decode(errors="replace") if isinstance(out, bytes) else out


def first_failure(output):
    m = re.search(r"^\[  FAILED  \] (\S+)", output, re.M)
    return m.group(1) if m else None


def gtest(binary, tree, test_filter, timeout):
    code, out = run([binary, "--gtest_brief=1", "--gtest_fail_fast", "--gtest_filter=" + test_filter], tree, timeout)
    if code == 0:
        return None
    if code == "timeout":
        return "timeout (" + test_filter + ")"
    return first_failure(out) or "exit %s (%s)" % (code, out.strip().splitlines()[-1:] or "")


def run_suite(tree, build, layer, timeout):
    binary = os.path.join(build, "rook_tests")
    first = FIRST_TESTS.get(layer, "")
    if first:
        caught = gtest(binary, tree, first, timeout)
        if caught:
            return caught
    caught = gtest(binary, tree, "*" + ("-" + first if first else ""), timeout)
    if caught:
        return caught
    code, out = run(["ctest", "--test-dir", build, "-R", SCRIPT_TESTS, "--stop-on-failure"], tree, timeout)
    if code != 0:
        m = re.search(r"\d+ - (\S+) \(Failed|Timeout\)", out)
        m = re.search(r"\d+ - (\S+) \((?:Failed|Timeout)\)", out) or m
        return "ctest " + (m.group(1) if m else "failed")
    return None


def apply_fault(tree, fault):
    fid, path, old, new, _ = fault
    full = os.path.join(tree, path)
    with open(full, encoding="utf-8") as f:
        text = f.read()
    if text.count(old) != 1:
        raise ValueError("%s: %r occurs %d times in %s" % (fid, old, text.count(old), path))
    with open(full, "w", encoding="utf-8") as f:
        f.write(text.replace(old, new))


def restore(tree, path):
    subprocess.run(["git", "checkout", "--", path], cwd=tree, check=True)
    os.utime(os.path.join(tree, path))


def write_table(out_path, rows, started):
    caught = sum(1 for r in rows if r[3] == "caught")
    missed = sum(1 for r in rows if r[3] == "missed")
    lines = ["| fault | file | what it breaks | result | first failing test | seconds |",
             "|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %s |" % " | ".join(str(x) for x in r))
    lines.append("")
    lines.append("caught %d, missed %d, not built %d, of %d; %d s" %
                 (caught, missed, len(rows) - caught - missed, len(rows), time.time() - started))
    text = "\n".join(lines) + "\n"
    if out_path:
        with open(out_path, "w") as f:
            f.write(text)
    return text


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    ap.add_argument("--build", default="build", help="configured build folder (relative to the tree)")
    ap.add_argument("--out", help="Markdown table, rewritten after every fault")
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--list", action="store_true", help="check every fault applies, print them, plant nothing")
    ap.add_argument("--timeout", type=int, default=900, help="seconds per test run")
    ap.add_argument("--until", help="start no fault after this UTC time (HH:MM)")
    args = ap.parse_args()
    tree = args.tree
    build = os.path.join(tree, args.build)
    faults = FAULTS
    if args.only:
        wanted = set(args.only.split(","))
        faults = [f for f in FAULTS if f[0] in wanted]

    # Round-robin over the layers, so a run stopped early has touched each.
    groups = {}
    for f in faults:
        groups.setdefault(f[0][0], []).append(f)
    faults = [g[i] for i in range(max(len(g) for g in groups.values())) for g in groups.values() if i < len(g)]

    bad = 0
    for fid, path, old, _, _ in faults:
        with open(os.path.join(tree, path), encoding="utf-8") as f:
            n = f.read().count(old)
        if n != 1:
            print("%s: %r occurs %d times in %s" % (fid, old, n, path))
            bad += 1
    if args.list or bad:
        for f in faults:
            print("%-3s %-34s %s" % (f[0], f[1], f[4]))
        print("%d faults, %d do not apply" % (len(faults), bad))
        return 1 if bad else 0

    files = sorted({f[1] for f in faults})
    dirty = subprocess.run(["git", "diff", "--quiet", "--"] + files, cwd=tree).returncode
    if dirty:
        print("the fault files have local changes; commit or stash them first", file=sys.stderr)
        return 1

    signal.signal(signal.SIGTERM, on_signal)
    started = time.time()
    rows = []
    try:
        for fault in faults:
            if args.until and time.strftime("%H:%M", time.gmtime()) >= args.until:
                print("stopped at " + args.until + "; the rest not planted", flush=True)
                break
            fid, path, _, _, what = fault
            t0 = time.time()
            try:
                apply_fault(tree, fault)
                code, out = run(["cmake", "--build", build, "-j2"], tree, 3600)
                if code != 0:
                    result, by = "not built", (out.strip().splitlines() or [""])[-1][:80]
                else:
                    caught = run_suite(tree, build, path.split("/")[0], args.timeout)
                    result, by = ("caught", caught) if caught else ("missed", "")
            finally:
                restore(tree, path)
            rows.append((fid, path, what, result, by, int(time.time() - t0)))
            print("%s %s %s" % (fid, result, by), flush=True)
            write_table(args.out, rows, started)
    except KeyboardInterrupt:
        print("interrupted; the planted file is restored", file=sys.stderr)
    # Leave the build matching the clean sources.
    run(["cmake", "--build", build, "-j2"], tree, 3600)
    print(write_table(args.out, rows, started))
    return 130 if interrupted else 0


if __name__ == "__main__":
    sys.exit(main())

// The storage layer's byte sources on data built in memory: files pieced
// from extents of a parent, windows, the loop of pieced reads, whole-sector
// reads of images and devices; VMware disks (descriptors, headers, grain
// tables that point anywhere, chains by content ID and the set check); and
// shadow copies over a small volume whose every block says where it came
// from: the stores and views rook's reader gives of it, sound and damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "cmdline/partition_listing.h"
#include "platform/text.h"
#include "storage/disk_source.h"
#include "storage/extent_source.h"
#include "storage/memory_source.h"
#include "storage/read_ahead.h"
#include "storage/vmdk_chain.h"
#include "storage/vmdk_descriptor.h"
#include "storage/vss_source.h"
#include "storage/window_source.h"
#include "tests/image_test_support.h"
#include "tests/vmdk_builder.h"
#include "tests/vss_volume_builder.h"

namespace lnk {
namespace {

using test::build_sparse;
using test::described;
using test::MemoryFiles;
using test::SparseDisk;
using Builder = test::ShadowVolumeBuilder;

std::vector<uint8_t> numbered(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + i / 256);
  return b;
}

// File bytes 0-99 from parent 500-599, 100-149 sparse, 150-199 not mapped,
// 200-299 from parent 0-99; size 320 (the rest past the last extent).
TEST(ExtentSource, ReadsAcrossPiecesZerosAndHoles) {
  const std::vector<uint8_t> parent_bytes = numbered(1000);
  MemorySource parent(parent_bytes);
  const std::vector<Extent> extents = {{0, 100, 500, false}, {100, 50, 0, true}, {200, 100, 0, false}};
  ExtentSource file(parent, extents, 320, 260);
  EXPECT_EQ(std::make_pair(file.well_formed(), file.size()), std::make_pair(true, uint64_t{320}));
  struct Case { uint64_t offset, length; int64_t result; };
  for (const Case& c : {Case{0, 100, 100}, Case{90, 40, 40}, Case{140, 10, 10}, Case{140, 20, -1},
                        Case{200, 50, 50}, Case{250, 70, 70}, Case{300, 100, 20}, Case{320, 5, 0}}) {
    std::vector<uint8_t> out(c.length, 0xEE);
    ASSERT_EQ(file.read_at(c.offset, out), c.result) << c.offset << "+" << c.length;
    for (int64_t i = 0; i < c.result; ++i) {
      const uint64_t at = c.offset + static_cast<uint64_t>(i);
      uint8_t expected = 0;
      if (at < 100) expected = parent_bytes[500 + at];
      if (at >= 200 && at < 260) expected = parent_bytes[at - 200];  // valid size ends at 260
      ASSERT_EQ(out[static_cast<size_t>(i)], expected) << at;
    }
  }
  const auto mapped = [&](uint64_t at) {
    uint64_t to = 0;
    return file.map(at, to) ? static_cast<int64_t>(to) : -1;
  };
  EXPECT_EQ((std::vector<int64_t>{mapped(99), mapped(299), mapped(120), mapped(170), mapped(320)}),
            (std::vector<int64_t>{599, 99, -1, -1, -1}));

  // What a scan may pass over: sparse runs and bytes past the valid size
  // hold zeros, the hole stores nothing; a window sees the same, clipped.
  const std::pair<uint64_t, HoldingRun> runs[] = {
      {0, {Holding::data, 100}},         {120, {Holding::zeros, 150}}, {150, {Holding::not_stored, 200}},
      {230, {Holding::data, 260}},       {260, {Holding::zeros, 320}}};
  for (const auto& [offset, run] : runs) EXPECT_EQ(file.holding_at(offset), run) << offset;
  WindowSource part(file, 90, 100);
  EXPECT_EQ(std::make_pair(part.holding_at(0), part.holding_at(65)),
            std::make_pair(HoldingRun{Holding::data, 10}, HoldingRun{Holding::not_stored, 100}));
  EXPECT_EQ(bytes_holding_data(file, 0, 320), 160u);
  WindowSource window(parent, 10, 20);
  std::vector<uint8_t> tail(10);
  EXPECT_EQ(window.read_at(15, tail), 5);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 5, parent_bytes.begin() + 25));
}

TEST(ExtentSource, ParentFailuresAndMalformedExtents) {
  const std::vector<uint8_t> parent_bytes = numbered(100);
  MemorySource parent(parent_bytes);
  ExtentSource beyond(parent, {{0, 50, 80, false}}, 50, 50);  // parent ends 30 bytes in
  std::vector<uint8_t> out(50);
  EXPECT_EQ(beyond.read_at(0, out), -1);
  EXPECT_EQ(beyond.read_at(0, std::span(out).first(20)), 20);
  EXPECT_EQ(std::make_pair(beyond.holding_at(0), beyond.holding_at(20)),
            std::make_pair(HoldingRun{Holding::data, 20}, HoldingRun{Holding::not_stored, 50}));

  ExtentSource overlapping(parent, {{0, 10, 0, false}, {5, 10, 20, false}, {30, 5, 0, false}}, 40, 40);
  ExtentSource wrapping(parent, {{UINT64_MAX - 5, 10, 0, false}}, UINT64_MAX, UINT64_MAX);
  EXPECT_EQ(std::make_tuple(overlapping.well_formed(), overlapping.extents().size(), wrapping.well_formed(),
                            wrapping.extents().size()),
            std::make_tuple(false, size_t{1}, false, size_t{0}));
  EXPECT_EQ(wrapping.read_at(UINT64_MAX - 5, std::span(out).first(3)), -1);
}

// The loop every pieced read goes through: a pass that reads nothing (a
// lookup that makes no progress) fails the read at once rather than asking
// again forever; for a library's reader it ends the read where it is.
TEST(ReadInPasses, StalledPassFailsOrEndsTheRead) {
  std::vector<uint8_t> out(10);
  int calls = 0;
  auto stalls = [&calls](uint64_t, std::span<uint8_t> rest) -> int64_t {
    if (++calls > 100) return -1;
    return calls == 1 ? static_cast<int64_t>(std::min<size_t>(4, rest.size())) : 0;
  };
  const int64_t failed = read_in_passes(0, out, 10, stalls, StalledPass::fails_read);
  EXPECT_EQ(std::make_pair(failed, calls), std::make_pair(int64_t{-1}, 2));
  calls = 0;
  const int64_t ended = read_in_passes(0, out, 10, stalls, StalledPass::ends_read);
  EXPECT_EQ(std::make_pair(ended, calls), std::make_pair(int64_t{4}, 2));
}

TEST(AlignedSpan, WholeSectorsAndDriveLettersAsDevicePaths) {
  struct Case { uint64_t offset, count; uint32_t sector; uint64_t start, length, skip; };
  for (const Case& c : {Case{700, 100, 512, 512, 512, 188}, Case{700, 400, 512, 512, 1024, 188},
                        Case{1024, 4096, 4096, 0, 8192, 1024}, Case{512, 512, 512, 512, 512, 0}}) {
    AlignedSpan span;
    ASSERT_TRUE(aligned_span(c.offset, c.count, c.sector, span)) << c.offset;
    EXPECT_EQ(std::make_tuple(span.start, span.length, span.skip), std::make_tuple(c.start, c.length, c.skip))
        << c.offset << "+" << c.count;
  }
  AlignedSpan span;
  EXPECT_FALSE(aligned_span(0, 10, 0, span) || aligned_span(511, UINT64_MAX, 512, span));
  const std::tuple<const char*, uint32_t, const char*> cases[] = {
      {"C:", kSourceVolumeLetter, "\\\\.\\C:"},    {"d", kSourceDevicePath, "\\\\.\\d:"},
      {"e:\\", kSourceVolumeLetter, "\\\\.\\e:"},  {"1:", kSourceVolumeLetter, "1:"},
      {"C:", kSourcePhysicalDrive, "C:"},          {"/dev/sdb1", kSourceVolumeLetter, "/dev/sdb1"}};
  for (const auto& [path, kind, device] : cases) EXPECT_EQ(device_path_for(path, kind), device) << path;
}

// A regular file opened as a device goes through the whole-sector reads.
TEST(DiskSource, ImageAndDeviceReadsCutAtTheEnd) {
  const test::ScratchDir scratch("source");
  const std::vector<uint8_t> bytes = numbered(3000);
  const std::string path = test::write_file(scratch.path / "image.bin", bytes);
  DiskSource source;
  EXPECT_EQ(source.kind(), kSourceNothing);
#ifdef _WIN32
  // Windows asks the disk driver for the geometry, which a plain file does
  // not have: that refuses a device path, not a volume.
  EXPECT_FALSE(source.open_path(path, kSourceDevicePath, true));
  const uint32_t device_kind = kSourceVolumeLetter;
#else
  const uint32_t device_kind = kSourceDevicePath;
#endif
  for (const uint32_t kind : std::initializer_list<uint32_t>{kSourceImageFile, device_kind}) {
    ASSERT_TRUE(kind == kSourceImageFile ? source.open_image(path) : source.open_path(path, kind, true));
    EXPECT_EQ(std::make_tuple(source.kind(), source.size(), source.sector_size()), std::make_tuple(kind, 3000u, 512u));
    for (auto [offset, length] : {std::pair<uint64_t, uint64_t>{700, 100}, {700, 400}, {0, 1024}, {2999, 1},
                                  {2500, 600}, {511, 2}}) {
      std::vector<uint8_t> buffer(length, 0);
      uint64_t count = length;
      ASSERT_TRUE(source.read(buffer.data(), count, offset)) << offset;
      EXPECT_EQ(count, std::min<uint64_t>(length, 3000 - offset));
      for (uint64_t i = 0; i < count; ++i) ASSERT_EQ(buffer[i], bytes[offset + i]) << offset + i;
    }
    uint8_t buffer[16];
    uint64_t count = 10, none = 0;
    EXPECT_FALSE(source.read(buffer, count, 3000) || source.read(buffer, none, 0));
    source.close();
    EXPECT_EQ(std::make_tuple(source.kind(), source.size()), std::make_tuple(kSourceNothing, 0u));
    count = 10;
    EXPECT_FALSE(source.read(buffer, count, 0));
  }
  EXPECT_FALSE(source.open_image(path + ".absent") || source.open_path(path, kSourceImageFile, true) ||
               source.open_path("/nonexistent/device", kSourceVolumeLetter, true) || source.is_open());
}

std::span<const uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(VmdkDescriptor, ValuesAndExtentLines) {
  const std::string text =
      "# Disk DescriptorFile\r\nversion=1\r\nencoding=\"windows-1252\"\r\nCID=ABCDEF01\r\n"
      "parentCID=FFFFFFFF\r\ncreateType=\"twoGbMaxExtentSparse\"\r\n"
      "parentFileNameHint=\"C:\\VMs\\Base Disk.vmdk\"\r\n"
      "RW 4192256 SPARSE \"disk name-s001.vmdk\"\r\nRDONLY 100 flat \"x.raw\" 50\r\nRW 10 ZERO\r\n"
      "ddb.uuid = \"60 00\"\r\n";
  std::string padded = text + std::string(40, '\0') + "CID=00000000\n";
  VmdkDescriptor d;
  parse_vmdk_descriptor(bytes_of(padded), d);
  EXPECT_EQ(std::tie(d.cid, d.parent_cid, d.encoding, d.parent_hint, d.create_type),
            std::make_tuple("abcdef01", "ffffffff", "\"windows-1252\"", "\"C:\\VMs\\Base Disk.vmdk\"",
                            "twogbmaxextentsparse"));
  ASSERT_EQ(d.extents.size(), 3u);
  EXPECT_EQ(std::tie(d.extents[0].file, d.extents[0].sectors, d.extents[1].type, d.extents[1].access,
                     d.extents[1].offset_sectors, d.extents[2].type, d.extents[2].file),
            std::make_tuple("disk name-s001.vmdk", 4192256u, "FLAT", "RDONLY", 50u, "ZERO", ""));
  EXPECT_EQ(std::make_tuple(d.extents_unreadable, d.lines.size()), std::make_tuple(false, 11u));

  for (const char* bad : {"RW 12 SPARSE \"unterminated", "RW twelve SPARSE \"a\"", "RW 12 FLAT \"a\" x"}) {
    parse_vmdk_descriptor(bytes_of(std::string("# Disk DescriptorFile\n") + bad + "\n"), d);
    EXPECT_TRUE(d.extents_unreadable) << bad;
  }
}

TEST(VmdkSparse, DamagedHeadersAreRefusedByName) {
  const struct {
    const char* name;
    std::vector<std::tuple<size_t, uint64_t, int>> fields;  // offset, value, width
    VmdkOpenError error;
    const char* detail;
  } cases[] = {
      {"version 4", {{4, 4, 4}}, VmdkOpenError::bad_header, "version 4"},
      {"grain size not a power of two", {{20, 12, 8}}, VmdkOpenError::bad_header, "grain size 12"},
      {"grain size too large", {{20, 4096, 8}}, VmdkOpenError::bad_header, "grain size 4096"},
      {"no grain table entries", {{44, 0, 4}}, VmdkOpenError::bad_header, "grain table entries 0"},
      {"text-mode copy", {{75, '\n', 1}}, VmdkOpenError::bad_header, "line ends changed by a text-mode copy"},
      {"unknown compression", {{8, kVmdkFlagCompressed, 4}, {77, 2, 1}}, VmdkOpenError::unsupported_layout,
       "compression 2"},
      {"directory beyond the file", {{56, 1u << 20, 8}}, VmdkOpenError::bad_header, "grain directory"},
      {"stream-optimized without its footer", {{56, ~0ull, 8}}, VmdkOpenError::incomplete_stream, ""},
      {"capacity that overflows bytes", {{12, ~0ull, 8}}, VmdkOpenError::bad_header, "capacity 18446744073709551615"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bytes = build_sparse(described("00000001", "ffffffff"));
    for (const auto& [at, value, width] : c.fields) test::put_le(bytes, at, value, width);
    MemoryFiles files;
    files.files["a.vmdk"] = bytes;
    const VmdkSetCheck check = check_vmdk_set({"a.vmdk"}, files.opener());
    EXPECT_TRUE(!check.ok && check.problem.kind == VmdkProblemKind::cannot_open) << c.name;
    EXPECT_EQ(std::tie(check.problem.open.error, check.problem.open.detail), std::make_tuple(c.error, c.detail))
        << c.name;
  }
}

std::vector<uint8_t> read_range(ByteSource& source, uint64_t offset, uint64_t length, int64_t& got) {
  std::vector<uint8_t> out(length, 0xEE);
  got = source.read_at(offset, out);
  return out;
}

// Base: grains 0-3 = 0xB0.. ; child holds grain 1 and a zeroed grain 2.
struct ChainFixture : ::testing::Test {
  MemoryFiles files;
  void SetUp() override {
    SparseDisk base = described("0000000b", "ffffffff");
    base.grains = {{0, 0xB0}, {1, 0xB1}, {2, 0xB2}, {3, 0xB3}};
    files.files["dir/base.vmdk"] = build_sparse(base);
    SparseDisk child = described("0000000c", "0000000b", "parentFileNameHint=\"base.vmdk\"\n");
    child.flags |= kVmdkFlagZeroedGrains;
    child.grains = {{1, 0xC1}, {2, 0xC2}};
    test::SparseLayout layout;
    std::vector<uint8_t> bytes = build_sparse(child, &layout);
    test::put_le(bytes, layout.tables[0] * 512 + 2 * 4, 1, 4);  // grain 2: zeroed
    files.files["dir/child.vmdk"] = bytes;
  }
};

TEST_F(ChainFixture, ChildGrainsOverrideAndZeroedGrainsHideTheBase) {
  {
    // Checked, then read: each file is opened once, the chain reading the check's files.
    const std::vector<std::string> set = {"dir/child.vmdk", "dir/base.vmdk"};
    VmdkSetCheck check = check_vmdk_set(set, files.opener());
    VmdkChain once;
    VmdkProblem problem;
    ASSERT_TRUE(check.ok && once.open(set, problem, check.files));
    int64_t got = 0;
    EXPECT_EQ(read_range(once, 0, 3 * 4096, got)[4096], 0xC1);
    EXPECT_EQ(files.opens, 2);
  }
  for (const std::vector<std::string>& order : {std::vector<std::string>{"dir/base.vmdk", "dir/child.vmdk"},
                                                std::vector<std::string>{"dir/child.vmdk", "dir/base.vmdk"}}) {
    EXPECT_TRUE(check_vmdk_set(order, files.opener()).ok);
    VmdkChain chain;
    VmdkProblem problem;
    ASSERT_TRUE(chain.open(order, problem, files.opener()));
    EXPECT_EQ(chain.top()->path() + " " + std::to_string(chain.size()), "dir/child.vmdk 131072");
    int64_t got = 0;
    // Across grains 0 to 4: base, child, zeroed, base, absent everywhere.
    const std::vector<uint8_t> bytes = read_range(chain, 4096 - 8, 4 * 4096 + 8, got);
    ASSERT_EQ(got, 4 * 4096 + 8);
    const uint8_t expected[] = {0xB0, 0xC1, 0x00, 0xB3, 0x00};
    for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], expected[(i + 4096 - 8) / 4096]) << "byte " << i;
    // The same as runs: a run ends where any layer's answer changes, and
    // grains no layer holds hold zeros.
    const std::pair<uint64_t, HoldingRun> runs[] = {
        {0, {Holding::data, 4096}},      {100, {Holding::data, 4096}},   {4096, {Holding::data, 8192}},
        {8192, {Holding::zeros, 12288}}, {12288, {Holding::data, 16384}}, {16384, {Holding::zeros, 131072}}};
    for (const auto& [offset, run] : runs) EXPECT_EQ(chain.holding_at(offset), run) << offset;
    EXPECT_EQ(bytes_holding_data(chain, 0, chain.size()), 3u * 4096);
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(std::make_pair(chain.read_at(chain.size() - 10, buffer), chain.read_at(chain.size(), buffer)),
              std::make_pair(int64_t{10}, int64_t{0}));
  }
}

TEST_F(ChainFixture, SetCheckMessages) {
  // The child alone: its hint names the base beside it.
  VmdkSetCheck check = check_vmdk_set({"dir/child.vmdk"}, files.opener());
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(render_vmdk_problem(check.problem),
            "=> vmdk file: dir/child.vmdk\n depends on parent vmdk dir/base.vmdk\n");
  EXPECT_EQ(render_vmdk_suggestion(check), "suggested array: -vmdk \"dir/child.vmdk | dir/base.vmdk\"");

  // Nothing beside it either.
  files.files["lone/child.vmdk"] = files.files["dir/child.vmdk"];
  check = check_vmdk_set({"lone/child.vmdk"}, files.opener());
  EXPECT_EQ(render_vmdk_problem(check.problem) + render_vmdk_suggestion(check),
            "Child VMDK points to a parent VMDK that doesn't exist, aborting\n");

  // A disk that is its own parent.
  files.files["dir/self.vmdk"] = build_sparse(described("0000000d", "0000000d"));
  check = check_vmdk_set({"dir/base.vmdk", "dir/self.vmdk"}, files.opener());
  EXPECT_EQ(render_vmdk_problem(check.problem), "Child VMDK CID errors, aborting\n");

  // A descriptor naming itself as its parent file.
  files.files["dir/self2.vmdk"] =
      build_sparse(described("0000000e", "0000000f", "parentFileNameHint=\"self2.vmdk\"\n"));
  check = check_vmdk_set({"dir/self2.vmdk"}, files.opener());
  EXPECT_TRUE(check.problem.kind == VmdkProblemKind::cid_error && check.suggested.empty());

  // The base was written after the snapshot, so its CID moved on.
  files.files["dir/base.vmdk"] = build_sparse(described("00000099", "ffffffff"));
  check = check_vmdk_set({"dir/child.vmdk", "dir/base.vmdk"}, files.opener());
  EXPECT_EQ(render_vmdk_problem(check.problem),
            "=> vmdk file: dir/child.vmdk names parent dir/base.vmdk, whose CID does not match\n"
            "Child VMDK CID errors, aborting\n");

  check = check_vmdk_set({"dir/absent.vmdk"}, files.opener());
  EXPECT_EQ(render_vmdk_problem(check.problem), "dir/absent.vmdk can't be opened\n");
}

TEST(VmdkChain, SetsThatDoNotFormOneChain) {
  MemoryFiles files;
  for (const auto& [name, cid, parent] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
           {"a", "0000000a", "ffffffff"}, {"b", "0000000b", "ffffffff"}, {"c", "0000000c", "0000000a"},
           {"d", "0000000d", "0000000a"}, {"e", "0000000e", "0000000f"}, {"f", "0000000f", "0000000e"},
           {"a2", "0000000a", "ffffffff"}})
    files.files[name] = build_sparse(described(cid, parent));
  const std::pair<std::vector<std::string>, VmdkProblemKind> cases[] = {
      {{"a", "b"}, VmdkProblemKind::several_bases}, {{"a", "c", "d"}, VmdkProblemKind::branched},
      {{"e", "f"}, VmdkProblemKind::no_base},         {{"a", "e", "f"}, VmdkProblemKind::cid_error},
      {{"a", "a2"}, VmdkProblemKind::shared_cid},
  };
  for (const auto& [paths, kind] : cases) {
    VmdkChain chain;
    VmdkProblem problem;
    EXPECT_FALSE(chain.open(paths, problem, files.opener())) << paths.size();
    EXPECT_EQ(problem.kind, kind) << paths[0] << " " << paths[1];
    EXPECT_TRUE(!render_vmdk_problem(problem).empty() && chain.read_at(0, std::span<uint8_t>()) == -1);
  }
}

TEST(VmdkSparse, GrainEntriesPointingAnywhere) {
  SparseDisk disk = described("00000001", "ffffffff");
  disk.grains = {{0, 0x11}, {5, 0x55}};
  test::SparseLayout layout;
  std::vector<uint8_t> bytes = build_sparse(disk, &layout);
  // Grain 1 beyond the file; grain 2 straddles its end; table 3 beyond it.
  test::put_le(bytes, layout.tables[0] * 512 + 1 * 4, 1u << 24, 4);
  test::put_le(bytes, layout.tables[0] * 512 + 2 * 4, bytes.size() / 512 - 2, 4);
  test::put_le(bytes, layout.directory * 512 + 3 * 4, 1u << 24, 4);
  // Grain 4 names grain 0's sectors again; grain 6 half of them and half
  // of grain 5's, which grain 2 partly covers already.
  test::put_le(bytes, layout.tables[1] * 512 + 0 * 4, layout.grains[0], 4);
  test::put_le(bytes, layout.tables[1] * 512 + 2 * 4, layout.grains[0] + 4, 4);
  for (size_t never_written : {4, 5}) test::put_le(bytes, layout.directory * 512 + never_written * 4, 0, 4);
  MemoryFiles files;
  files.files["a"] = bytes;
  VmdkChain chain;
  VmdkProblem problem;
  ASSERT_TRUE(chain.open({"a"}, problem, files.opener()));
  int64_t got = 0;
  EXPECT_TRUE(read_range(chain, 0, 4096, got)[100] == 0x11 && got == 4096);
  // Reads that reach the bad grain fail whole.
  for (uint64_t length : {10, 8192}) EXPECT_EQ((read_range(chain, 8192 - length, length, got), got), -1) << length;
  const std::vector<uint8_t> straddling = read_range(chain, 2 * 4096, 4096, got);
  EXPECT_EQ(got, 4096);
  // The last two sectors of the file: grain 5's tail, then zeros.
  EXPECT_EQ(std::make_tuple(straddling[0], straddling[1023], straddling[1024], straddling[4095]),
            std::make_tuple(0x55, 0x55, 0x00, 0x00));
  read_range(chain, 3 * 16384, 10, got);
  EXPECT_EQ(got, -1);
  EXPECT_EQ(read_range(chain, 4 * 4096, 4096, got)[4095], 0x11);  // a repeat reads as before
  // Grains a scan cannot read are not stored, repeats are told apart, and
  // unwritten tables hold zeros.
  const std::pair<uint64_t, HoldingRun> runs[] = {
      {4096, {Holding::not_stored, 8192}}, {8192, {Holding::data, 12288}}, {4 * 4096, {Holding::repeated, 5 * 4096}},
      {5 * 4096, {Holding::data, 6 * 4096}}, {6 * 4096, {Holding::repeated, 7 * 4096}},
      {3 * 16384 + 5, {Holding::not_stored, 4 * 16384}}, {4 * 16384, {Holding::zeros, 8 * 16384}}};
  for (const auto& [offset, run] : runs) EXPECT_EQ(chain.holding_at(offset), run) << offset;
}

TEST(VmdkLayouts, DescriptorExtentsRefusalsAndManyExtentsThroughFewOpenFiles) {
  MemoryFiles files;
  SparseDisk extent;
  extent.capacity_sectors = 16;
  extent.grains = {{1, 0xA1}};
  files.files["d/a-s001.vmdk"] = build_sparse(extent);
  files.files["d/flat.raw"] = std::vector<uint8_t>(8192, 0xF0);
  std::fill_n(files.files["d/flat.raw"].begin(), 512, 0x0F);
  const std::string head = "# Disk DescriptorFile\nCID=00000001\nparentCID=ffffffff\ncreateType=\"custom\"\n";
  auto descriptor = [&](const std::string& name, const std::string& text) {
    files.files[name] = std::vector<uint8_t>(text.begin(), text.end());
  };
  // The last extent runs 1 KiB past the end of its file.
  descriptor("d/split.vmdk", head + "RW 16 SPARSE \"a-s001.vmdk\"\nRW 4 ZERO\nRW 8 FLAT \"/elsewhere/flat.raw\" 1\n"
                                    "RW 8 FLAT \"flat.raw\" 14\n");
  VmdkChain chain;
  VmdkProblem problem;
  ASSERT_TRUE(chain.open({"d/split.vmdk"}, problem, files.opener()));
  EXPECT_EQ(chain.size(), 36u * 512);
  int64_t got = 0;
  const std::vector<uint8_t> all = read_range(chain, 0, 36 * 512, got);
  ASSERT_EQ(got, 36 * 512);
  for (size_t i = 0; i < all.size(); ++i)
    ASSERT_EQ(all[i], i >= 4096 && i < 8192 ? 0xA1 : i >= 20 * 512 && i < 30 * 512 ? 0xF0 : 0x00) << i;
  const std::pair<uint64_t, HoldingRun> runs[] = {
      {0, {Holding::zeros, 4096}},        {4096, {Holding::data, 8192}},  {8192, {Holding::zeros, 10240}},
      {10240, {Holding::data, 14336}},    {14336, {Holding::data, 15360}}, {15360, {Holding::not_stored, 18432}}};
  for (const auto& [offset, run] : runs) EXPECT_EQ(chain.holding_at(offset), run) << offset;

  const std::pair<std::string, std::string> refused[] = {
      {head + "RW 16 VMFSSPARSE \"a-s001.vmdk\"\n", "  VMware layout not supported: VMFSSPARSE extent\n"},
      {head + "RW 16 SPARSE \"flat.raw\"\n",
       "  not a VMware disk: no sparse extent header and no descriptor text (extent d/flat.raw)\n"},
      {head + "RW 16 SPARSE \"gone.vmdk\"\n", "  extent file missing: d/gone.vmdk\n"},
      {head + "NOACCESS 16 SPARSE \"a-s001.vmdk\"\n", "  VMware layout not supported: NOACCESS extent\n"},
      {"# Disk DescriptorFile\ncreateType=\"fullDevice\"\nRW 16 FLAT \"/dev/sda\" 0\n",
       "  VMware layout not supported: fulldevice\n"},
      {head, "  damaged VMware disk: extent lines\n"},
      {head + "RW 16 SPARSE \"x\nRW 4 ZERO\n", "  damaged VMware disk: extent lines\n"},
  };
  for (const auto& [text, reason] : refused) {
    descriptor("d/bad.vmdk", text);
    const VmdkSetCheck check = check_vmdk_set({"d/bad.vmdk"}, files.opener());
    EXPECT_EQ(render_vmdk_problem(check.problem), "d/bad.vmdk can't be opened\n" + reason) << text;
  }
  files.files["d/cowd.vmdk"] = {'C', 'O', 'W', 'D', 1, 0, 0, 0};
  EXPECT_EQ(render_vmdk_problem(check_vmdk_set({"d/cowd.vmdk"}, files.opener()).problem),
            "d/cowd.vmdk can't be opened\n  VMware layout not supported: vmfsSparse\n");
  EXPECT_EQ(render_vmdk_problem(check_vmdk_set({"d/a-s001.vmdk"}, files.opener()).problem),
            "d/a-s001.vmdk can't be opened\n"
            "  one extent of a split VMware disk; give the disk's descriptor file instead\n");

  // More extents than files kept open: each is opened again when read.
  std::string text = head;
  for (int i = 0; i < 40; ++i) {
    SparseDisk extent;
    extent.capacity_sectors = 8;
    extent.grains = {{0, static_cast<uint8_t>(i + 1)}};
    const std::string name = "e" + std::to_string(i) + ".vmdk";
    files.files["m/" + name] = build_sparse(extent);
    text += "RW 8 SPARSE \"" + name + "\"\n";
  }
  descriptor("m/disk.vmdk", text);
  const int opens = files.opens;
  VmdkChain many;
  ASSERT_TRUE(many.open({"m/disk.vmdk"}, problem, files.opener()));
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<uint8_t> each = read_range(many, 0, 40 * 4096, got);
    ASSERT_EQ(got, 40 * 4096);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(each[static_cast<size_t>(i) * 4096 + 7], i + 1) << i;
  }
  EXPECT_GT(files.opens - opens, 41);
}

uint64_t next_field(uint64_t block_index) { return Builder::block(block_index) + kShadowNextOffsetField; }

uint64_t entry_offset(int slot) {
  return Builder::block(Builder::kCatalogBlock) + kShadowBlockHeaderSize + slot * kShadowCatalogEntrySize;
}

// Every 16 KiB block of the view holds one byte value throughout.
void expect_view(ShadowStoreSource& view, int store) {
  ASSERT_EQ(view.size(), Builder::kBlocks * kShadowBlockSize);
  std::vector<uint8_t> whole(view.size());
  ASSERT_EQ(view.read_at(0, whole), static_cast<int64_t>(whole.size()));
  // The last block ends with the backup boot sector.
  for (uint64_t index = 16; index + 1 < Builder::kBlocks; ++index) {
    const uint8_t want = Builder::expected_fill(store, index);
    const auto first = whole.begin() + Builder::block(index);
    EXPECT_EQ(std::count(first, first + kShadowBlockSize, want), static_cast<long>(kShadowBlockSize))
        << "store " << store + 1 << " block " << index;
  }
}

class BuiltShadowVolume : public ::testing::Test {
 protected:
  Builder builder;
};

TEST_F(BuiltShadowVolume, StoresListOldestFirstWithTheirCatalogValues) {
  MemorySource volume(builder.bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  ASSERT_EQ(shadows.stores().size(), 2u);
  for (int store = 0; store < 2; ++store) {
    const ShadowStoreInfo& info = shadows.stores()[store];
    const auto id = [&](int base) { return Builder::guid(static_cast<uint8_t>(base + store)); };
    EXPECT_EQ(std::tie(info.identifier, info.copy_identifier, info.copy_set_identifier),
              std::make_tuple(id(1), id(0x21), id(0x31)));
    EXPECT_EQ(std::make_tuple(info.number, info.creation_time, info.volume_size, info.attribute_flags,
                              info.data_in_volume, info.damaged),
              std::make_tuple(static_cast<uint32_t>(store + 1), Builder::kCreationTime[store], builder.bytes.size(),
                              0x00420009u, true, false));
  }
  EXPECT_FALSE(shadows.catalog_damaged());
  for (uint32_t number : {0u, 3u, 0xffffffffu}) {
    ShadowStatus status;
    EXPECT_FALSE(shadows.open_store(number, status));
    EXPECT_EQ(std::make_tuple(status.error, status.store_number, status.store_count),
              std::make_tuple(ShadowError::no_such_store, number, 2u));
  }
  ShadowStatus status;
  shadows.open_store(3, status);
  EXPECT_EQ(shadow_error_text(status), "no shadow copy 3: this volume holds 2 (numbers 1 to 2)");
  std::unique_ptr<ShadowStoreSource> view = open_shadow_store(volume, 1, status);
  ASSERT_TRUE(view) << shadow_error_text(status);
  expect_view(*view, 0);

  // The catalog lists the newer store first: the order is by creation time.
  for (int slot = 0; slot < 2; ++slot) {
    const uint64_t first = Builder::block(Builder::kCatalogBlock) + kShadowBlockHeaderSize;
    std::swap_ranges(builder.bytes.begin() + first + slot * kShadowCatalogEntrySize,
                     builder.bytes.begin() + first + (slot + 1) * kShadowCatalogEntrySize,
                     builder.bytes.begin() + first + (slot + 2) * kShadowCatalogEntrySize);
  }
  ShadowVolume swapped;
  ASSERT_TRUE(swapped.open(volume).ok());
  ASSERT_EQ(swapped.stores().size(), 2u);
  EXPECT_EQ(std::tie(swapped.stores()[0].identifier, swapped.stores()[1].creation_time),
            std::make_tuple(Builder::guid(1), Builder::kCreationTime[1]));
}

TEST_F(BuiltShadowVolume, EachViewTakesSavedBlocksFromItsStoreAndLaterOnes) {
  MemorySource volume(builder.bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  const std::vector<uint64_t> own_saved[] = {{Builder::block(24)}, {Builder::block(24), Builder::block(25)}};
  for (uint32_t number : {1u, 2u}) {
    const int store = static_cast<int>(number - 1);
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
    ASSERT_TRUE(view) << shadow_error_text(status);
    expect_view(*view, store);
    EXPECT_EQ(std::make_tuple(view->info().number, view->sector_size()), std::make_tuple(number, volume.sector_size()));
    // Reads across a saved block's edges, and at the end.
    std::vector<uint8_t> piece(100);
    ASSERT_EQ(view->read_at(Builder::block(25) - 50, piece), 100);
    EXPECT_EQ(std::make_pair(piece[49], piece[50]),
              std::make_pair(Builder::expected_fill(store, 24), Builder::expected_fill(store, 25)));
    EXPECT_EQ(std::make_pair(view->read_at(view->size() - 10, piece), view->read_at(view->size(), piece)),
              std::make_pair(int64_t{10}, int64_t{0}));
    // The blocks the store itself saved, as many as asked for.
    EXPECT_EQ(std::make_pair(view->saved_block_offsets(10), view->saved_block_offsets(1).size()),
              std::make_pair(own_saved[store], size_t{1}));
  }
}

// A view announces the volume pieces a range reads from to a container
// that reads ahead, blocks that follow one another on the volume as one,
// and never more than read ahead can hold.
TEST_F(BuiltShadowVolume, ViewsAnnounceTheVolumePiecesTheyWillRead) {
  struct Announced : MemorySource {
    using MemorySource::MemorySource;
    bool reads_ahead() override { return true; }
    void will_read(uint64_t offset, uint64_t length) override { calls.push_back({offset, length}); }
    std::vector<std::pair<uint64_t, uint64_t>> calls;
  };
  std::vector<uint8_t> bytes(kReadAheadMemory + (2 << 20));
  builder.put(entry_offset(2) + kCatalogVolumeSizeField, bytes.size(), 8);
  std::ranges::copy(builder.bytes, bytes.begin());
  Announced volume(bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  ShadowStatus status;
  std::unique_ptr<ShadowStoreSource> view = shadows.open_store(2, status);
  ASSERT_TRUE(view && view->reads_ahead());
  view->will_read(Builder::block(23), 3 * kShadowBlockSize);
  using Calls = std::vector<std::pair<uint64_t, uint64_t>>;
  EXPECT_EQ(volume.calls, (Calls{{Builder::block(23), kShadowBlockSize}, {Builder::block(11), 2 * kShadowBlockSize}}));
  volume.calls.clear();
  view->will_read(kShadowBlockSize, UINT64_MAX);
  uint64_t announced = 0;
  for (const auto& call : volume.calls) announced += call.second;
  EXPECT_EQ(announced, kReadAheadMemory);
}

TEST_F(BuiltShadowVolume, VolumesWithoutCopiesHaveNoStoresAndNoError) {
  const std::vector<uint8_t> zeros(1 << 20);
  Builder no_header;
  no_header.bytes[kShadowVolumeHeaderOffset + 3] ^= 0xff;
  Builder no_catalog;
  no_catalog.put(kShadowVolumeHeaderOffset + kShadowCatalogOffsetField, 0, 8);
  for (std::span<const uint8_t> bytes : {std::span<const uint8_t>(zeros), std::span<const uint8_t>(no_header.bytes),
                                         std::span<const uint8_t>(no_catalog.bytes), std::span<const uint8_t>()}) {
    MemorySource volume(bytes);
    ShadowStatus status;
    EXPECT_TRUE(list_shadow_stores(volume, status).empty()) << bytes.size();
    EXPECT_TRUE(status.ok()) << shadow_error_text(status);
    EXPECT_FALSE(open_shadow_store(volume, 1, status));
    EXPECT_EQ(shadow_error_text(status), "this volume holds no shadow copies");
  }
}

// Store 1 reads through store 2, so damage in store 2 marks both. A chain
// is cut where it loops, runs longer than the volume could fill or reaches
// an unusable block, and the views it leaves are whole; entries that claim
// bytes past the volume, or are both forwarder and overlay, are dropped.
TEST_F(BuiltShadowVolume, DamagedChainsAreCutMarkedOrRefused) {
  const uint64_t catalog = Builder::block(Builder::kCatalogBlock);
  const auto list = [](int store) { return Builder::block(Builder::kBlockListBlock[store]); };
  const auto chain = [](Builder& b, uint64_t from, uint64_t first, uint64_t end, uint32_t record_type) {
    b.put(from, Builder::block(first), 8);
    for (uint64_t index = first; index < end; ++index)
      b.block_header(Builder::block(index), record_type, index + 1 < end ? Builder::block(index + 1) : 0);
  };
  const struct {
    const char* name;
    std::function<void(Builder&)> damage;
    bool catalog_damaged;
    std::array<bool, 2> damaged, opens;
    bool whole = true;  // the views that open read as sound ones
  } cases[] = {
      // Walked again and again, it would use up the blocks store 2 may walk.
      {"store 1's block list names itself as next", [&](Builder& b) { b.put(next_field(3), list(0), 8); }, false,
       {true, false}, {true, true}},
      {"store 2's block list loops back over two blocks",
       [&](Builder& b) { chain(b, next_field(6), 7, 8, 3), b.put(next_field(7), list(1), 8); }, false, {true, true},
       {true, true}},
      {"next block past the end of the volume", [&](Builder& b) { b.put(next_field(3), b.bytes.size(), 8); }, false,
       {true, false}, {true, true}},
      {"next block offset that wraps", [&](Builder& b) { b.put(next_field(3), ~uint64_t{0} - 0x3fff, 8); }, false,
       {true, false}, {true, true}},
      {"next block of version 2", [&](Builder& b) { chain(b, next_field(3), 7, 8, 3), b.put(Builder::block(7) + 16, 2, 4); },
       false, {true, false}, {true, true}},
      {"store 1's block list zeroed",
       [&](Builder& b) { std::fill_n(b.bytes.begin() + list(0), kShadowBlockSize, 0); }, false, {true, false},
       {false, true}},
      // 64 list blocks are allowed in all: store 1 walks 3, 16..63 (49),
      // store 2 then 6, 16..29 (15) and is cut there. The lists' blocks are
      // the live volume's, so no view reads as the sound one.
      {"block lists longer than the volume could fill",
       [&](Builder& b) {
         std::fill(b.bytes.begin() + Builder::block(16), b.bytes.end(), 0);
         chain(b, next_field(3), 16, 64, 3);
         b.put(next_field(6), Builder::block(16), 8);
       },
       false, {true, true}, {true, true}, false},
      // A 1 MiB volume needs one bitmap block; two are allowed, not three.
      {"bitmap chain longer than the volume needs",
       [&](Builder& b) { chain(b, entry_offset(1) + kCatalogBitmapField, 7, 10, 6); }, false, {true, false},
       {true, true}},
      {"entry whose saved block lies past the volume",
       [](Builder& b) { b.list_entry(0, 1, 30, 0, b.bytes.size() - 0x2000, 0); }, false, {true, false}, {true, true}},
      // Windows writes none; taken as an overlay, it would change block 30.
      {"entry both forwarder and overlay",
       [](Builder& b) { b.list_entry(0, 1, 30, Builder::block(31), Builder::block(13), 3, 1); }, false,
       {true, false}, {true, true}},
      {"the catalog names itself as next", [&](Builder& b) { b.put(next_field(1), catalog, 8); }, true,
       {false, false}, {true, true}},
      {"catalog longer than any Windows writes", [&](Builder& b) { chain(b, next_field(1), 30, 50, 2); }, true,
       {false, false}, {true, true}, false},
      // Listed, but neither it nor the older store reading through it opens.
      {"store 2's header of another record type",
       [](Builder& b) { b.put(Builder::block(Builder::kStoreHeaderBlock[1]) + 20, 3, 4); }, false, {true, true},
       {false, false}},
      // A view is never larger than the volume it is rebuilt from.
      {"catalog claims a larger volume",
       [&](Builder& b) { b.put(entry_offset(0) + kCatalogVolumeSizeField, 2 * b.bytes.size(), 8); }, false,
       {false, false}, {true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b;
    c.damage(b);
    MemorySource volume(b.bytes);
    ShadowVolume shadows;
    ASSERT_TRUE(shadows.open(volume).ok());
    EXPECT_EQ(shadows.catalog_damaged(), c.catalog_damaged);
    ASSERT_EQ(shadows.stores().size(), 2u);
    for (uint32_t number : {1u, 2u}) {
      EXPECT_EQ(shadows.stores()[number - 1].damaged, c.damaged[number - 1]) << number;
      EXPECT_TRUE(shadows.stores()[number - 1].data_in_volume);
      ShadowStatus status;
      std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
      ASSERT_EQ(view != nullptr, c.opens[number - 1]) << number << " " << shadow_error_text(status);
      if (view && c.whole) expect_view(*view, static_cast<int>(number - 1));
      const std::string text = shadow_error_text(status);
      const std::string cannot = "shadow copy " + std::to_string(number) + " cannot be read";
      EXPECT_TRUE(view || (status.error == ShadowError::unreadable && text.find(cannot) != text.npos)) << text;
    }
  }
  Builder zeroed;
  std::fill_n(zeroed.bytes.begin() + catalog, kShadowBlockSize, 0);
  MemorySource zeroed_volume(zeroed.bytes);
  ShadowVolume refused;
  const ShadowStatus opened = refused.open(zeroed_volume);
  EXPECT_EQ(std::make_tuple(opened.error, refused.stores().size()),
            std::make_tuple(ShadowError::unreadable, size_t{0}));
  EXPECT_EQ(shadow_error_text(opened), "the shadow copies of this volume cannot be read: its catalog is damaged");
}

// Cut anywhere, the volume opens or is refused with a reason.
TEST_F(BuiltShadowVolume, EveryTruncationEndsNormally) {
  for (uint64_t length = 0; length <= Builder::kBlocks * kShadowBlockSize; length += 0x1000) {
    MemorySource volume(std::span<const uint8_t>(builder.bytes).first(length));
    ShadowVolume shadows;
    const ShadowStatus opened = shadows.open(volume);
    EXPECT_TRUE(opened.ok() || !shadow_error_text(opened).empty());
    for (uint32_t number = 1; number <= shadows.stores().size(); ++number) {
      ShadowStatus status;
      std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
      if (!view) {
        EXPECT_FALSE(shadow_error_text(status).empty());
        continue;
      }
      std::vector<uint8_t> chunk(64 << 10);
      for (uint64_t at = 0; at < view->size(); at += chunk.size()) view->read_at(at, chunk);
    }
  }
}

}  // namespace
}  // namespace lnk

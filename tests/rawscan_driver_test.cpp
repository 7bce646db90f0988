// Raw images: split into segments (which names form a set, reads across
// segments of any size, what the command line says of a broken set), and
// carved by -rawscan and -deepscan as a user runs them.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <set>

#include "storage/memory_source.h"
#include "storage/split_names.h"
#include "storage/split_raw_source.h"
#include "tests/cfb_builder.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::contains;

struct SplitCase {
  const char* given;
  std::set<std::string> present;
  SplitSetKind kind;
  std::vector<std::string> segments;  // set: the whole set
  const char* named;                  // later_segment and missing
};

TEST(SplitNames, SetsAreToldByNameAndSiblings) {
  const SplitCase cases[] = {
      {"d/img.001", {"d/img.001", "d/img.002", "d/img.003"}, SplitSetKind::set,
       {"d/img.001", "d/img.002", "d/img.003"}, ""},
      {"img.000", {"img.000", "img.001"}, SplitSetKind::set, {"img.000", "img.001"}, ""},
      {"img.001", {"img.000", "img.001"}, SplitSetKind::later_segment, {}, "img.000"},
      {"img.003", {"img.001", "img.002", "img.003"}, SplitSetKind::later_segment, {}, "img.001"},
      {"x.aa", {"x.aa", "x.ab", "x.ac"}, SplitSetKind::set, {"x.aa", "x.ab", "x.ac"}, ""},
      {"X.AAA", {"X.AAA", "X.AAB"}, SplitSetKind::set, {"X.AAA", "X.AAB"}, ""},
      {"x.ab", {"x.aa", "x.ab"}, SplitSetKind::later_segment, {}, "x.aa"},
      {"img.001", {"img.001", "img.003"}, SplitSetKind::missing, {}, "img.002"},
      {"img.01", {"img.01", "img.02", "img.40"}, SplitSetKind::missing, {}, "img.03"},
      {"x.aa", {"x.aa", "x.ac"}, SplitSetKind::missing, {}, "x.ab"},
      {"img.001", {"img.001"}, SplitSetKind::none, {}, ""},
      {"photo.ab", {"photo.ab"}, SplitSetKind::none, {}, ""},
      // One file, or a later name without the first of its set.
      {"disk.raw", {"disk.raw", "disk.rax"}, SplitSetKind::none, {}, ""},
      {"log.2023", {"log.2022", "log.2023", "log.2024"}, SplitSetKind::none, {}, ""},
      {"disk.E01", {"disk.E01", "disk.E02"}, SplitSetKind::none, {}, ""},
      {"dir.001/disk", {"dir.001/disk", "dir.002/disk"}, SplitSetKind::none, {}, ""},
      {"d/.001", {"d/.001", "d/.002"}, SplitSetKind::none, {}, ""},
      {"img.1", {"img.1", "img.2"}, SplitSetKind::none, {}, ""},
      {"x.Ab", {"x.Aa", "x.Ab"}, SplitSetKind::none, {}, ""},
  };
  for (const SplitCase& c : cases) {
    const SplitSet set = resolve_split_set(c.given, [&](const std::string& name) { return c.present.count(name) > 0; });
    EXPECT_EQ(std::tie(set.kind, set.segments, set.named), std::tie(c.kind, c.segments, c.named)) << c.given;
  }

  // Numbers outgrow their width; the first of such a set is found from a later name.
  std::set<std::string> wide;
  for (int i = 1; i <= 100; ++i) wide.insert((i < 10 ? "w.0" : "w.") + std::to_string(i));
  const auto in_wide = [&](const std::string& name) { return wide.count(name) > 0; };
  EXPECT_EQ(resolve_split_set("w.01", in_wide).segments.size(), 100u);
  EXPECT_EQ(resolve_split_set("w.100", in_wide).named, "w.01");
  // Letters run out at "zz"; a set of every name ends at its limit.
  EXPECT_EQ(resolve_split_set("x.aa", [](const std::string& n) { return n.size() == 4; }).segments.size(), 676u);
  EXPECT_EQ(resolve_split_set("img.000", [](const std::string&) { return true; }).kind, SplitSetKind::too_many);

  // EWF sets: E01 to E99, then EAA on; every name of a set ends at FAA here.
  const auto up_to_faa = [](const std::string& name) { return name <= "d/ev.FAA"; };
  const std::vector<std::string> ewf = ewf_segment_names("d/ev.E01", up_to_faa);
  ASSERT_EQ(ewf.size(), 99u + 26 * 26 + 1);
  EXPECT_EQ(std::tie(ewf[98], ewf[99], ewf.back()), std::make_tuple("d/ev.E99", "d/ev.EAA", "d/ev.FAA"));
  EXPECT_EQ(ewf_segment_names("d/ev.s01", [](const std::string& n) { return n <= "d/ev.s03"; }).size(), 3u);
  EXPECT_EQ(ewf_segment_names("d/ev.raw", up_to_faa).size(), 1u);
}

TEST(SplitRawSource, ReadsAcrossSegmentsOfAnySize) {
  // Sizes 5, 0, 3, 0, 0, 7 and twenty of one byte: more segments than stay open.
  std::vector<std::vector<uint8_t>> parts = {{1, 2, 3, 4, 5}, {}, {6, 7, 8}, {}, {}, {9, 10, 11, 12, 13, 14, 15}};
  for (uint8_t b = 16; b < 36; ++b) parts.push_back({b});
  std::vector<std::string> names;
  for (size_t i = 0; i < parts.size(); ++i) names.push_back("seg" + std::to_string(i));
  int opens = 0;
  bool fail_reopen = false;
  const SegmentOpener opener = [&](const std::string& name) -> std::unique_ptr<ByteSource> {
    ++opens;
    const size_t index = std::stoul(name.substr(3));
    if (fail_reopen && opens > static_cast<int>(parts.size())) return nullptr;
    return std::make_unique<MemorySource>(parts[index]);
  };
  SplitRawSource source;
  ASSERT_TRUE(source.open(names, opener).ok());
  EXPECT_EQ(source.size(), 35u);
  std::vector<uint8_t> all(40), want(35);
  std::iota(want.begin(), want.end(), 1);
  ASSERT_EQ(source.read_at(0, all), 35);
  all.resize(35);
  EXPECT_EQ(all, want);
  // A segment that cannot be opened again fails the read: never zeros.
  fail_reopen = true;
  opens = static_cast<int>(parts.size());
  std::vector<uint8_t> piece(4);
  EXPECT_EQ(source.read_at(0, piece), -1);
  fail_reopen = false;
  EXPECT_EQ(source.read_at(4, piece), 4);  // 5 | (empty) | 6 7 8
  EXPECT_EQ(piece, (std::vector<uint8_t>{5, 6, 7, 8}));
  EXPECT_EQ(source.read_at(35, piece), 0);

  SplitRawSource broken;
  const ContainerProblem problem =
      broken.open(names, [&](const std::string& name) { return name == "seg2" ? nullptr : opener(name); });
  EXPECT_EQ(std::tie(problem.kind, problem.file), std::make_tuple(ContainerProblemKind::unreadable, "seg2"));
}

size_t records(const std::string& out) {
  size_t n = 0;
  for (size_t at = out.find("Parsed size:"); at != std::string::npos; at = out.find("Parsed size:", at + 1)) ++n;
  return n;
}

class RawScan : public test::ScratchDirTest {
 protected:
  // Random bytes of the given size with the sample record at each offset.
  std::string with_records(const std::string& name, size_t size, std::initializer_list<size_t> offsets) {
    std::mt19937 generator(9);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(generator());
    for (size_t at : offsets) std::copy(sample_.begin(), sample_.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
    return test::write_file(dir_ / name, bytes);
  }
  Bytes sample_ = test::sample_shortcut();
};

TEST_F(RawScan, ImageFileIsCarvedWithOffsets) {
  const std::string path = with_records("blob.bin", 4 * 65536, {512, 65536 + 40, 3 * 65536 - 512});
  test::CommandResult r = run({path, "-rawscan", "-quiet"});
  EXPECT_EQ(std::make_pair(r.status, records(r.out)), std::make_pair(0, size_t{3}));
  EXPECT_TRUE(contains(r.out, "File offset:              0x00010028 [65576]")) << r.out;
  EXPECT_TRUE(contains(r.out, "File offset:              0x0002fe00 [196096]"));
  // Piped names are carved one by one, a missing one counted.
  const std::string b = with_records("b.bin", 65536, {2048 + 40, 4096});
  r = run({"-pipe", "-rawscan", "-quiet"}, path + "\n" + (dir_ / "absent.bin").string() + "\n" + b + "\n");
  EXPECT_EQ(std::make_pair(r.status, records(r.out)), std::make_pair(255, size_t{5}));
}

// -deepscan searches at every byte (where the file scan steps over the
// record at 300); a jump list is read as one.
TEST_F(RawScan, DeepscanAndJumpLists) {
  const std::string at300 = with_records("at300.bin", 4096, {300});
  EXPECT_EQ(records(run({at300, "-quiet"}).out), 0u);
  EXPECT_EQ(records(run({at300, "-deepscan", "-quiet"}).out), 1u);
  Bytes jump_list = test::simple_jump_list({sample_, sample_});
  jump_list.resize(8192, 0);
  EXPECT_EQ(records(run({test::write_file(dir_ / "x.automaticDestinations-ms", jump_list), "-quiet"}).out), 2u);
}

TEST_F(RawScan, DeviceSources) {
  const std::string path = with_records("volume.bin", 2 * 65536, {512, 65536 + 40});
  // As administrator a path to a device (here a file) is read sector by sector.
  const test::CommandResult r = run({"-partition", path, "-rawscan", "-quiet"});
  if (contains(r.err, "need to have admin privs")) GTEST_SKIP() << "not administrator";
  EXPECT_EQ(std::make_pair(r.status, records(r.out)), std::make_pair(0, size_t{2}));
  EXPECT_TRUE(contains(r.err, "partition: " + path + " [using large file scan]\n"));
}

uint32_t adler32(const uint8_t* bytes, size_t size) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + bytes[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// Containers whose header claims a petabyte over a few MiB of data: a
// descriptor with one ZERO extent, and an E01 set of 4 MiB whose volume
// (and data) section claims 2^41 sectors. Both scans end at once; the E01
// carve names where its data stops and still finds the record before it.
TEST_F(RawScan, ContainersThatClaimMoreThanTheyStore) {
  const std::string zero = test::write_file(dir_ / "zero.vmdk", std::string(
      "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n"
      "RW 2199023255552 ZERO\n"));
  test::CommandResult r = run({zero, "-ntfs_scan", "-quiet"});
  EXPECT_EQ(r.status, 255) << r.err;
  EXPECT_TRUE(contains(r.err, "couldn't find any partitions on disk")) << r.err;
  r = run({zero, "-rawscan", "-quiet"});
  EXPECT_EQ(std::make_pair(r.status, records(r.out)), std::make_pair(0, size_t{0})) << r.err;

  if (std::system("command -v ewfacquirestream >/dev/null 2>&1") != 0) GTEST_SKIP() << "ewf-tools missing";
  const std::string raw = with_records("four.raw", 4u << 20, {(4u << 20) - 4096});
  ASSERT_EQ(std::system(("ewfacquirestream -q -c none -t " + test::shell_quoted((dir_ / "four").string()) + " < " +
                         test::shell_quoted(raw) + " >/dev/null 2>&1").c_str()), 0);
  std::string e01 = test::slurp(dir_ / "four.E01");
  // Sections: 16-byte type, next offset at 16; a volume's data 76 bytes on,
  // its sector count at 16 and its Adler-32 at 1048.
  for (size_t at = 13; at + 76 + 1052 <= e01.size();) {
    const std::string type = e01.substr(at, 16).c_str();
    if (type == "volume" || type == "data") {
      auto* data = reinterpret_cast<uint8_t*>(e01.data() + at + 76);
      for (int i = 0; i < 8; ++i) data[16 + i] = static_cast<uint8_t>((uint64_t{1} << 41) >> (8 * i));
      const uint32_t sum = adler32(data, 1048);
      for (int i = 0; i < 4; ++i) data[1048 + i] = static_cast<uint8_t>(sum >> (8 * i));
    }
    uint64_t next = 0;
    for (int i = 7; i >= 0; --i) next = next << 8 | static_cast<uint8_t>(e01[at + 16 + static_cast<size_t>(i)]);
    if (next <= at) break;
    at = next;
  }
  test::write_file(dir_ / "four.E01", e01);
  r = run({(dir_ / "four.E01").string(), "-rawscan", "-quiet"});
  if (contains(r.err, "needs libewf")) GTEST_SKIP() << "built without libewf";
  EXPECT_EQ(std::make_pair(r.status, records(r.out)), std::make_pair(0, size_t{1})) << r.err;
  EXPECT_TRUE(contains(r.err, "data ends at offset 0x400000: the container claims 0x4000000000000 bytes")) << r.err;
  r = run({(dir_ / "four.E01").string(), "-ntfs_scan", "-quiet"});
  EXPECT_TRUE(contains(r.err, "couldn't find any partitions on disk")) << r.err;
}

TEST_F(RawScan, BrokenSplitSetsEndWithTheSegmentNamed) {
  for (const char* name : {"img.001", "img.003", "img.004"}) test::write_file(dir_ / name, std::string(4096, 'x'));
  const std::string first = (dir_ / "img.001").string(), later = (dir_ / "img.003").string();
  test::CommandResult r = run({first, "-ntfs_scan", "-quiet"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "invalid image: " + first + "\n  segment " + (dir_ / "img.002").string() +
                       " of the split image is missing\n");
  r = run({later, "-rawscan", "-quiet"});
  EXPECT_EQ(r.err, "invalid image: " + later + "\n  it is a later segment of a split image; give its first segment, " +
                       first + "\n");

#ifndef _WIN32  // Wine makes ten thousand files slow to write
  fs::create_directories(dir_ / "empty");
  for (int i = 1; i <= 10000; ++i) {
    const std::string number = std::to_string(i);
    test::write_file(dir_ / "empty" / ("e." + std::string(5 - number.size(), '0') + number), std::string());
  }
  r = run({(dir_ / "empty" / "e.00001").string(), "-ntfs_scan", "-quiet"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "couldn't find any partitions on disk\n");
  r = run({(dir_ / "empty" / "e.00001").string(), "-rawscan"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(test::contains(r.err, "1 source read, 0 records written, 1 without records")) << r.err;
#endif
}

}  // namespace
}  // namespace lnk

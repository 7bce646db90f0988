// Raw images split into segments: which names form a set, reads across
// segments of any size, and what the command line says of a broken set.
#include <gtest/gtest.h>

#include <numeric>
#include <set>

#include "storage/memory_source.h"
#include "storage/split_names.h"
#include "storage/split_raw_source.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

struct SplitCase {
  const char* given;
  std::set<std::string> present;
  SplitSetKind kind;
  std::vector<std::string> segments;  // set: the whole set
  const char* named;                  // later_segment and missing
};

TEST(SplitNames, SetsAreToldByNameAndSiblings) {
  const SplitCase cases[] = {
      {"d/img.001", {"d/img.001", "d/img.002", "d/img.003"}, SplitSetKind::set, {"d/img.001", "d/img.002", "d/img.003"}, ""},
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

class SplitImageRun : public test::ScratchDirTest {};

TEST_F(SplitImageRun, BrokenSetsEndWithTheSegmentNamed) {
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

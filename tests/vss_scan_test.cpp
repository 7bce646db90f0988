// `-vss N` and `-vss all` on an image: each shadow copy's view of the
// volume is scanned like a volume, and finds the shortcuts fls lists on the
// same view as vshadowmount exposes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "lnk/parse_lnk.h"
#include "tests/lnk_builder.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

// The CSV rows' source types ("[shadow copy N] [root]\..."), by copy.
std::map<int, std::set<std::string>> scanned_paths(const std::string& out) {
  std::map<int, std::set<std::string>> paths;
  for (const std::string& line : test::split_lines(out)) {
    const size_t at = line.find(",[shadow copy ");
    if (at == std::string::npos) continue;
    const size_t close = line.find("] ", at);
    const int copy = std::stoi(line.substr(at + 14, close - at - 14));
    paths[copy].insert(line.substr(close + 2, line.find(',', close) - close - 2));
  }
  return paths;
}

class VssScan : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    const fs::path original = test::corpus_raw_image("images/vsstest.qcow2", "vsstest.raw");
    if (original.empty()) GTEST_SKIP() << "corpus or qemu-img absent";
    image_ = (dir_ / "vsstest.raw").string();
    ASSERT_EQ(test::shell("cp --sparse=always " + test::q(original) + " " + test::q(image_)).status, 0);
  }
  std::string image_;
};

TEST_F(VssScan, RefusalsThenEachCopyAsFlsListsItThroughVshadowmount) {
  const std::string& sample = test::kSampleLnk;
  const struct { std::vector<std::string> args; std::string message; } cases[] = {
      {{image_, "-vss", "3"}, "shadow copy 3 does not exist: " + image_ + " holds 2 (1 is the oldest)"},
      {{image_, "-vss", "0"}, "shadow copy 0 does not exist"},
      // A volume without shadow copies, and bytes that are no volume.
      {{(dir_ / "plain.raw").string(), "-vss", "1"}, "holds no shadow copies"},
  };
  const std::string plain = test::q(dir_ / "plain.raw");
  ASSERT_EQ(test::shell("truncate -s 16M " + plain + " && mkntfs -F -f -q " + plain).status, 0);
  for (const auto& c : cases) {
    const test::CommandResult r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args[2];
    EXPECT_TRUE(test::contains(r.err, c.message)) << r.err;
  }
  const test::CommandResult not_a_volume = run({sample, "-vss", "1"});
  EXPECT_TRUE(not_a_volume.status == 255 && !not_a_volume.err.empty());

  if (!test::have_tools({"ntfscp", "vshadowmount", "fls"}) || !fs::exists("/dev/fuse"))
    GTEST_SKIP() << "ntfscp, vshadowmount (with FUSE) and fls are needed";
  // Written after the copies were taken, so every view shows their MFT
  // records as the live volume does; the small one is resident.
  test::LnkBuilder small;
  small.strings[test::kRelativePath] = "..\\after.txt";
  const std::string small_file = test::write_file(dir_ / "small.lnk", small.build());
  for (const auto& [from, to] : {std::pair{small_file, "/resident.lnk"}, {sample, "/after.lnk"}})
    ASSERT_EQ(test::shell("ntfscp " + test::q(image_) + " " + test::q(from) + " " + to).status, 0);
  const test::CommandResult r = run({image_, "-vss", "all", "-csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::contains(r.err, "shadow copy 1 of 2, created ")) << r.err;
  EXPECT_TRUE(test::contains(r.err, "shadow copy 2 of 2, created ")) << r.err;
  const auto found = scanned_paths(r.out);

  const fs::path mount = dir_ / "mnt";
  fs::create_directories(mount);
  ASSERT_EQ(test::shell("vshadowmount " + test::q(image_) + " " + test::q(mount)).status, 0);
  size_t compared = 0;
  for (int copy = 1; copy <= 2; ++copy) {
    std::set<std::string> listed;
    const std::string view = (mount / ("vss" + std::to_string(copy))).string();
    for (const test::FlsName& name : test::fls_names(view, 0)) {
      if (name.directory || name.reallocated || !test::selected_name(name.path)) continue;
      LnkRecord record;
      if (parse_lnk_record(record, test::icat_bytes(view, 0, name.entry), 0))
        listed.insert(name.path + (name.deleted ? " (deleted)" : ""));
    }
    const auto it = found.find(copy);
    EXPECT_EQ(it == found.end() ? std::set<std::string>{} : it->second, listed) << "shadow copy " << copy;
    compared += listed.size();
    std::printf("shadow copy %d: %zu shortcuts as fls lists them\n", copy, listed.size());
  }
  test::shell("fusermount -u " + test::q(mount));
  EXPECT_GE(compared, 2u);  // the resident shortcut in each view

  // One copy alone, and the text report names it with its creation time.
  const test::CommandResult one = run({image_, "-vss", "2"});
  EXPECT_TRUE(test::contains(one.out, "shadow copy:              2, created ")) << one.out;
  EXPECT_FALSE(test::contains(one.err, "shadow copy 1 of 2"));
}

}  // namespace
}  // namespace lnk

// -rawscan and -deepscan as a user runs them.
#include <random>

#include "tests/cfb_builder.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;
using test::contains;
namespace fs = std::filesystem;

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
    for (size_t at : offsets) std::copy(sample_.begin(), sample_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return test::write_file(dir_ / name, bytes);
  }
  Bytes sample_ = test::sample_shortcut();
};

TEST_F(RawScan, ImageFileIsCarvedWithOffsets) {
  const std::string path = with_records("blob.bin", 4 * 65536, {512, 65536 + 40, 3 * 65536 - 512});
  test::CommandResult r = run({path, "-rawscan", "-quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(records(r.out), 3u);
  EXPECT_TRUE(contains(r.out, "File offset:              0x00010028 [65576]")) << r.out;
  EXPECT_TRUE(contains(r.out, "File offset:              0x0002fe00 [196096]"));
  r = run({path, "-rawscan", "-quiet", "-csv"});
  EXPECT_TRUE(contains(r.err, "file: " + path + " [using large file scan]\n"));
}

TEST_F(RawScan, DeepscanAndTheFirstChunk) {
  const std::string at300 = with_records("at300.bin", 4096, {300});
  EXPECT_EQ(records(run({at300, "-quiet"}).out), 0u);
  EXPECT_EQ(records(run({at300, "-deepscan", "-quiet"}).out), 1u);
  Bytes zeros(40960, 0);
  std::copy(sample_.begin(), sample_.end(), zeros.begin() + 1024);
  EXPECT_EQ(records(run({test::write_file(dir_ / "at1024.bin", zeros), "-quiet"}).out), 1u);
}

TEST_F(RawScan, PipedNamesAreCarvedOneByOne) {
  const std::string a = with_records("a.bin", 65536, {1024});
  const std::string b = with_records("b.bin", 65536, {2048 + 40, 4096});
  test::CommandResult r = run({"-pipe", "-rawscan", "-quiet"}, a + "\n" + (dir_ / "absent.bin").string() + "\n" + b + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("file: " + a + " [using large file scan]\nlnk offset, "), r.out.find("file: "));
  EXPECT_EQ(records(r.out), 3u);
}

TEST_F(RawScan, DeviceSources) {
  const std::string path = with_records("volume.bin", 2 * 65536, {512, 65536 + 40});
  // As administrator a path to a device (here a file) is read sector by sector.
  test::CommandResult r = run({"-partition", path, "-rawscan", "-quiet"});
  if (contains(r.err, "need to have admin privs")) GTEST_SKIP() << "not administrator";
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, "partition: " + path + " [using large file scan]\n"));
  EXPECT_EQ(records(r.out), 2u);
  r = run({"-partition", "/nonexistent/volume", "-rawscan", "-quiet"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(contains(r.err, "problem reading /nonexistent/volume, aborting\n"));
  r = run({"-vss", "3", "-rawscan", "-quiet"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(contains(r.err, "problem reading \\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3, aborting\n"))
      << r.err;
}

TEST_F(RawScan, JumpListGivenOnTheCommandLine) {
  Bytes jump_list = test::simple_jump_list({sample_, sample_});
  jump_list.resize(8192, 0);
  EXPECT_EQ(records(run({test::write_file(dir_ / "x.automaticDestinations-ms", jump_list), "-quiet"}).out), 2u);
}

// Custom destinations are plain files holding records at any offset: the
// file scan finds them all with -deepscan.
TEST_F(RawScan, CorpusCustomDestinationsWithDeepscan) {
  const fs::path root = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "jumplists";
  if (!fs::exists(root)) GTEST_SKIP() << "corpus absent";
  const std::string signature(sample_.begin(), sample_.begin() + 20);
  size_t total = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!contains(item.path().string(), ".customDestinations-ms")) continue;
    const std::string bytes = test::slurp(item.path());
    size_t signatures = 0;
    for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) ++signatures;
    EXPECT_EQ(records(run({item.path().string(), "-deepscan", "-quiet"}).out), signatures) << item.path();
    total += signatures;
  }
  EXPECT_GE(total, 40u);
}

}  // namespace
}  // namespace lnk

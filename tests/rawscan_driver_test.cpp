// -rawscan and -deepscan as a user runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/cfb_builder.h"
#include "tests/lnk_builder.h"

namespace lnk {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

struct Result {
  int status = -100;
  std::string out, err;
};

class RawScan : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rook_rawscan_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const Bytes& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  static std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  Result run(const std::string& arguments, const std::string& input = "") {
    std::ofstream(dir_ / "in") << input;
    const std::string command = std::string(ROOK_BINARY) + " " + arguments + " <" + (dir_ / "in").string() +
                                " >" + (dir_ / "out").string() + " 2>" + (dir_ / "err").string();
    Result r;
    const int raw = std::system(command.c_str());
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = slurp(dir_ / "out");
    r.err = slurp(dir_ / "err");
    return r;
  }
  static size_t records(const std::string& out) {
    size_t n = 0;
    for (size_t at = out.find("Parsed size:"); at != std::string::npos; at = out.find("Parsed size:", at + 1)) ++n;
    return n;
  }

  fs::path dir_;
  Bytes sample_ = test::sample_shortcut();
};

Bytes with_records(size_t size, std::initializer_list<size_t> offsets, const Bytes& record) {
  std::mt19937 generator(9);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  for (size_t at : offsets) std::copy(record.begin(), record.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

TEST_F(RawScan, ImageFileIsCarvedWithOffsets) {
  const std::string path = write("blob.bin", with_records(4 * 65536, {512, 65536 + 40, 3 * 65536 - 512}, sample_));
  Result r = run(path + " -rawscan -quiet");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(records(r.out), 3u);
  EXPECT_NE(r.out.find("File offset:              0x00010028 [65576]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("File offset:              0x0002fe00 [196096]"), std::string::npos);
  r = run(path + " -rawscan -quiet -csv");
  EXPECT_NE(r.err.find("file: " + path + " [using large file scan]\n"), std::string::npos);
}

TEST_F(RawScan, DeepscanAndTheFirstChunk) {
  const std::string at300 = write("at300.bin", with_records(4096, {300}, sample_));
  EXPECT_EQ(records(run(at300 + " -quiet").out), 0u);
  EXPECT_EQ(records(run(at300 + " -deepscan -quiet").out), 1u);
  Bytes zeros(40960, 0);
  std::copy(sample_.begin(), sample_.end(), zeros.begin() + 1024);
  const std::string at1024 = write("at1024.bin", zeros);
  EXPECT_EQ(records(run(at1024 + " -quiet").out), 1u);
}

TEST_F(RawScan, PipedNamesAreCarvedOneByOne) {
  const std::string a = write("a.bin", with_records(65536, {1024}, sample_));
  const std::string b = write("b.bin", with_records(65536, {2048 + 40, 4096}, sample_));
  Result r = run("-pipe -rawscan -quiet", a + "\n" + (dir_ / "absent.bin").string() + "\n" + b + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("file: " + a + " [using large file scan]\nlnk offset, "), r.out.find("file: "));
  EXPECT_EQ(records(r.out), 3u);
}

TEST_F(RawScan, DeviceSources) {
  const std::string path = write("volume.bin", with_records(2 * 65536, {512, 65536 + 40}, sample_));
  // As administrator a path to a device (here a file) is read sector by sector.
  Result r = run("-partition " + path + " -rawscan -quiet");
  if (r.err.find("need to have admin privs") != std::string::npos) GTEST_SKIP() << "not administrator";
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("partition: " + path + " [using large file scan]\n"), std::string::npos);
  EXPECT_EQ(records(r.out), 2u);
  r = run("-partition /nonexistent/volume -rawscan -quiet");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("problem reading /nonexistent/volume, aborting\n"), std::string::npos);
  r = run("-vss 3 -rawscan -quiet");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("problem reading \\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3, aborting\n"),
            std::string::npos)
      << r.err;
}

TEST_F(RawScan, JumpListGivenOnTheCommandLine) {
  Bytes jump_list = test::simple_jump_list({sample_, sample_});
  jump_list.resize(8192, 0);
  EXPECT_EQ(records(run(write("x.automaticDestinations-ms", jump_list) + " -quiet").out), 2u);
}

// Custom destinations are plain files holding records at any offset: the
// file scan finds them all with -deepscan.
TEST_F(RawScan, CorpusCustomDestinationsWithDeepscan) {
  const fs::path root = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "jumplists";
  if (!fs::exists(root)) GTEST_SKIP() << "corpus absent";
  const std::string signature(sample_.begin(), sample_.begin() + 20);
  size_t total = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.path().string().find(".customDestinations-ms") == std::string::npos) continue;
    const std::string bytes = slurp(item.path());
    size_t signatures = 0;
    for (size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 1)) ++signatures;
    EXPECT_EQ(records(run("'" + item.path().string() + "' -deepscan -quiet").out), signatures) << item.path();
    total += signatures;
  }
  EXPECT_GE(total, 40u);
}

}  // namespace
}  // namespace lnk

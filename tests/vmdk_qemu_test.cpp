// The VMware reader against qemu: every byte of a disk read through the
// chain equals what qemu-img converts it to, for the corpus disks and for
// disks, snapshots and layouts made with qemu-img and written with qemu-io.
#include <gtest/gtest.h>

#include "cmdline/partition_listing.h"
#include "storage/file_source.h"
#include "storage/vmdk_chain.h"
#include "tests/image_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::shell;

class QemuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::have_tools({"qemu-img", "qemu-io"})) GTEST_SKIP() << "qemu-utils missing";
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void run(const std::string& command) { ASSERT_EQ(shell(command).status, 0) << command; }
  // qemu-io writes of fill bytes: {offset, length, byte}.
  void write(const std::string& disk, std::initializer_list<std::tuple<uint64_t, uint64_t, int>> writes) {
    std::string command = "qemu-io -f vmdk";
    for (const auto& [offset, length, fill] : writes)
      command += " -c 'write -P " + std::to_string(fill) + " " + std::to_string(offset) + " " +
                 std::to_string(length) + "'";
    run(command + " " + q(disk) + " >/dev/null");
  }
  std::vector<uint8_t> qemu_raw(const std::string& disk) {
    const std::string raw = path("converted.raw");
    if (shell("qemu-img convert -O raw " + q(disk) + " " + q(raw)).status != 0) return {};
    std::unique_ptr<FileSource> file = FileSource::open(raw);
    return file ? test::read_whole(*file) : std::vector<uint8_t>{};
  }
  std::vector<uint8_t> chain_bytes(const std::vector<std::string>& files) {
    VmdkChain chain;
    VmdkProblem problem;
    if (!chain.open(files, problem)) {
      ADD_FAILURE() << render_vmdk_problem(problem);
      return {};
    }
    return test::read_whole(chain);
  }
  const test::ScratchDir scratch_{"vmdk"};
  const fs::path& dir_ = scratch_.path;
};

TEST_F(QemuTest, CorpusDisksReadAsQemuConvertsThem) {
  const fs::path corpus = test::corpus_images();
  if (!fs::exists(corpus / "vmdk-rs")) GTEST_SKIP() << "corpus absent";
  for (const char* name : {"vmdk-rs/monolithicSparse.vmdk", "vmdk-rs/twoGbMaxExtentSparse.vmdk",
                           "vmdk-rs/streamOptimized.vmdk", "ext2.vmdk", "image_ext2.vmdk"}) {
    const std::string disk = (corpus / name).string();
    if (!vmdk_compression_available() && std::string(name).find("stream") != std::string::npos) {
      EXPECT_EQ(check_vmdk_set({disk}).problem.open.error, VmdkOpenError::needs_zlib);
      continue;
    }
    const std::vector<uint8_t> expected = qemu_raw(disk);
    ASSERT_FALSE(expected.empty()) << name;
    EXPECT_TRUE(chain_bytes({disk}) == expected) << name;
  }
}

// base <- child1 <- child2, 64 KiB grains.
TEST_F(QemuTest, SnapshotChainsInAnyOrder) {
  const std::string base = path("base.vmdk"), child1 = path("child1.vmdk"), child2 = path("child2.vmdk");
  run("qemu-img create -q -f vmdk " + q(base) + " 4M");
  write(base, {{0, 1 << 20, 0x11}, {3 << 20, 64 << 10, 0x12}});
  run("qemu-img create -q -f vmdk -b " + q(base) + " -F vmdk " + q(child1));
  write(child1, {{64 << 10, 64 << 10, 0x22}, {2 << 20, 64 << 10, 0x23}});
  run("qemu-img create -q -f vmdk -b " + q(child1) + " -F vmdk " + q(child2));
  write(child2, {{(128 << 10) + 4096, 4096, 0x33}, {64 << 10, 512, 0x34}});
  const std::vector<uint8_t> expected = qemu_raw(child2);
  ASSERT_EQ(expected.size(), 4u << 20);

  const std::vector<std::vector<std::string>> orders = {
      {base, child1, child2}, {child2, base, child1}, {child1, child2, base}};
  for (const auto& order : orders) {
    EXPECT_TRUE(check_vmdk_set(order).ok);
    EXPECT_TRUE(chain_bytes(order) == expected) << order[0];
  }
  EXPECT_EQ(check_vmdk_set({child2, child1}).suggested, (std::vector<std::string>{child2, child1, base}));

  // Writing to the base after the snapshot gives it a new CID.
  write(base, {{0, 512, 0x44}});
  const VmdkSetCheck check = check_vmdk_set({child1, base});
  EXPECT_EQ(check.problem.kind, VmdkProblemKind::cid_error);
  EXPECT_EQ(check.problem.parent_path, base);
}

// Flat and split layouts, alone and as the base of a sparse snapshot.
TEST_F(QemuTest, FlatAndSplitLayoutsAloneAndUnderASnapshot) {
  struct Layout {
    const char* subformat;
    const char* size;
    std::vector<uint64_t> offsets;  // where to write
  };
  const uint64_t g = 1ull << 30;
  const Layout layouts[] = {
      {"monolithicFlat", "3M", {0, 1 << 20, (3 << 20) - 512}},
      {"twoGbMaxExtentFlat", "3M", {0, 1 << 20}},
      {"monolithicSparse", "3M", {4096, (2 << 20) + 100}},
      {"twoGbMaxExtentSparse", "5G", {2 * g - 4096, 4 * g + 65536 - 100, 5 * g - 512}},
      {"twoGbMaxExtentFlat", "5G", {2 * g - 4096, 4 * g - 100, 5 * g - 512}},
  };
  int n = 0;
  for (const Layout& layout : layouts) {
    const std::string disk = path("disk" + std::to_string(++n) + ".vmdk");
    run("qemu-img create -q -f vmdk -o subformat=" + std::string(layout.subformat) + " " + q(disk) + " " +
        layout.size);
    for (uint64_t offset : layout.offsets) write(disk, {{offset, 512, 0x50 + n}});
    const std::string child = path("child" + std::to_string(n) + ".vmdk");
    run("qemu-img create -q -f vmdk -b " + q(disk) + " -F vmdk " + q(child));
    write(child, {{layout.offsets.back(), 100, 0x70 + n}});
    for (const std::string& top : {disk, child}) {
      const std::vector<std::string> files = top == disk ? std::vector<std::string>{disk} : std::vector{child, disk};
      VmdkChain chain;
      VmdkProblem problem;
      ASSERT_TRUE(chain.open(files, problem)) << layout.subformat << render_vmdk_problem(problem);
      const std::string raw = path("converted.raw");
      run("qemu-img convert -O raw " + q(top) + " " + q(raw));
      std::unique_ptr<FileSource> expected = FileSource::open(raw);
      ASSERT_EQ(chain.size(), expected->size()) << layout.subformat;
      // Small disks whole; large ones around every write and every 2 GiB seam.
      std::vector<std::pair<uint64_t, uint64_t>> windows;
      if (chain.size() <= (64u << 20)) {
        windows.emplace_back(0, chain.size());
      } else {
        for (uint64_t at : layout.offsets) windows.emplace_back(at - 65536, 3 * 65536);
        for (uint64_t seam = 2 * g; seam < chain.size(); seam += 2 * g) windows.emplace_back(seam - 65536, 131072);
      }
      for (auto [start, length] : windows) {
        length = std::min(length, chain.size() - start);
        std::vector<uint8_t> mine(length), theirs(length);
        ASSERT_TRUE(read_exact(chain, start, mine)) << layout.subformat << " at " << start;
        ASSERT_TRUE(read_exact(*expected, start, theirs));
        EXPECT_TRUE(mine == theirs) << layout.subformat << " " << top << " at " << start;
      }
    }
  }
}

TEST_F(QemuTest, StreamOptimizedFromRandomAndRepetitiveData) {
  const std::string raw = path("source.raw"), disk = path("stream.vmdk");
  // Incompressible, repetitive and empty grains, and a last grain cut short.
  run("head -c 300000 /dev/urandom > " + q(raw) + " && head -c 500000 /dev/zero | tr '\\0' 'r' >> " + q(raw) +
      " && truncate -s 1500000 " + q(raw) + " && printf tail >> " + q(raw));
  run("qemu-img convert -O vmdk -o subformat=streamOptimized " + q(raw) + " " + q(disk));
  if (!vmdk_compression_available()) {
    const VmdkSetCheck check = check_vmdk_set({disk});
    EXPECT_EQ(render_vmdk_problem(check.problem),
              disk + " can't be opened\n  stream-optimized VMware disks need zlib, which this build lacks\n");
    return;
  }
  std::unique_ptr<FileSource> source = FileSource::open(raw);
  std::vector<uint8_t> expected = test::read_whole(*source);
  expected.resize((expected.size() + 511) / 512 * 512, 0);
  EXPECT_TRUE(chain_bytes({disk}) == expected);

  // Small reads inflate a grain only in part at first: later reads past that
  // part, before it, and across grains still see the disk's bytes.
  {
    VmdkChain chain;
    VmdkProblem problem;
    ASSERT_TRUE(chain.open({disk}, problem));
    const std::vector<std::pair<uint64_t, uint64_t>> reads = {
        {100, 700},     {65536 + 8192, 1024}, {40000, 30000}, {65536 + 4096, 512},
        {65536, 65536}, {131072 + 60000, 9000}, {200, 65000}, {1499000, 1000}};
    for (const auto& [offset, length] : reads) {
      std::vector<uint8_t> got(length);
      uint64_t read = 0;
      ASSERT_TRUE(read_available(chain, offset, got, read)) << offset;
      got.resize(read);
      const auto from = expected.begin() + static_cast<std::ptrdiff_t>(offset);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), from, from + static_cast<std::ptrdiff_t>(read)))
          << "read of " << length << " at " << offset;
      EXPECT_EQ(read, std::min<uint64_t>(length, expected.size() - offset));
    }
  }

  // As VMware streams it: the directory's place known only from the footer
  // (a header copy between a footer marker and the end-of-stream marker).
  std::unique_ptr<FileSource> written = FileSource::open(disk);
  std::vector<uint8_t> stream = test::read_whole(*written);
  const std::vector<uint8_t> header(stream.begin(), stream.begin() + 512);
  std::vector<uint8_t> footer_marker(512, 0);
  footer_marker[0] = 1;    // one sector of metadata follows
  footer_marker[12] = 3;   // footer
  stream.insert(stream.end(), footer_marker.begin(), footer_marker.end());
  stream.insert(stream.end(), header.begin(), header.end());
  stream.insert(stream.end(), 512, 0);
  std::fill(stream.begin() + 56, stream.begin() + 64, 0xFF);
  test::write_file(dir_ / "vmware.vmdk", stream);
  EXPECT_TRUE(chain_bytes({path("vmware.vmdk")}) == expected);

  // Copied without its last kilobytes: the footer is gone.
  stream.resize(stream.size() - 1024);
  test::write_file(dir_ / "cut.vmdk", stream);
  const VmdkSetCheck check = check_vmdk_set({path("cut.vmdk")});
  EXPECT_EQ(check.problem.open.error, VmdkOpenError::incomplete_stream);
}

TEST_F(QemuTest, DescriptorNamingSparseFlatAndZeroExtents) {
  run("qemu-img create -q -f vmdk " + q(path("a.vmdk")) + " 1M");
  write(path("a.vmdk"), {{0, 65536, 0x41}, {960 << 10, 65536, 0x42}});
  run("head -c 1048576 /dev/zero | tr '\\0' F > " + q(path("b.raw")));
  run("qemu-img create -q -f vmdk " + q(path("c.vmdk")) + " 2M");
  write(path("c.vmdk"), {{1 << 20, 4096, 0x43}});
  const std::string head = "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\n"
                           "createType=\"twoGbMaxExtentSparse\"\n\n# Extent description\n"
                           "RW 2048 SPARSE \"a.vmdk\"\nRW 1024 FLAT \"b.raw\" 1024\n";
  const std::string tail = "RW 4096 SPARSE \"c.vmdk\"\n";
  run("printf '" + head + tail + "' > " + q(path("multi.vmdk")));
  run("printf '" + head + "RW 2048 ZERO\n" + tail + "' > " + q(path("zero.vmdk")));
  const std::vector<uint8_t> expected = qemu_raw(path("multi.vmdk"));
  ASSERT_EQ(expected.size(), 7u * 512 * 1024);
  EXPECT_TRUE(chain_bytes({path("multi.vmdk")}) == expected);
  // qemu skips ZERO extents; they read as zeros in their place.
  std::vector<uint8_t> with_zeros = expected;
  with_zeros.insert(with_zeros.begin() + 3 * 512 * 1024, 1024 * 1024, 0);
  EXPECT_TRUE(chain_bytes({path("zero.vmdk")}) == with_zeros);
}

}  // namespace
}  // namespace lnk

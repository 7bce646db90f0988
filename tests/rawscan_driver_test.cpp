// -rawscan and -deepscan as a user runs them.
#include <random>

#include "tests/cfb_builder.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;
using test::contains;

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

}  // namespace
}  // namespace lnk

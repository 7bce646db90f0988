// The corpus volumes with shadow copies against vshadowinfo's listing and
// vshadowmount's views, byte for byte (sampled for large volumes); then
// `-vss N` and `-vss all` on an image: each shadow copy's view of the volume
// is scanned like a volume, and finds the shortcuts fls lists on the same
// view as vshadowmount exposes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "images/image_open.h"
#include "lnk/parse_lnk.h"
#include "platform/text.h"
#include "storage/file_source.h"
#include "storage/memory_source.h"
#include "storage/vss_source.h"
#include "storage/window_source.h"
#include "tests/image_test_support.h"
#include "tests/lnk_builder.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"
#include "tests/vss_volume_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::shell;

// "Dec 03, 2013 06:35:09.736378700 UTC", as vshadowinfo writes a FILETIME.
std::string vshadowinfo_time(uint64_t filetime) {
  constexpr uint64_t kUnixEpoch = 11644473600ull;
  const std::time_t t = static_cast<std::time_t>(static_cast<int64_t>(filetime / 10000000 - kUnixEpoch));
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%b %d, %Y %H:%M:%S", &parts);
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%07llu00 UTC", static_cast<unsigned long long>(filetime % 10000000));
  return std::string(text) + fraction;
}

struct ListedStore {
  std::string identifier, creation_time;
  uint64_t volume_size = 0;
  bool outside = false;
};

// The stores in vshadowinfo's output, in its order.
std::vector<ListedStore> parse_vshadowinfo(const std::string& text) {
  std::vector<ListedStore> stores;
  for (const std::string& line : test::split_lines(text)) {
    const size_t colon = line.find(": ");
    const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
    if (line.rfind("Store: ", 0) == 0) stores.emplace_back();
    if (stores.empty()) continue;
    if (line.find("Identifier") != std::string::npos) stores.back().identifier = value;
    if (line.find("Creation time") != std::string::npos) stores.back().creation_time = value;
    if (line.find("Data stored outside volume") != std::string::npos) stores.back().outside = true;
    const size_t bytes = value.find(" bytes)");
    if (line.find("Volume size") != std::string::npos && bytes != std::string::npos) {
      const size_t open = value.rfind('(', bytes);
      stores.back().volume_size = std::stoull(value.substr(open + 1, bytes - open - 1));
    }
  }
  return stores;
}

// vshadowmount's FUSE mount, taken down however the test ends.
struct VshadowMount {
  fs::path dir;
  bool mounted = false;
  VshadowMount(const fs::path& image, uint64_t offset, const fs::path& where) : dir(where) {
    if (!fs::exists("/dev/fuse") || !test::have_tools({"vshadowmount", "fusermount"})) return;
    fs::create_directories(dir);
    // Its daemon keeps no hold on the output read here.
    const std::string command = "vshadowmount -o " + std::to_string(offset) + " " + q(image) + " " + q(dir);
    mounted = shell(command + " >/dev/null").status == 0 && fs::exists(dir / "vss1");
  }
  ~VshadowMount() {
    if (mounted) shell("fusermount -u " + q(dir));
  }
};

// Compares [offset, offset + length) of two sources; false names the 16 KiB
// blocks that differ.
::testing::AssertionResult same_range(ByteSource& ours, ByteSource& theirs, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> a(length), b(length);
  uint64_t got_a = 0, got_b = 0;
  if (!read_available(ours, offset, a, got_a)) return ::testing::AssertionFailure() << "ours failed at " << offset;
  if (!read_available(theirs, offset, b, got_b)) return ::testing::AssertionFailure() << "theirs failed at " << offset;
  if (got_a != got_b)
    return ::testing::AssertionFailure() << "lengths " << got_a << " and " << got_b << " at " << offset;
  if (std::memcmp(a.data(), b.data(), got_a) == 0) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure() << "16 KiB blocks that differ:";
  for (uint64_t at = 0; at < got_a; at += kShadowBlockSize) {
    const uint64_t length = std::min<uint64_t>(kShadowBlockSize, got_a - at);
    if (std::memcmp(a.data() + at, b.data() + at, length) != 0) failure << " " << (offset + at) / kShadowBlockSize;
  }
  return failure;
}

constexpr uint64_t kWholeViewLimit = 6ull << 30;

// Where a large view is compared: its first 4 MiB, every block the store or
// a later one saved (up to a few thousand), scattered 64 KiB pieces, its end.
std::vector<std::pair<uint64_t, uint64_t>> sample_ranges(ShadowVolume& shadows, uint32_t number, uint64_t size,
                                                         size_t* saved_count = nullptr) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (uint64_t at = 0; at < std::min<uint64_t>(size, 4 << 20); at += 256 << 10) ranges.push_back({at, 256 << 10});
  std::set<uint64_t> saved;
  for (uint32_t later = number; later <= shadows.stores().size() && saved.size() < 4000; ++later) {
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> store = shadows.open_store(later, status);
    if (!store) continue;
    for (uint64_t offset : store->saved_block_offsets(4000 - saved.size())) saved.insert(offset);
  }
  for (uint64_t offset : saved) ranges.push_back({offset, kShadowBlockSize});
  if (saved_count != nullptr) *saved_count = saved.size();
  std::mt19937_64 random(number);
  for (int i = 0; i < 64; ++i) ranges.push_back({(random() % size) & ~uint64_t{511}, 64 << 10});
  ranges.push_back({size - std::min<uint64_t>(size, 64 << 10), 64 << 10});
  return ranges;
}

struct CorpusVolume {
  const char *name, *image, *raw;  // image below the corpus images folder, raw once unpacked
  uint64_t offset;
  size_t stores;  // as vshadowinfo lists them
};
void PrintTo(const CorpusVolume& v, std::ostream* out) { *out << v.name; }

class ShadowCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(ShadowCorpus, StoresAndViewsEqualLibvshadowTools) {
  const CorpusVolume& volume = GetParam();
  if (!test::have_tools({"vshadowinfo"})) GTEST_SKIP() << "libvshadow-utils missing";
  const test::ScratchDir scratch("vss");
  const fs::path image = test::corpus_raw_image(std::string("images/") + volume.image, volume.raw);
  if (image.empty()) GTEST_SKIP() << volume.image << " or the tool to unpack it is missing";

  const std::vector<ListedStore> listed =
      parse_vshadowinfo(shell("vshadowinfo -o " + std::to_string(volume.offset) + " " + q(image)).out);
  ASSERT_EQ(listed.size(), volume.stores);
  std::unique_ptr<FileSource> file = FileSource::open(image.string());
  ASSERT_TRUE(file);
  WindowSource window(*file, volume.offset, file->size() - volume.offset);
  ShadowVolume shadows;
  const ShadowStatus opened = shadows.open(window);
  ASSERT_TRUE(opened.ok()) << shadow_error_text(opened);
  ASSERT_EQ(shadows.stores().size(), listed.size());
  EXPECT_FALSE(shadows.catalog_damaged());
  for (size_t i = 0; i < listed.size(); ++i) {
    const ShadowStoreInfo& store = shadows.stores()[i];
    SCOPED_TRACE("store " + std::to_string(i + 1));
    EXPECT_EQ(std::make_tuple(store.number, guid_text(store.identifier), vshadowinfo_time(store.creation_time),
                              store.volume_size, store.data_in_volume, store.damaged),
              std::make_tuple(i + 1, listed[i].identifier, listed[i].creation_time, listed[i].volume_size,
                              !listed[i].outside, false));
    EXPECT_TRUE(i == 0 || shadows.stores()[i - 1].creation_time < store.creation_time);
  }
  ShadowStatus beyond;
  EXPECT_FALSE(shadows.open_store(static_cast<uint32_t>(listed.size() + 1), beyond));
  EXPECT_EQ(beyond.error, ShadowError::no_such_store);

  if (listed.empty()) return;
  const VshadowMount mount(image, volume.offset, scratch.path / "mnt");
  if (!mount.mounted) GTEST_SKIP() << "FUSE unavailable: store bytes not compared with vshadowmount";
  for (uint32_t number = 1; number <= listed.size(); ++number) {
    SCOPED_TRACE("store " + std::to_string(number));
    std::unique_ptr<FileSource> theirs = FileSource::open((mount.dir / ("vss" + std::to_string(number))).string());
    ASSERT_TRUE(theirs);
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> ours = shadows.open_store(number, status);
    if (listed[number - 1].outside) {
      // Neither can rebuild a view whose saved blocks are on another volume.
      EXPECT_EQ(std::make_pair(ours == nullptr, status.error), std::make_pair(true, ShadowError::data_elsewhere));
      std::vector<uint8_t> sector(512);
      uint64_t got = 0;
      EXPECT_FALSE(read_available(*theirs, 0, sector, got) && got == sector.size());
      continue;
    }
    ASSERT_TRUE(ours) << shadow_error_text(status);
    ASSERT_EQ(ours->size(), theirs->size());
    if (ours->size() <= kWholeViewLimit) {
      for (uint64_t at = 0; at < ours->size(); at += 8 << 20) ASSERT_TRUE(same_range(*ours, *theirs, at, 8 << 20));
    } else {
      size_t saved = 0;
      const auto ranges = sample_ranges(shadows, number, ours->size(), &saved);
      EXPECT_GT(saved, 0u);
      for (const auto& [at, length] : ranges) ASSERT_TRUE(same_range(*ours, *theirs, at, length));
    }
  }
}

const CorpusVolume kShadowVolumes[] = {
    {"vsstest", "vsstest.qcow2", "vsstest.raw", 0, 2},
    {"vss_1_vol", "dfir_ntfs/vss_1_vol.tar.gz", "vss_1_vol.raw", 67584 * 512ull, 2},
    {"vss_2_stor", "dfir_ntfs/vss_2_stor.tar.gz", "vss_2_stor.raw", 67584 * 512ull, 1},
    {"vss_3_volstor", "dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 4196352 * 512ull, 2},
    {"vss_2003", "dfir_ntfs/vss_2003.tgz", "vss_2003.raw", 63 * 512ull, 6},
    {"ntfs_samples", "ntfs-samples/ntfs.tgz", "ntfs.raw", 2048 * 512ull, 2},
    // It holds the other volume's saved blocks but no copies of its own.
    {"vss_3_volstor_first", "dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 2048 * 512ull, 0},
    {"windows_volume", "windows_volume.qcow2", "windows_volume.raw", 0, 0},
};

INSTANTIATE_TEST_SUITE_P(
    Volumes, ShadowCorpus, ::testing::ValuesIn(kShadowVolumes),
    [](const ::testing::TestParamInfo<CorpusVolume>& info) { return std::string(info.param.name); });

// A built volume whose lists hold what the corpus's do not: overlays, one
// over another's block and one over a saved block, an entry not used,
// forwarders (to the next store, to the live volume from the newest store,
// one replaced by an entry for its target, one to the block it replaces),
// and bitmaps that mark blocks unused. Every view equals vshadowmount's.
TEST(ShadowBuilt, ListRulesAndBitmapsGiveVshadowmountsViews) {
  const test::ScratchDir scratch("vss");
  using Builder = test::ShadowVolumeBuilder;
  Builder b;
  const auto at = [](uint64_t index) { return Builder::block(index); };
  for (const auto& [index, value] : {std::pair{9, 0x90}, {13, 0xd0}, {14, 0xe0}, {15, 0xf0}}) b.fill(index, value);
  b.list_entry(1, 2, 26, 1, at(13), kShadowDescriptorOverlay, 0b101);
  b.list_entry(1, 3, 26, 1, at(14), kShadowDescriptorOverlay, 0b100000);
  b.list_entry(1, 4, 27, 0, at(14), kShadowDescriptorNotUsed);
  b.list_entry(1, 5, 29, at(31), 0, kShadowDescriptorForwarder);
  b.list_entry(1, 6, 33, at(33), 0, kShadowDescriptorForwarder);
  b.list_entry(0, 1, 24, 1, at(15), kShadowDescriptorOverlay, 0b11);
  b.list_entry(0, 2, 40, 1, at(15), kShadowDescriptorOverlay, 0b11);
  b.list_entry(0, 3, 28, at(25), 0, kShadowDescriptorForwarder);
  b.list_entry(0, 4, 34, at(35), 0, kShadowDescriptorForwarder);
  b.list_entry(0, 5, 35, at(35), at(9), 0);
  b.list_entry(0, 6, 36, at(37), 0, kShadowDescriptorForwarder);
  b.list_entry(0, 7, 37, at(36), 0, kShadowDescriptorForwarder);
  b.bitmap(1, kCatalogBitmapField, 7, {30, 31, 32, 41});
  b.bitmap(1, kCatalogPreviousBitmapField, 8, {30, 31, 41});
  b.bitmap(0, kCatalogBitmapField, 4, {42, 43});
  const fs::path image = test::write_file(scratch.path / "built.raw", b.bytes);
  MemorySource volume(b.bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  const VshadowMount mount(image, 0, scratch.path / "mnt");
  if (!mount.mounted) GTEST_SKIP() << "vshadowmount with FUSE is needed";
  for (uint32_t number : {1u, 2u}) {
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> ours = shadows.open_store(number, status);
    std::unique_ptr<FileSource> theirs = FileSource::open((mount.dir / ("vss" + std::to_string(number))).string());
    ASSERT_TRUE(ours && theirs);
    EXPECT_FALSE(ours->info().damaged);
    ASSERT_EQ(ours->size(), theirs->size());
    EXPECT_TRUE(same_range(*ours, *theirs, 0, ours->size())) << "store " << number;
  }
}

// The same volume in a VMware disk, an E01 file, a VHDX disk, split raw
// files and the corpus QCOW2 gives the raw one's stores and views.
TEST(ShadowCorpusPlain, EveryContainerGivesTheRawViews) {
  const test::ScratchDir scratch("vss");
  const fs::path raw = test::corpus_raw_image("images/vsstest.qcow2", "vsstest.raw");
  if (raw.empty()) GTEST_SKIP() << "vsstest.qcow2 or qemu-img missing";
  std::vector<fs::path> containers;
  const fs::path vmdk = scratch.path / "vsstest.vmdk";
  if (shell("qemu-img convert -O vmdk " + q(test::corpus_images() / "vsstest.qcow2") + " " + q(vmdk)).status == 0)
    containers.push_back(vmdk);
  if (ewf_support_available() && test::have_tools({"ewfacquirestream"}) &&
      shell("ewfacquirestream -q -c deflate:fast -t " + q(scratch.path / "vsstest") + " < " + q(raw) + " >/dev/null")
              .status == 0)
    containers.push_back(scratch.path / "vsstest.E01");
  containers.push_back(test::corpus_images() / "vsstest.qcow2");
  const fs::path vhdx = scratch.path / "vsstest.vhdx";
  if (shell("qemu-img convert -O vhdx " + q(raw) + " " + q(vhdx)).status == 0) containers.push_back(vhdx);
  if (shell("split -b 300M --numeric-suffixes=1 -a 3 " + q(raw) + " " + q(scratch.path / "vsstest.")).status == 0)
    containers.push_back(scratch.path / "vsstest.001");
  if (containers.empty()) GTEST_SKIP() << "neither a VMware disk nor an E01 file could be made";

  std::unique_ptr<FileSource> file = FileSource::open(raw.string());
  ShadowVolume reference;
  ASSERT_TRUE(file && reference.open(*file).ok());
  for (const fs::path& container : containers) {
    SCOPED_TRACE(container.filename().string());
    const ImageOpenResult image = open_image_by_content(container.string());
    ShadowVolume shadows;
    ASSERT_TRUE(image.ok() && shadows.open(*image.source).ok());
    ASSERT_EQ(shadows.stores().size(), 2u);
    for (uint32_t number : {1u, 2u}) {
      EXPECT_EQ(shadows.stores()[number - 1].creation_time, reference.stores()[number - 1].creation_time);
      ShadowStatus status;
      std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
      std::unique_ptr<ShadowStoreSource> expected = reference.open_store(number, status);
      ASSERT_TRUE(view && expected);
      ASSERT_EQ(view->size(), expected->size());
      for (const auto& [at, length] : sample_ranges(reference, number, expected->size()))
        ASSERT_TRUE(same_range(*view, *expected, at, length));
    }
  }
}

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
      {{image_, "-vss", "0"}, "invalid value for -vss: 0 (accepted: a shadow copy number (1 is the oldest) or all)"},
      // A volume without shadow copies, and bytes that are no volume.
      {{(dir_ / "plain.raw").string(), "-vss", "1"}, "holds no shadow copies"},
      {{sample, "-vss", "1"}, ""},
  };
  const std::string plain = test::q(dir_ / "plain.raw");
  ASSERT_EQ(test::shell("truncate -s 16M " + plain + " && mkntfs -F -f -q " + plain).status, 0);
  for (const auto& c : cases) {
    const test::CommandResult r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args[0] << " " << c.args[2];
    EXPECT_TRUE(!r.err.empty() && test::contains(r.err, c.message)) << r.err;
  }

  if (!test::have_tools({"ntfscp", "fls"})) GTEST_SKIP() << "ntfscp and fls are needed";
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
  // One copy alone, and the text report names it with its creation time.
  const test::CommandResult one = run({image_, "-vss", "2"});
  EXPECT_TRUE(test::contains(one.out, "shadow copy:              2, created ")) << one.out;
  EXPECT_FALSE(test::contains(one.err, "shadow copy 1 of 2"));

  const VshadowMount mount(image_, 0, dir_ / "mnt");
  if (!mount.mounted) GTEST_SKIP() << "vshadowmount with FUSE is needed";
  size_t compared = 0;
  for (int copy = 1; copy <= 2; ++copy) {
    std::set<std::string> listed;
    const std::string view = (mount.dir / ("vss" + std::to_string(copy))).string();
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
  EXPECT_GE(compared, 2u);  // the resident shortcut in each view
}

// Damage is told whatever -quiet says: of the catalog, and of the copy that
// reads through a cut list, not of the newer copy it reads through.
using VssDamage = test::ScratchDirTest;
TEST_F(VssDamage, DamagedCatalogAndCopiesAreNamed) {
  using Builder = test::ShadowVolumeBuilder;
  Builder b;
  const uint64_t list = Builder::block(Builder::kBlockListBlock[0]);
  const uint64_t catalog = Builder::block(Builder::kCatalogBlock);
  b.put(list + kShadowNextOffsetField, list, 8);
  b.put(catalog + kShadowNextOffsetField, catalog, 8);
  const std::string image = test::write_file(dir_ / "damaged.raw", b.bytes);
  const test::CommandResult r = run({image, "-vss", "all", "-rawscan", "-quiet"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::contains(r.err, "the shadow-copy catalog of " + image + " is damaged: copies listed past the "
                                    "damage are missing\n")) << r.err;
  EXPECT_TRUE(test::contains(r.err, "shadow copy 1 of " + image + " is damaged: blocks that damaged store lists no "
                                    "longer name read as a later copy or the live volume holds them\n")) << r.err;
  EXPECT_FALSE(test::contains(r.err, "shadow copy 2 of " + image + " is damaged")) << r.err;
}

}  // namespace
}  // namespace lnk

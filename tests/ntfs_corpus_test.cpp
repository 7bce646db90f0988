// Every NTFS volume of the real corpus, read through the NTFS layer and
// compared with sleuthkit: names and paths both ways, a sample of files
// through istat and icat (compressed ones decoded), and the shadow-copy
// catalogs against vshadowinfo. Shortcuts planted in two of them are the
// MFT scan's test.
#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <set>
#include <string>

#include "ntfs/ntfs_volume.h"
#include "ntfs/shadow_catalog.h"
#include "storage/file_source.h"
#include "storage/window_source.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

struct CorpusVolume {
  const char* archive;     // below the corpus folder
  const char* raw;         // the image's name once unpacked
  uint64_t sector_offset;  // where mmls places the NTFS partition
  size_t stores;           // shadow copies vshadowinfo lists
};
void PrintTo(const CorpusVolume& v, std::ostream* out) { *out << v.raw << " @ sector " << v.sector_offset; }

const CorpusVolume kVolumes[] = {
    {"images/vsstest.qcow2", "vsstest.raw", 0, 2},
    {"images/windows_volume.qcow2", "windows_volume.raw", 0, 0},
    {"images/ntfs-samples/ntfs-2m.raw.gz", "ntfs-2m.raw", 128, 0},
    {"images/ntfs-samples/ntfs-lastaccess.raw.gz", "ntfs-lastaccess.raw", 128, 0},
    {"images/ntfs-samples/ntfs-ramslack.raw.gz", "ntfs-ramslack.raw", 128, 0},
    {"images/ntfs-samples/ntfs-si-vs-fn.raw.gz", "ntfs-si-vs-fn.raw", 128, 0},
    {"images/ntfs-samples/ntfs.tgz", "ntfs.raw", 2048, 2},
    {"images/dfir_ntfs/ntfs_index.raw.gz", "ntfs_index.raw", 128, 0},
    {"images/dfir_ntfs/vss_1_vol.tar.gz", "vss_1_vol.raw", 67584, 2},
    {"images/dfir_ntfs/vss_2_stor.tar.gz", "vss_2_stor.raw", 67584, 3},
    {"images/dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 2048, 2},
    {"images/dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 4196352, 2},
    {"images/dfir_ntfs/vss_2003.tgz", "vss_2003.raw", 63, 6},
};

class NtfsCorpus : public ::testing::TestWithParam<CorpusVolume> {
 protected:
  void SetUp() override {
    const CorpusVolume& v = GetParam();
    if (!test::have_tool("fls") || !test::have_tool("istat") || !test::have_tool("icat"))
      GTEST_SKIP() << "sleuthkit (fls, istat, icat) is not installed";
    image_ = test::corpus_raw_image(v.archive, v.raw);
    if (image_.empty()) GTEST_SKIP() << "corpus image " << v.archive << " absent or cannot be unpacked";
    file_ = FileSource::open(image_.string());
    ASSERT_NE(file_, nullptr);
    window_ = std::make_unique<WindowSource>(*file_, v.sector_offset * 512, UINT64_MAX);
    volume_.attach(*window_, 0);
    ASSERT_TRUE(volume_.validate()) << v.raw;
  }
  std::filesystem::path image_;
  std::unique_ptr<FileSource> file_;
  std::unique_ptr<WindowSource> window_;
  NtfsVolume volume_;
};

TEST_P(NtfsCorpus, AgreesWithSleuthkit) {
  const CorpusVolume& v = GetParam();
  if (test::fls_names(image_.string(), v.sector_offset).empty()) {
    // sleuthkit cannot open 2 MiB clusters; the layer still walks the volume.
    std::cout << v.raw << " @" << v.sector_offset << ": fls lists nothing; layer names "
              << test::layer_entries(volume_).size() << "\n";
    EXPECT_GT(test::layer_entries(volume_).size(), 16u);
    return;
  }
  const test::Comparison result = test::compare_with_sleuthkit(volume_, image_.string(), v.sector_offset);
  std::cout << v.raw << " @" << v.sector_offset << ": " << result << "\n";
  EXPECT_GT(result.layer_names, 16u);
}

// The catalog's stores are the shadow copies vshadowinfo lists, by
// identifier and creation time.
TEST_P(NtfsCorpus, ShadowCopyCatalogMatchesVshadowinfo) {
  const CorpusVolume& v = GetParam();
  std::array<uint8_t, kCatalogHeaderSize> header{};
  std::vector<ShadowStore> stores;
  const bool found = read_shadow_catalog(volume_, header, stores);
  EXPECT_EQ(found, v.stores != 0) << v.raw;
  EXPECT_EQ(stores.size(), v.stores) << v.raw;
  if (!test::have_tool("vshadowinfo") || v.stores == 0) return;
  const std::string text = test::command_output("vshadowinfo -o " + std::to_string(v.sector_offset * 512) + " " +
                                                test::quoted(image_.string()) + " 2>/dev/null");
  std::set<std::string> listed;
  const std::regex identifier(R"(Identifier\s*: ([0-9a-f-]{36}))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), identifier); it != std::sregex_iterator(); ++it)
    listed.insert((*it)[1]);
  // A volume whose stores live on another volume has type 2 entries only;
  // the volume holding them has type 3 entries for the other's copies too.
  std::set<std::string> described;
  size_t located = 0;
  for (const ShadowStore& s : stores) {
    if (s.has_information) described.insert(s.key);
    if (!s.has_location) continue;
    ++located;
    EXPECT_NE(reference_entry(s.store_file_reference), 0u) << s.key;
    EXPECT_EQ(s.header.size(), kStoreHeaderSize) << s.key;
  }
  EXPECT_EQ(described, listed) << v.raw;
  std::cout << v.raw << " @" << v.sector_offset << ": " << stores.size() << " shadow-copy stores, " << located
            << " with a store file here\n";
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsCorpus, ::testing::ValuesIn(kVolumes),
                         [](const ::testing::TestParamInfo<CorpusVolume>& info) {
                           std::string name = std::string(info.param.raw) + "_" +
                                              std::to_string(info.param.sector_offset);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace lnk

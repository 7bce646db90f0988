#include "storage/ewf_source.h"

#include <gtest/gtest.h>

#include "cmdline/partition_listing.h"
#include "images/image_open.h"
#include "storage/file_source.h"
#include "tests/image_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::q;
using test::shell;

TEST(EwfSource, SignaturesOfBothGenerations) {
  const uint8_t e01[] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00, 0x01};
  const uint8_t ex01[] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
  const uint8_t l01[] = {'L', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
  EXPECT_TRUE(has_ewf_signature(e01));
  EXPECT_TRUE(has_ewf_signature(ex01));
  EXPECT_FALSE(has_ewf_signature(l01));
  EXPECT_FALSE(has_ewf_signature(std::span<const uint8_t>(e01, 7)));
}

// A fixture of random, repeated and empty stretches, acquired in segments
// of 1 MiB with compression, read back through the first segment.
TEST(EwfSource, SegmentedEvidenceReadsBackByteForByte) {
  const test::ScratchDir scratch("ewf");
  const fs::path& dir = scratch.path;
  const fs::path raw = dir / "fixture.raw";
  ASSERT_EQ(shell("head -c 2500000 /dev/urandom > " + q(raw) + " && head -c 700000 /dev/zero | tr '\\0' x >> " +
                  q(raw) + " && truncate -s 4194304 " + q(raw))
                .status,
            0);
  std::unique_ptr<FileSource> source = FileSource::open(raw.string());
  const std::vector<uint8_t> expected = test::read_whole(*source);
  if (!test::have_tools({"ewfacquirestream"})) GTEST_SKIP() << "ewf-tools missing";
  ASSERT_EQ(shell("ewfacquirestream -q -S 1048576 -c deflate:fast -t " + q(dir / "evidence") + " < " + q(raw) +
                  " >/dev/null")
                .status,
            0);
  ASSERT_TRUE(fs::exists(dir / "evidence.E03")) << "expected several segments";

  const ImageOpenResult opened = open_image_by_content((dir / "evidence.E01").string());
  EXPECT_EQ(opened.container, ImageContainer::ewf);
  if (!ewf_support_available()) {
    EXPECT_EQ(render_image_open_error(opened, "evidence.E01"), "E01 support needs libewf, which this build lacks\n");
    return;
  }
  ASSERT_TRUE(opened.ok()) << render_image_open_error(opened, "evidence.E01");
  auto& ewf = static_cast<EwfSource&>(*opened.source);
  EXPECT_GE(ewf.segment_count(), 3);
  EXPECT_EQ(ewf.size(), expected.size());
  EXPECT_TRUE(test::read_whole(ewf) == expected);
  // Reads that start inside one chunk and end in another segment.
  std::vector<uint8_t> piece(1500000);
  ASSERT_EQ(ewf.read_at(777777, piece), static_cast<int64_t>(piece.size()));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), expected.begin() + 777777));
  EXPECT_EQ(ewf.read_at(expected.size() - 10, piece), 10);
  EXPECT_EQ(ewf.read_at(expected.size(), piece), 0);

  // A set missing a segment, or with one cut short, is refused rather
  // than read with zeros in the gap.
  const std::string whole_e02 = test::slurp(dir / "evidence.E02");
  for (const std::string& e02 : {std::string(), whole_e02.substr(0, whole_e02.size() / 2)}) {
    fs::remove(dir / "evidence.E02");
    if (!e02.empty()) test::write_file(dir / "evidence.E02", e02);
    const ImageOpenResult broken = open_image_by_content((dir / "evidence.E01").string());
    EXPECT_FALSE(broken.ok());
    EXPECT_EQ(render_image_open_error(broken, "evidence.E01"),
              "invalid image: evidence.E01\n  a segment file of the evidence set is missing or cut short\n")
        << e02.size();
  }
}

}  // namespace
}  // namespace lnk

#include "platform/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/text.h"

namespace lnk {
namespace {

TEST(ByteReader, ReadsLittleEndianAndFailsStickyOutOfRange) {
  std::vector<uint8_t> b = {0x4c, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00};
  ByteReader r(b);
  EXPECT_EQ(r.u32(0), 0x4cu);
  EXPECT_EQ(r.u16(4), 0x1401u);
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(r.u64(1), 0u);  // needs 9 bytes
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.u32(0), 0x4cu);  // later reads in range still work
  EXPECT_TRUE(r.failed());
}

TEST(ByteReader, RangesCannotWrapAndSubReadersAreClipped) {
  EXPECT_FALSE(fits(UINT64_MAX, 2, 10));
  EXPECT_FALSE(fits(8, UINT64_MAX - 4, 10));
  EXPECT_TRUE(fits(10, 0, 10));
  EXPECT_FALSE(fits(11, 0, 10));
  std::vector<uint8_t> b(10, 0xAA);
  EXPECT_EQ(ByteReader(b).sub(6, 100).size(), 4u);
  EXPECT_EQ(ByteReader(b).sub(11, 1).size(), 0u);
}

TEST(ByteReader, TextsStopAtNulAndAtBudget) {
  std::vector<uint8_t> b = {'A', 0, 'B', 0, 0, 0, 'C', 0, 'x', 'y', 0, 'z'};
  ByteReader r(b);
  EXPECT_EQ(r.utf16z(0, 100), "AB");
  EXPECT_EQ(r.utf16z(0, 2), "A");
  EXPECT_EQ(r.utf16z(6, 100), "C\xe7\xa5\xb8\xe7\xa8\x80");  // no terminator: ends at the buffer end
  EXPECT_EQ(r.ansiz(8, 100), "xy");
  EXPECT_EQ(r.ansiz(11, 100), "z");
  EXPECT_EQ(r.ansiz(12, 100), "");
}

TEST(Text, Utf16SurrogatesAndLoneSurrogate) {
  std::vector<uint8_t> pair = {0x3d, 0xd8, 0x00, 0xde};  // U+1F600
  EXPECT_EQ(utf16le_to_utf8(pair), "\xf0\x9f\x98\x80");
  std::vector<uint8_t> lone = {0x3d, 0xd8, 'a', 0};
  EXPECT_EQ(utf16le_to_utf8(lone), "\xef\xbf\xbd" "a");
}

TEST(Text, GuidTextRoundTrip) {
  Guid g;
  ASSERT_TRUE(parse_guid("00021401-0000-0000-C000-000000000046", g));
  const Guid stored = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  EXPECT_EQ(g, stored);
  EXPECT_EQ(guid_text(g), "00021401-0000-0000-c000-000000000046");
  static_assert(guid_literal("00021401-0000-0000-C000-000000000046")[0] == 0x01);
  EXPECT_EQ(guid_literal("00021401-0000-0000-C000-000000000046"), stored);
  EXPECT_EQ(guid_text(guid_literal("0907616e-f5e6-48d8-9d61-a91c3d28106d")),
            "0907616e-f5e6-48d8-9d61-a91c3d28106d");
}

}  // namespace
}  // namespace lnk

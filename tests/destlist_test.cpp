#include "jumplist/destlist.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/destlist_builder.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using test::Bytes;
using test::DestListFields;
using test::destlist_stream;

DestList decoded(const Bytes& bytes, bool expect_header = true) {
  DestList out;
  EXPECT_EQ(decode_destlist(ByteReader(bytes), out), expect_header);
  return out;
}

TEST(DestList, EntriesOfEachLayoutDecode) {
  std::vector<DestListFields> fields = {
      test::destlist_entry(0x1a, "C:\\Users\\Zoë\\a.txt", 0x01db1bc7d3d833d8, "desktop-u6f04qv"),
      test::destlist_entry(3, "knownfolder:{374DE290-123F-4565-9164-39C4925E467B}", 0x01d7e00000000000, "")};
  fields[0].pin = 2;
  fields[0].access_count = 7;
  for (uint32_t version : {1u, 2u, 3u, 4u, 5u, 6u}) {
    const DestList d = decoded(destlist_stream(version, fields));
    EXPECT_EQ(std::make_tuple(d.known_version, d.complete, d.version, d.entry_count, d.last_entry_number, d.revision),
              std::make_tuple(true, true, version, 2u, 3u, 7u));
    ASSERT_EQ(d.entries.size(), 2u) << version;
    const DestListEntry& e = d.entries[0];
    EXPECT_EQ(std::tie(e.entry_number, e.last_access_time, e.netbios_name, e.path, e.pin_status),
              std::make_tuple(0x1au, 0x01db1bc7d3d833d8u, "desktop-u6f04qv", "C:\\Users\\Zoë\\a.txt", 2))
        << version;
    EXPECT_EQ(std::make_tuple(e.has_access_count, e.access_count, e.droid_volume_id[0], e.birth_droid_volume_id[15]),
              std::make_tuple(version >= 2, version >= 2 ? 7u : 0u, 0x11, 0x22))
        << version;
    EXPECT_EQ(std::tie(d.entries[1].stream_offset, d.entries[1].pin_status, d.entries[1].path),
              std::make_tuple(version >= 2 ? 32u + 130 + 2 * 18 + 4 : 32u + 114 + 2 * 18, -1, fields[1].path));
  }
}

TEST(DestList, LoneSurrogateInAPathBecomesAReplacementCharacter) {
  Bytes bytes = destlist_stream(4, {test::destlist_entry(1, "ab")});
  test::set_u16(bytes, 32 + 130, 0xD800);
  EXPECT_EQ(decoded(bytes).entries.at(0).path, "\xEF\xBF\xBD" "b");
}

TEST(DestList, HostileStreamsEndWithWhatCouldBeRead) {
  const std::vector<DestListFields> two = {test::destlist_entry(1, "C:\\one"), test::destlist_entry(2, "C:\\two")};

  // The header counts far more entries than the bytes hold.
  DestList d = decoded(destlist_stream(4, two, 0x7FFFFFFF));
  EXPECT_EQ(d.entries.size(), 2u);
  EXPECT_FALSE(d.complete);

  // The second path claims more characters than the stream has left.
  Bytes long_path = destlist_stream(4, two);
  const size_t second = 32 + 130 + 12 + 4;
  test::set_u16(long_path, second + 128, 0xFFFF);
  d = decoded(long_path);
  ASSERT_EQ(d.entries.size(), 2u);
  EXPECT_FALSE(d.complete);
  EXPECT_TRUE(d.entries[1].path_cut);
  EXPECT_EQ(d.entries[1].path, "C:\\two");  // what was there, up to the padding's zeros
  EXPECT_FALSE(d.entries[0].path_cut);

  // Unknown versions give the header alone; too short a stream gives nothing.
  for (uint32_t version : {0u, 7u, 0xFFFFFFFFu}) {
    d = decoded(destlist_stream(version, two));
    EXPECT_FALSE(d.known_version) << version;
    EXPECT_TRUE(d.entries.empty());
    EXPECT_EQ(d.entry_count, 2u);
  }
  decoded(Bytes(31, 0), false);
  d = decoded(destlist_stream(4, {}));
  EXPECT_TRUE(d.complete);
  EXPECT_TRUE(d.entries.empty());
}

TEST(DestList, EveryTruncationOfARealStreamDecodesAPrefix) {
  const Bytes whole = testing::read_corpus("jumplists/jumplist_parser/other/DestList");
  if (whole.empty()) GTEST_SKIP() << "corpus absent";
  const DestList full = decoded(whole);
  ASSERT_EQ(full.version, 6u);
  ASSERT_EQ(full.entries.size(), 37u);
  ASSERT_TRUE(full.complete);
  size_t previous = 0;
  for (size_t length = 32; length < whole.size(); ++length) {
    const DestList cut = decoded(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
    ASSERT_GE(cut.entries.size(), previous) << length;
    // Only the last entry's 4 bytes of padding may be missing from a whole list.
    ASSERT_EQ(cut.complete, length >= whole.size() - 4) << length;
    previous = cut.entries.size();
    for (size_t i = 0; i < cut.entries.size(); ++i) {
      EXPECT_EQ(cut.entries[i].entry_number, full.entries[i].entry_number) << length;
      if (!cut.entries[i].path_cut) {
        EXPECT_EQ(cut.entries[i].path, full.entries[i].path) << length;
      }
    }
  }
}

}  // namespace
}  // namespace lnk

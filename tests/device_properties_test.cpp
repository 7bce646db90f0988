#include "shellitems/device_properties.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "shellitems/property_value.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using testing::Bytes;
using testing::contains;
using testing::in_order;

const char* kObjectSet = "ef6b490d-5cd8-437a-affc-da8b60ee4a3c";

ShellItem decode_fixture(const std::string& name, size_t expected_size) {
  auto bytes = testing::load_hex_fixture(name);
  EXPECT_EQ(bytes.size(), expected_size);
  bool kept = false;
  ShellItem item = testing::decode_one(bytes, &kept);
  EXPECT_TRUE(kept);
  return item;
}

TEST(DeviceProperties, PortableDeviceItemKeepsItsNamedEntries) {
  ShellItem item = decode_fixture("portable_device_root_item.hex", 0x1a8);
  EXPECT_TRUE(!item.unknown && (item.flags & kFlagText0831) && contains(item.names, "Schamanamakizhamanu"));
  const Guid set = guid_literal("0c15d503-d017-47ce-9016-7b3f978721cc");
  EXPECT_NE(std::find(item.guids.begin(), item.guids.end(), set), item.guids.end());

  auto props = in_order(item.property_map_first);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0].pid, 12u);
  EXPECT_EQ(std::tie(props[0].name, props[0].vartype, props[0].text),
            std::make_tuple("WPD_DEVICE_FRIENDLY_NAME", kVtLpwstr, "Schamanamakizhamanu"));
  EXPECT_EQ(std::tie(props[1].name, props[1].vartype, props[1].text),
            std::make_tuple("WPD_FUNCTIONAL_OBJECT_CATEGORY", kVtClsid, "08ea466b-e3a4-4336-a1f3-a44d2b5c438c"));
}

TEST(DeviceProperties, FileEntryEntriesDecodeInOrderAndReachTheNotes) {
  ShellItem item = decode_fixture("mtp_file_entry_item.hex", 0x2c8);
  EXPECT_TRUE(item.flags & kFlagText0719);
  auto props = in_order(item.property_map_first);
  // Twelve entries; the VT_UI2 one is stepped over.
  ASSERT_EQ(props.size(), 11u);
  EXPECT_EQ(guid_text(props[0].fmtid), kObjectSet);
  // Texts are counted in bytes: an empty one takes its 2-byte NUL only, and
  // the entry after it still lines up.
  const std::tuple<size_t, const char*, uint16_t, const char*> expected[] = {
      {0, "WPD_OBJECT_ID", kVtLpwstr, "o15"},
      {1, "WPD_CONTACT_DISPLAY_NAME", kVtLpwstr, ""},
      {2, "WPD_OBJECT_DATE_MODIFIED", kVtDate, nullptr},
      {8, "WPD_OBJECT_CAN_DELETE", kVtBool, nullptr},
      {9, "unk", kVtLpwstr, "20190918T134005"},
      {10, "WPD_OBJECT_ORIGINAL_FILE_NAME", kVtLpwstr, ".uxx"}};
  for (const auto& [index, name, vartype, text] : expected)
    EXPECT_EQ(std::tie(props[index].name, props[index].vartype, props[index].text),
              std::make_tuple(name, vartype, text ? text : props[index].text)) << index;
  EXPECT_EQ(std::make_tuple(props[3].vartype, props[8].number, props[9].pid),
            std::make_tuple(kVtClsid, uint64_t{0xFFFF}, 0xdc4eu));

  testing::Rendered r = testing::render({item});
  EXPECT_EQ(r.path, ".uxx");
  EXPECT_TRUE(contains(r.notes, "WPD_OBJECT_NAME : .uxx"));
  EXPECT_TRUE(contains(r.notes, "WPD_OBJECT_ID : o15"));

  auto bytes = testing::load_hex_fixture("mtp_file_entry_item.hex");
  for (size_t len = 0; len <= bytes.size(); ++len)
    EXPECT_LE(testing::walk({bytes.begin(), bytes.begin() + static_cast<long>(len)}).size(), 1u);
}

Bytes entry(uint32_t pid, uint32_t type) { return Bytes().guid(kObjectSet).u32(pid).u32(type); }

std::vector<Property> decode_entries(const Bytes& b, uint32_t expected_count) {
  PropertyMap out;
  EXPECT_EQ(decode_device_properties(out, ByteReader(b.data)), expected_count);
  return in_order(out);
}

TEST(DeviceProperties, EntryWalkStepsOverNarrowTypesAndStopsAtZeroIdUnknownWidthOrShortTail) {
  Bytes b = entry(4, kVtLpwstr).u32(8).utf16("abc");  // 8 bytes: three characters and the NUL
  b.append(entry(11, kVtUi8).u64(0x1234).data);
  b.append(entry(0, kVtUi4).u32(7).data);  // id 0 ends the list
  b.append(entry(9, kVtUi4).u32(7).data);
  auto props = decode_entries(b, 2);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(std::tie(props[0].text, props[1].number), std::make_tuple("abc", uint64_t{0x1234}));

  // VT_UI2: not decoded, 2 bytes wide.
  props = decode_entries(entry(4, 18).u16(5).append(entry(9, kVtUi4).u32(7).data), 1);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].pid, 9u);
  // Width unknown: nothing after it is safe.
  decode_entries(entry(4, kVtLpstr).u32(2).zeros(2).append(entry(9, kVtUi4).u32(7).data), 0);
  decode_entries(entry(4, kVtUi4), 0);  // a header and no value byte is not an entry
}

TEST(DeviceProperties, SizedDecodeCountsTextByCharactersOrBytes) {
  Bytes b = Bytes().u16(kVtLpwstr).u16(0).u32(3).utf16("ab").zeros(6);
  Property by_chars, by_bytes, numbers;
  EXPECT_EQ(decode_property_value_sized(by_chars, ByteReader(b.data), TextCount::characters), 4u + 4 + 6);
  EXPECT_EQ(decode_property_value_sized(by_bytes, ByteReader(b.data), TextCount::bytes), 4u + 4 + 3);
  EXPECT_EQ(by_chars.text, "ab");
  Bytes vector = Bytes().u16(kVtVector | kVtUi4).u16(0).u32(2).u32(5).u32(6);
  EXPECT_EQ(decode_property_value_sized(numbers, ByteReader(vector.data), TextCount::bytes), 16u);
}

}  // namespace
}  // namespace lnk

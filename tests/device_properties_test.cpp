#include "shellitems/device_properties.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text.h"
#include "shell_test_support.h"
#include "shellitems/idlist.h"
#include "shellitems/item_decode.h"
#include "shellitems/property_value.h"
#include "shellitems/render_idlist.h"

namespace lnk {
namespace {

using testing::Bytes;

const char* kObjectSet = "ef6b490d-5cd8-437a-affc-da8b60ee4a3c";

ShellItem decode_fixture(const std::string& name, size_t expected_size) {
  auto bytes = testing::load_hex_fixture(name);
  EXPECT_EQ(bytes.size(), expected_size);
  ShellItem item;
  DecodeContext context;
  useropts options;
  EXPECT_NE(decode_shell_item(item, bytes, false, false, 0, context, options), 0u);
  return item;
}

std::vector<const Property*> in_order(const PropertyMap& map) {
  std::vector<const Property*> out;
  for (const auto& [key, p] : map) out.push_back(&p);
  return out;
}

bool has(const std::vector<std::string>& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

TEST(DeviceProperties, PortableDeviceItemKeepsItsNamedEntries) {
  ShellItem item = decode_fixture("portable_device_root_item.hex", 0x1a8);
  EXPECT_FALSE(item.unknown);
  EXPECT_TRUE(item.flags & kFlagText0831);
  EXPECT_TRUE(has(item.names, "Schamanamakizhamanu"));
  // The property set of the sub-record is added with the other GUIDs.
  Guid set{};
  parse_guid("0c15d503-d017-47ce-9016-7b3f978721cc", set);
  EXPECT_NE(std::find(item.guids.begin(), item.guids.end(), set), item.guids.end());

  auto props = in_order(item.property_map_first);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0]->name, "WPD_DEVICE_FRIENDLY_NAME");
  EXPECT_EQ(props[0]->pid, 12u);
  EXPECT_EQ(props[0]->vartype, kVtLpwstr);
  EXPECT_EQ(props[0]->text, "Schamanamakizhamanu");
  EXPECT_EQ(props[1]->name, "WPD_FUNCTIONAL_OBJECT_CATEGORY");
  EXPECT_EQ(props[1]->vartype, kVtClsid);
  EXPECT_EQ(props[1]->text, "08ea466b-e3a4-4336-a1f3-a44d2b5c438c");
}

TEST(DeviceProperties, FileEntryEntriesDecodeInOrderAndReachTheNotes) {
  ShellItem item = decode_fixture("mtp_file_entry_item.hex", 0x2c8);
  EXPECT_TRUE(item.flags & kFlagText0719);
  auto props = in_order(item.property_map_first);
  // Twelve entries; the VT_UI2 one is stepped over.
  ASSERT_EQ(props.size(), 11u);
  Guid object_set{};
  parse_guid(kObjectSet, object_set);
  EXPECT_EQ(props[0]->fmtid, object_set);
  EXPECT_EQ(props[0]->name, "WPD_OBJECT_ID");
  EXPECT_EQ(props[0]->text, "o15");
  // Texts are counted in bytes: an empty one takes its 2-byte NUL only, and
  // the entry after it still lines up.
  EXPECT_EQ(props[1]->name, "WPD_CONTACT_DISPLAY_NAME");
  EXPECT_EQ(props[1]->text, "");
  EXPECT_EQ(props[2]->name, "WPD_OBJECT_DATE_MODIFIED");
  EXPECT_EQ(props[2]->vartype, kVtDate);
  EXPECT_EQ(props[3]->vartype, kVtClsid);
  EXPECT_EQ(props[8]->name, "WPD_OBJECT_CAN_DELETE");
  EXPECT_EQ(props[8]->vartype, kVtBool);
  EXPECT_EQ(props[8]->number, 0xFFFFu);
  EXPECT_EQ(props[9]->name, "unk");
  EXPECT_EQ(props[9]->pid, 0xdc4eu);
  EXPECT_EQ(props[9]->text, "20190918T134005");
  EXPECT_EQ(props[10]->name, "WPD_OBJECT_ORIGINAL_FILE_NAME");
  EXPECT_EQ(props[10]->text, ".uxx");

  std::vector<ShellItem> list{item};
  std::string path, notes_text;
  std::vector<std::string> notes;
  uint64_t m = 0, a = 0, c = 0;
  useropts options;
  render_idlist(path, notes_text, notes, m, a, c, options, list);
  EXPECT_EQ(path, ".uxx");
  EXPECT_TRUE(has(notes, "WPD_OBJECT_NAME : .uxx"));
  EXPECT_TRUE(has(notes, "WPD_OBJECT_ID : o15"));
}

TEST(DeviceProperties, EveryTruncationOfTheFileEntryIsSafe) {
  auto bytes = testing::load_hex_fixture("mtp_file_entry_item.hex");
  for (size_t len = 0; len <= bytes.size(); ++len) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
    std::vector<ShellItem> items;
    DecodeContext context;
    useropts options;
    walk_idlist(items, cut.data(), static_cast<uint32_t>(cut.size()), context, options);
    EXPECT_LE(items.size(), 1u);
  }
}

Bytes entry_header(const char* set, uint32_t pid, uint32_t type) {
  Bytes b;
  b.guid(set).u32(pid).u32(type);
  return b;
}

TEST(DeviceProperties, EntryWalkStepsOverNarrowTypesAndStopsAtZeroIdUnknownWidthOrShortTail) {
  Bytes b = entry_header(kObjectSet, 4, kVtLpwstr);
  b.u32(8).utf16("abc");  // 8 bytes: three characters and the NUL
  b.append(entry_header(kObjectSet, 11, kVtUi8).data).u64(0x1234);
  b.append(entry_header(kObjectSet, 0, kVtUi4).data).u32(7);  // id 0 ends the list
  b.append(entry_header(kObjectSet, 9, kVtUi4).data).u32(7);
  PropertyMap out;
  EXPECT_EQ(decode_device_properties(out, ByteReader(b.data)), 2u);
  auto props = in_order(out);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0]->text, "abc");
  EXPECT_EQ(props[1]->number, 0x1234u);

  Bytes narrow = entry_header(kObjectSet, 4, 18);  // VT_UI2: not decoded, 2 bytes wide
  narrow.u16(5);
  narrow.append(entry_header(kObjectSet, 9, kVtUi4).data).u32(7);
  PropertyMap after_narrow;
  EXPECT_EQ(decode_device_properties(after_narrow, ByteReader(narrow.data)), 1u);
  EXPECT_EQ(in_order(after_narrow).front()->pid, 9u);

  Bytes odd = entry_header(kObjectSet, 4, kVtLpstr);  // width unknown: nothing after it is safe
  odd.u32(2).zeros(2);
  odd.append(entry_header(kObjectSet, 9, kVtUi4).data).u32(7);
  PropertyMap none;
  EXPECT_EQ(decode_device_properties(none, ByteReader(odd.data)), 0u);

  // A header and no value byte is not an entry.
  Bytes bare = entry_header(kObjectSet, 4, kVtUi4);
  PropertyMap empty;
  EXPECT_EQ(decode_device_properties(empty, ByteReader(bare.data)), 0u);
}

TEST(DeviceProperties, SizedDecodeCountsTextByCharactersOrBytes) {
  Bytes b;
  b.u16(kVtLpwstr).u16(0).u32(3).utf16("ab").zeros(6);
  Property by_chars, by_bytes;
  EXPECT_EQ(decode_property_value_sized(by_chars, ByteReader(b.data), TextCount::characters),
            4u + 4 + 6);
  EXPECT_EQ(decode_property_value_sized(by_bytes, ByteReader(b.data), TextCount::bytes),
            4u + 4 + 3);
  EXPECT_EQ(by_chars.text, "ab");

  Bytes vector;
  vector.u16(kVtVector | kVtUi4).u16(0).u32(2).u32(5).u32(6);
  Property numbers;
  EXPECT_EQ(decode_property_value_sized(numbers, ByteReader(vector.data), TextCount::bytes),
            16u);
}

}  // namespace
}  // namespace lnk

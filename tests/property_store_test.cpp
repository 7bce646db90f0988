#include "shellitems/property_store.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "platform/text.h"
#include "shell_test_support.h"
#include "report/property_text.h"
#include "shellitems/item_settle.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

using testing::Bytes;
using Raw = std::vector<uint8_t>;

const char* kStringSet = "d5cdd505-2e9c-101b-9397-08002b2cf9ae";
const char* kShellSet = "b725f130-47ef-101a-a5f1-02608c9eebac";
const char* kOddSet = "0f0e0d0c-0b0a-0908-0706-050403020100";

Raw lpwstr(const std::string& text) { return Bytes().u32(static_cast<uint32_t>(text.size() + 1)).utf16(text).data; }
Raw u32_data(uint32_t v) { return Bytes().u32(v).data; }
Raw u64_data(uint64_t v) { return Bytes().u64(v).data; }

Raw id_value(uint32_t pid, uint16_t vartype, const Raw& data) {
  return Bytes().u32(static_cast<uint32_t>(13 + data.size())).u32(pid).u8(0).u16(vartype).u16(0).append(data).data;
}

Raw named_value(const std::string& name, uint16_t vartype, const Raw& data) {
  const auto name_size = static_cast<uint32_t>(2 * name.size() + 2);
  return Bytes().u32(9 + name_size + 4 + static_cast<uint32_t>(data.size())).u32(name_size).u8(0).utf16(name)
      .u16(vartype).u16(0).append(data).data;
}

Raw storage(const char* fmtid, const std::vector<Raw>& values) {
  Bytes body;
  for (const Raw& v : values) body.append(v);
  const auto size = static_cast<uint32_t>(24 + body.size() + 4);
  return Bytes().u32(size).u32(0x53505331).guid(fmtid).append(body.data).u32(0).data;
}

Raw store(const std::vector<Raw>& storages) {
  Bytes b;
  for (const Raw& s : storages) b.append(s);
  return b.u32(0).data;
}

PropertyMap parse_map(const Raw& bytes, bool* accepted = nullptr) {
  PropertyMap map;
  DecodeContext context;
  bool ok = parse_property_store(map, ByteReader(bytes), context);
  if (accepted) *accepted = ok;
  return map;
}

std::vector<Property> parse(const Raw& bytes, bool* accepted = nullptr) {
  return testing::in_order(parse_map(bytes, accepted));
}

using Listing = std::pair<std::vector<std::string>, std::vector<std::string>>;

Listing listing(const Raw& bytes, const useropts& options = {}) {
  Listing out;
  list_properties(parse_map(bytes), out.first, out.second, options);
  EXPECT_EQ(out.first.size(), out.second.size());
  return out;
}

TEST(PropertyStoreFragments, RealStoresSetsAndRecords) {
  Raw whole = testing::read_corpus("fragments/libfwps/store.1");
  Raw set = testing::read_corpus("fragments/libfwps/set.1");
  Raw record = testing::read_corpus("fragments/libfwps/record.1");
  Raw vector_record = testing::read_corpus("fragments/libfwps/record.2");
  if (whole.empty() || set.empty() || record.empty() || vector_record.empty()) GTEST_SKIP() << "corpus absent";

  bool accepted = false;
  auto props = parse(whole, &accepted);
  EXPECT_TRUE(accepted);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(std::make_tuple(guid_text(props[0].fmtid), props[0].pid, props[0].vartype, props[0].text, props[0].name),
            std::make_tuple("46588ae2-4cbc-4338-bbfc-139326986dce", 4u, kVtLpwstr,
                            "S-1-5-21-4060289323-199701022-3924801681-1000", "unk"));
  EXPECT_EQ(listing(whole).first, (std::vector<std::string>{"46588ae2-4cbc-4338-bbfc-139326986dce/0x04"}));

  // A set and a record alone decode as in a store.
  auto from_set = parse(set);
  auto from_record = parse(store({storage(kOddSet, {record})}));
  ASSERT_EQ(std::make_pair(from_set.size(), from_record.size()), std::make_pair(size_t{1}, size_t{1}));
  EXPECT_EQ(std::tie(from_set[0].text, from_set[0].pid), std::tie(from_record[0].text, from_record[0].pid));

  Raw vector_store = store({storage(kOddSet, {vector_record})});
  props = parse(vector_store);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(std::make_tuple(props[0].is_vector, props[0].pid), std::make_tuple(true, 0x15u));
  EXPECT_EQ(props[0].vector_texts, (std::vector<std::string>{"{F29F85E0-4FF9-1068-AB91-08002B27B3D9},6",
                                                             "{B725F130-47EF-101A-A5F1-02608C9EEBAC},10",
                                                             "{F29F85E0-4FF9-1068-AB91-08002B27B3D9},2"}));
  EXPECT_TRUE(listing(vector_store).first.empty());  // vectors are not listed
}

TEST(PropertyStore, WalkStopsAtTheFirstBadStorage) {
  // A first storage of size 0 or of another version: nothing accepted.
  Raw bad_version = storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("a"))});
  bad_version[4] = '2';
  for (const Raw& bad : {Raw(64, 0), store({bad_version})}) {
    bool accepted = true;
    EXPECT_TRUE(parse(bad, &accepted).empty());
    EXPECT_FALSE(accepted);
  }
  bool accepted = false;

  auto props = parse(store({storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("first"))}),
                            storage(kOddSet, {id_value(10, kVtLpwstr, lpwstr("second"))})}),
                     &accepted);
  EXPECT_TRUE(accepted);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0].name + "|" + props[1].text, "System.ItemNameDisplay|second");
}

TEST(PropertyStore, SizeAndReservedByteLimits) {
  Raw good = named_value("Custom", kVtLpwstr, lpwstr("value"));
  auto props = parse(store({storage(kStringSet, {good})}));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(std::make_tuple(props[0].string_named, props[0].name, props[0].text), std::make_tuple(true, "Custom", "value"));

  Raw reserved = named_value("Second", kVtLpwstr, lpwstr("x"));
  reserved[8] = 1;
  Raw big = named_value("Big", kVtBlob, Raw(32769 - 9 - 8 - 4, 0));
  Raw fits = named_value("Big", kVtBlob, Raw(32768 - 9 - 8 - 4, 0));
  ASSERT_EQ(big.size(), 32769u);
  Raw kept = id_value(10, kVtLpwstr, lpwstr("kept"));
  Raw huge = id_value(11, kVtBlob, Raw(0x10001 - 13, 0));
  ASSERT_EQ(huge.size(), 0x10001u);
  EXPECT_EQ(std::vector<size_t>({parse(store({storage(kStringSet, {good, reserved, good})})).size(),
                                 parse(store({storage(kStringSet, {good, big, good})})).size(),
                                 parse(store({storage(kStringSet, {good, fits, good})})).size(),
                                 parse(store({storage(kShellSet, {kept, huge, kept})})).size()}),
            std::vector<size_t>({1, 1, 3, 1}));

  // A first value size of 0 records the FormatID alone.
  props = parse(Bytes().u32(28).u32(0x53505331).guid(kShellSet).u32(0).data);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].vartype, kVtEmpty);
  // A first VARTYPE above 73 rejects the storage's values.
  EXPECT_TRUE(parse(store({storage(kShellSet, {id_value(10, 74, u32_data(1))})})).empty());
}

TEST(PropertyStore, ValueTypes) {
  Raw blob = Bytes().u32(3).u8(1).u8(2).u8(3).data;
  Raw vector_ok = Bytes().u32(2).u32(7).u32(9).data;
  Raw vector_overflow = Bytes().u32(1000).u32(7).data;
  auto props = parse(store({storage(
      kOddSet, {id_value(1, kVtBool, {0xFF, 0xFF, 0, 0}), id_value(2, kVtI4, u32_data(0xFFFFFFFE)),
                id_value(3, 2 /*VT_I2*/, u32_data(5)), id_value(4, kVtNull, {}),
                id_value(5, kVtUi8, u64_data(1ULL << 40)), id_value(6, kVtBlob, blob),
                id_value(7, kVtVector | kVtUi4, vector_ok), id_value(8, kVtVector | kVtUi4, vector_overflow),
                id_value(9, kVtClsid, Raw(16, 0x11))})}));
  // VT_I2 and VT_NULL are skipped and the vector whose count cannot fit is dropped.
  ASSERT_EQ(props.size(), 6u);
  EXPECT_EQ(std::make_tuple(props[0].number, props[1].number, props[2].number, props[3].bytes),
            std::make_tuple(0xFFFFu, 0xFFFFFFFEu, 1ULL << 40, Raw{1, 2, 3}));
  EXPECT_EQ(props[4].vector_texts, (std::vector<std::string>{"7", "9"}));
  EXPECT_EQ(props[5].text, "11111111-1111-1111-1111-111111111111");
}

TEST(PropertyStore, EmbeddedIdListItemsKeepTheirPositionInTheStore) {
  // An IDList (its size, a My Computer root item, the terminator) as a blob and as a byte vector.
  Raw idlist = Bytes().u16(0x16).u16(0x14).u8(0x1F).u8(0x50).guid("20d04fe0-3aea-1069-a2d8-08002b30309d").u16(0).data;
  Raw blob = Bytes().u32(static_cast<uint32_t>(idlist.size())).append(idlist).data;
  Raw vector = blob;  // the element count takes the place of the blob size
  Raw stream = Bytes().u32(4).utf16("s").u16(0).append(idlist).data;  // name "s\0", zero padding, then the bytes
  struct Case {
    uint16_t vartype;
    Raw data;
    uint64_t idlist_at;  // counted from the VARTYPE
  };
  const Case cases[] = {{kVtBlob, blob, 8}, {kVtVector | kVtUi1, vector, 8}, {66 /*VT_STREAM*/, stream, 14}};
  for (const Case& c : cases) {
    Raw bytes = store({storage(kOddSet, {id_value(1, c.vartype, c.data)})});
    PropertyMap map;
    DecodeContext context;
    context.position = 0x1000;
    parse_property_store(map, ByteReader(bytes), context);
    std::vector<Property> props = testing::in_order(map);
    ASSERT_TRUE(props.size() == 1 && props[0].idlists.size() == 1 && props[0].idlists[0].size() == 1) << c.vartype;
    // Storage header 24, value header up to the VARTYPE 9, then the IDList size field 2.
    EXPECT_EQ(props[0].idlists[0][0].item_position, 0x1000u + 24 + 9 + c.idlist_at + 2) << c.vartype;
  }
}

TEST(PropertyStore, ListingNamesAndValues) {
  auto [names, values] = listing(store({storage(
      kOddSet, {id_value(10, kVtLpwstr, lpwstr("txt")), id_value(11, kVtFiletime, u64_data(0)),
                id_value(12, kVtUi4, u32_data(3))})}));
  // The number is not listed; FILETIME 0 is no date.
  EXPECT_EQ(names, (std::vector<std::string>{std::string(kOddSet) + "/0x0a", std::string(kOddSet) + "/0x0b"}));
  EXPECT_EQ(values, (std::vector<std::string>{"txt", "0x0"}));

  // VT_DATE -2.0 is no valid instant: its raw bits.
  Raw date = store({storage(kOddSet, {id_value(5, kVtDate, u64_data(0xC000000000000000ULL))})});
  EXPECT_EQ(listing(date).second, (std::vector<std::string>{"0xc000000000000000"}));
  useropts decimal;
  decimal.sizes_in_hex = false;
  EXPECT_EQ(listing(date, decimal).second, (std::vector<std::string>{std::to_string(0xC000000000000000ULL)}));
}

ShellItem item_with(const Raw& bytes) {
  ShellItem item;
  item.property_map_first = parse_map(bytes);
  return item;
}

std::vector<std::string> describe(ShellItem& item, const useropts& options = {}) {
  std::vector<std::string> notes;
  std::set<std::string> added;
  describe_item_properties(item, notes, added, options);
  return notes;
}

TEST(PropertyDescription, EntriesOncePerItem) {
  ShellItem item = item_with(store(
      {storage(kShellSet, {id_value(4, kVtLpwstr, lpwstr("Folder")), id_value(4, kVtLpwstr, lpwstr("Folder")),
                           id_value(12, kVtUi8, u64_data(0x1234)), id_value(13, kVtUi4, u32_data(0x10))}),
       storage("28636AA6-953D-11D2-B5D6-00C04FD918D0",
               {id_value(24, kVtLpwstr, lpwstr("\\\\server\\share")), id_value(99, kVtUi4, u32_data(7))})}));
  EXPECT_EQ(describe(item), (std::vector<std::string>{"System.ItemTypeText : Folder",
                                                      "System.Size : 0x0000000000001234",
                                                      "System.FileAttributes : 0x00000010",
                                                      "ID : \\\\server\\share"}));
  useropts decimal;
  decimal.sizes_in_hex = false;
  EXPECT_EQ(describe(item, decimal)[1], "System.Size : 4660");
}

TEST(PropertyDescription, FlagsDecideNumbersAndItemTimes) {
  ShellItem item = item_with(store({storage(
      kShellSet, {id_value(21, kVtUi8, u64_data(5)), id_value(22, kVtUi8, u64_data(6)),
                  id_value(14, kVtFiletime, u64_data(132322608126393638ULL)),
                  id_value(14, kVtFiletime, u64_data(132000000000000000ULL)),
                  id_value(15, kVtFiletime, u64_data(131000000000000000ULL)),
                  id_value(7, kVtFiletime, u64_data(130000000000000000ULL))})}));
  item.access_time = 42;  // already set: kept
  std::vector<ShellItem> list{item};
  settle_items(list);
  item = list[0];
  const auto notes = describe(item);
  // FileFRN carries the describe flag; the unknown key 22 ("unk") does not.
  EXPECT_EQ(notes, (std::vector<std::string>{"System.FileFRN : 0x0000000000000005",
                                             "System.DateModified : 04/25/20 04:00:12.639 [UTC]",
                                             "System.DateModified : 04/17/19 18:40:00.000 [UTC]",
                                             "System.DateCreated : 02/15/16 08:53:20.000 [UTC]",
                                             "unk : 12/14/12 23:06:40.000 [UTC]"}));
  // The first flagged FILETIME of each kind wins.
  EXPECT_EQ(std::make_tuple(item.modify_time, item.create_time, item.access_time),
            std::make_tuple(132322608126393638ULL, 131000000000000000ULL, 42u));
}

TEST(PropertyDescription, ItemNameFromRolesAndCustomFallback) {
  ShellItem item = item_with(store(
      {storage("6B8DA074-3B5C-43BC-886F-0A2CDCE00B6F", {id_value(100, kVtLpwstr, lpwstr("plain"))}),
       storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("display"))}),
       storage(kStringSet, {named_value("Tag", kVtLpwstr, lpwstr("x"))})}));
  std::string fallback;
  EXPECT_EQ(property_item_name(item, fallback) + "|" + fallback, "display|CUSTOM_PROP_Tag");
  ShellItem nameless = item_with(store({storage(kOddSet, {id_value(3, kVtLpwstr, lpwstr("x"))})}));
  EXPECT_EQ(property_item_name(nameless, fallback) + "|" + fallback, "|");
}

}  // namespace
}  // namespace lnk

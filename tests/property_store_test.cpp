#include "shellitems/property_store.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/text.h"
#include "shellitems/property_names.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

using Bytes = std::vector<uint8_t>;

const char* kStringSet = "d5cdd505-2e9c-101b-9397-08002b2cf9ae";
const char* kShellSet = "b725f130-47ef-101a-a5f1-02608c9eebac";
const char* kOddSet = "0f0e0d0c-0b0a-0908-0706-050403020100";

Bytes read_corpus(const std::string& relative) {
  std::ifstream in(std::string(ROOK_SOURCE_DIR) + "/../shared/corpus/" + relative, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void put64(Bytes& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v));
  put32(b, static_cast<uint32_t>(v >> 32));
}
Bytes utf16z(const std::string& ascii) {
  Bytes b;
  for (char c : ascii) put16(b, static_cast<uint8_t>(c));
  put16(b, 0);
  return b;
}
void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

Bytes lpwstr(const std::string& ascii) {
  Bytes b;
  put32(b, static_cast<uint32_t>(ascii.size() + 1));
  append(b, utf16z(ascii));
  return b;
}
Bytes u32_data(uint32_t v) {
  Bytes b;
  put32(b, v);
  return b;
}
Bytes u64_data(uint64_t v) {
  Bytes b;
  put64(b, v);
  return b;
}

Bytes id_value(uint32_t pid, uint16_t vartype, const Bytes& data) {
  Bytes b;
  put32(b, static_cast<uint32_t>(13 + data.size()));
  put32(b, pid);
  b.push_back(0);
  put16(b, vartype);
  put16(b, 0);
  append(b, data);
  return b;
}

Bytes named_value(const std::string& name, uint16_t vartype, const Bytes& data) {
  Bytes name_bytes = utf16z(name);
  Bytes b;
  put32(b, static_cast<uint32_t>(9 + name_bytes.size() + 4 + data.size()));
  put32(b, static_cast<uint32_t>(name_bytes.size()));
  b.push_back(0);
  append(b, name_bytes);
  put16(b, vartype);
  put16(b, 0);
  append(b, data);
  return b;
}

Bytes storage(const char* fmtid, const std::vector<Bytes>& values) {
  Bytes body;
  for (const Bytes& v : values) append(body, v);
  Bytes b;
  put32(b, static_cast<uint32_t>(24 + body.size() + 4));
  put32(b, 0x53505331);
  Guid g{};
  parse_guid(fmtid, g);
  b.insert(b.end(), g.begin(), g.end());
  append(b, body);
  put32(b, 0);
  return b;
}

Bytes store(const std::vector<Bytes>& storages) {
  Bytes b;
  for (const Bytes& s : storages) append(b, s);
  put32(b, 0);
  return b;
}

PropertyMap parse(const Bytes& bytes, bool* accepted = nullptr) {
  PropertyMap map;
  DecodeContext context;
  useropts options;
  bool ok = parse_property_store(map, ByteReader(bytes), context, options);
  if (accepted) *accepted = ok;
  return map;
}

std::vector<Property> in_order(const PropertyMap& map) {
  std::vector<Property> out;
  for (const auto& [key, p] : map) out.push_back(p);
  return out;
}

TEST(PropertyStoreFragments, IntegerSetFromLibfwps) {
  Bytes bytes = read_corpus("fragments/libfwps/store.1");
  if (bytes.empty()) GTEST_SKIP() << "corpus absent";
  bool accepted = false;
  auto props = in_order(parse(bytes, &accepted));
  EXPECT_TRUE(accepted);
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(guid_text(props[0].fmtid), "46588ae2-4cbc-4338-bbfc-139326986dce");
  EXPECT_EQ(props[0].pid, 4u);
  EXPECT_EQ(props[0].vartype, kVtLpwstr);
  EXPECT_EQ(props[0].text, "S-1-5-21-4060289323-199701022-3924801681-1000");
  EXPECT_EQ(props[0].name, "unk");

  std::vector<std::string> names, values;
  list_properties(parse(bytes), names, values, useropts{});
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "46588ae2-4cbc-4338-bbfc-139326986dce/0x04");
}

TEST(PropertyStoreFragments, SetAndBareRecordFromLibfwps) {
  Bytes set = read_corpus("fragments/libfwps/set.1");
  Bytes record = read_corpus("fragments/libfwps/record.1");
  if (set.empty() || record.empty()) GTEST_SKIP() << "corpus absent";
  auto from_set = in_order(parse(set));
  auto from_record = in_order(parse(store({storage(kOddSet, {record})})));
  ASSERT_EQ(from_set.size(), 1u);
  ASSERT_EQ(from_record.size(), 1u);
  EXPECT_EQ(from_set[0].text, from_record[0].text);
  EXPECT_EQ(from_record[0].pid, 4u);
}

TEST(PropertyStoreFragments, StringVectorRecordFromLibfwps) {
  Bytes record = read_corpus("fragments/libfwps/record.2");
  if (record.empty()) GTEST_SKIP() << "corpus absent";
  auto props = in_order(parse(store({storage(kOddSet, {record})})));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_TRUE(props[0].is_vector);
  EXPECT_EQ(props[0].pid, 0x15u);
  ASSERT_EQ(props[0].vector_texts.size(), 3u);
  EXPECT_EQ(props[0].vector_texts[0], "{F29F85E0-4FF9-1068-AB91-08002B27B3D9},6");
  EXPECT_EQ(props[0].vector_texts[1], "{B725F130-47EF-101A-A5F1-02608C9EEBAC},10");
  EXPECT_EQ(props[0].vector_texts[2], "{F29F85E0-4FF9-1068-AB91-08002B27B3D9},2");
  // Vectors are not part of the block listing.
  std::vector<std::string> names, values;
  list_properties(parse(store({storage(kOddSet, {record})})), names, values, useropts{});
  EXPECT_TRUE(names.empty());
}

TEST(PropertyStore, WalkStopsAtTheFirstBadStorage) {
  bool accepted = true;
  EXPECT_TRUE(parse(Bytes(64, 0), &accepted).empty());  // first storage size 0
  EXPECT_FALSE(accepted);

  Bytes bad_version = storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("a"))});
  bad_version[4] = '2';
  EXPECT_TRUE(parse(store({bad_version}), &accepted).empty());
  EXPECT_FALSE(accepted);

  // Two storages in a row, both walked.
  Bytes two = store({storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("first"))}),
                     storage(kOddSet, {id_value(10, kVtLpwstr, lpwstr("second"))})});
  auto props = in_order(parse(two, &accepted));
  EXPECT_TRUE(accepted);
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(props[0].name, "System.ItemNameDisplay");
  EXPECT_EQ(props[1].text, "second");
}

TEST(PropertyStore, StringNamedSetLimits) {
  Bytes good = named_value("Custom", kVtLpwstr, lpwstr("value"));
  auto props = in_order(parse(store({storage(kStringSet, {good})})));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_TRUE(props[0].string_named);
  EXPECT_EQ(props[0].name, "Custom");
  EXPECT_EQ(props[0].text, "value");

  // A reserved byte of 1 ends the storage.
  Bytes reserved = named_value("Second", kVtLpwstr, lpwstr("x"));
  reserved[8] = 1;
  EXPECT_EQ(parse(store({storage(kStringSet, {good, reserved, good})})).size(), 1u);

  // A value size of 32769 ends the set.
  Bytes big = named_value("Big", kVtBlob, Bytes(32769 - 9 - 8 - 4, 0));
  ASSERT_EQ(big.size(), 32769u);
  EXPECT_EQ(parse(store({storage(kStringSet, {good, big, good})})).size(), 1u);
  Bytes fits = named_value("Big", kVtBlob, Bytes(32768 - 9 - 8 - 4, 0));
  EXPECT_EQ(parse(store({storage(kStringSet, {good, fits, good})})).size(), 3u);
}

TEST(PropertyStore, IntegerSetLimits) {
  Bytes first = id_value(10, kVtLpwstr, lpwstr("kept"));
  Bytes huge = id_value(11, kVtBlob, Bytes(0x10001 - 13, 0));
  ASSERT_EQ(huge.size(), 0x10001u);
  auto props = in_order(parse(store({storage(kShellSet, {first, huge, first})})));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].text, "kept");

  // A first value size of 0 records the FormatID alone.
  Bytes bare;
  put32(bare, 28);
  put32(bare, 0x53505331);
  Guid g{};
  parse_guid(kShellSet, g);
  bare.insert(bare.end(), g.begin(), g.end());
  put32(bare, 0);
  props = in_order(parse(bare));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0].vartype, kVtEmpty);

  // A first VARTYPE above 73 rejects the storage's values.
  EXPECT_TRUE(parse(store({storage(kShellSet, {id_value(10, 74, u32_data(1))})})).empty());
}

TEST(PropertyStore, ValueTypes) {
  Bytes bool_word = id_value(1, kVtBool, {0xFF, 0xFF, 0, 0});
  Bytes blob;
  put32(blob, 3);
  append(blob, {1, 2, 3});
  Bytes vector_ok;
  put32(vector_ok, 2);
  put32(vector_ok, 7);
  put32(vector_ok, 9);
  Bytes vector_overflow;
  put32(vector_overflow, 1000);
  put32(vector_overflow, 7);
  auto props = in_order(parse(store({storage(
      kOddSet, {bool_word, id_value(2, kVtI4, u32_data(0xFFFFFFFE)), id_value(3, 2 /*VT_I2*/, u32_data(5)),
                id_value(4, kVtNull, {}), id_value(5, kVtUi8, u64_data(1ULL << 40)),
                id_value(6, kVtBlob, blob), id_value(7, kVtVector | kVtUi4, vector_ok),
                id_value(8, kVtVector | kVtUi4, vector_overflow),
                id_value(9, kVtClsid, Bytes(16, 0x11))})})));
  // VT_I2 and VT_NULL are skipped and the vector whose count cannot fit is dropped.
  ASSERT_EQ(props.size(), 6u);
  EXPECT_EQ(props[0].number, 0xFFFFu);
  EXPECT_EQ(props[1].number, 0xFFFFFFFEu);
  EXPECT_EQ(props[2].number, 1ULL << 40);
  EXPECT_EQ(props[3].bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(props[4].vector_texts, (std::vector<std::string>{"7", "9"}));
  EXPECT_EQ(props[5].text, "11111111-1111-1111-1111-111111111111");
}

TEST(PropertyStore, ListingNamesAndValues) {
  useropts options;
  auto list = [&](const Bytes& bytes) {
    std::vector<std::string> names, values;
    list_properties(parse(bytes), names, values, options);
    EXPECT_EQ(names.size(), values.size());
    return std::make_pair(names, values);
  };
  auto [names, values] = list(store({storage(
      kOddSet, {id_value(10, kVtLpwstr, lpwstr("txt")), id_value(11, kVtFiletime, u64_data(0)),
                id_value(12, kVtUi4, u32_data(3))})}));
  ASSERT_EQ(names.size(), 2u);  // the number is not listed
  EXPECT_EQ(names[0], std::string(kOddSet) + "/0x0a");
  EXPECT_EQ(values[0], "txt");
  EXPECT_EQ(names[1], std::string(kOddSet) + "/0x0b");
  EXPECT_EQ(values[1], "0x0");  // FILETIME 0 is no date

  // VT_DATE that is no valid instant: its raw bits.
  Bytes date;
  put64(date, 0xC000000000000000ULL);  // -2.0
  auto dated = list(store({storage(kOddSet, {id_value(5, kVtDate, date)})}));
  ASSERT_EQ(dated.second.size(), 1u);
  EXPECT_EQ(dated.second[0], "0xc000000000000000");
  options.sizes_in_hex = false;
  dated = list(store({storage(kOddSet, {id_value(5, kVtDate, date)})}));
  EXPECT_EQ(dated.second[0], std::to_string(0xC000000000000000ULL));
}

TEST(PropertyNames, TableRowsAndFlags) {
  Guid shell{}, attrs{}, kind{};
  parse_guid(kShellSet, shell);
  parse_guid("28636AA6-953D-11D2-B5D6-00C04FD918D0", attrs);
  parse_guid("1E3EE840-BC2B-476C-8237-2ACD1A839B22", kind);
  const PropertyNameEntry* name = lookup_property_name(shell, 10);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->display_name, "System.ItemNameDisplay");
  EXPECT_EQ(name->role, kRolePrimaryName);
  EXPECT_EQ(lookup_property_name(shell, 14)->flags, 0x90u);
  EXPECT_EQ(lookup_property_name(shell, 15)->flags, 0x50u);
  EXPECT_EQ(lookup_property_name(shell, 16)->flags, 0x110u);
  EXPECT_EQ(lookup_property_name(shell, 21)->flags, 0x800u);
  EXPECT_EQ(lookup_property_name(attrs, 25)->flags, 0x1000u);
  EXPECT_EQ(lookup_property_name(kind, 8)->flags, 6u);
  EXPECT_EQ(lookup_property_name(kind, 8)->display_name, "");
  EXPECT_EQ(lookup_property_name(shell, 9999), nullptr);
  EXPECT_GT(property_name_table().size(), 40u);
}

ShellItem item_with(const Bytes& bytes) {
  ShellItem item;
  DecodeContext context;
  parse_property_store(item.property_map_first, ByteReader(bytes), context, useropts{});
  return item;
}

TEST(PropertyDescription, EntriesOncePerItem) {
  ShellItem item = item_with(store(
      {storage(kShellSet, {id_value(4, kVtLpwstr, lpwstr("Folder")), id_value(4, kVtLpwstr, lpwstr("Folder")),
                           id_value(12, kVtUi8, u64_data(0x1234)), id_value(13, kVtUi4, u32_data(0x10))}),
       storage("28636AA6-953D-11D2-B5D6-00C04FD918D0",
               {id_value(24, kVtLpwstr, lpwstr("\\\\server\\share")), id_value(99, kVtUi4, u32_data(7))})}));
  std::vector<std::string> notes;
  std::set<std::string> added;
  useropts options;
  describe_item_properties(item, notes, added, options);
  EXPECT_EQ(notes, (std::vector<std::string>{"System.ItemTypeText : Folder",
                                             "System.Size : 0x0000000000001234",
                                             "System.FileAttributes : 0x00000010",
                                             "ID : \\\\server\\share"}));
  // A second pass adds nothing new.
  describe_item_properties(item, notes, added, options);
  EXPECT_EQ(notes.size(), 4u);

  options.sizes_in_hex = false;
  std::vector<std::string> decimal;
  std::set<std::string> fresh;
  describe_item_properties(item, decimal, fresh, options);
  EXPECT_EQ(decimal[1], "System.Size : 4660");
}

TEST(PropertyDescription, Numbers64NeedANameOrTheFlag) {
  ShellItem item = item_with(store({storage(
      kShellSet, {id_value(21, kVtUi8, u64_data(5)), id_value(22, kVtUi8, u64_data(6))})}));
  std::vector<std::string> notes;
  std::set<std::string> added;
  describe_item_properties(item, notes, added, useropts{});
  // FileFRN carries the describe flag; an unknown key ("unk") does not.
  EXPECT_EQ(notes, (std::vector<std::string>{"System.FileFRN : 0x0000000000000005"}));
}

TEST(PropertyDescription, FlaggedFiletimesBecomeItemTimesFirstOneWins) {
  ShellItem item = item_with(store({storage(
      kShellSet, {id_value(14, kVtFiletime, u64_data(132322608126393638ULL)),
                  id_value(14, kVtFiletime, u64_data(132000000000000000ULL)),
                  id_value(15, kVtFiletime, u64_data(131000000000000000ULL)),
                  id_value(7, kVtFiletime, u64_data(130000000000000000ULL))})}));
  item.access_time = 42;  // already set: kept
  std::vector<std::string> notes;
  std::set<std::string> added;
  describe_item_properties(item, notes, added, useropts{});
  EXPECT_EQ(item.modify_time, 132322608126393638ULL);
  EXPECT_EQ(item.create_time, 131000000000000000ULL);
  EXPECT_EQ(item.access_time, 42u);
}

TEST(PropertyDescription, ItemNameFromRolesAndCustomFallback) {
  ShellItem item = item_with(store(
      {storage("6B8DA074-3B5C-43BC-886F-0A2CDCE00B6F", {id_value(100, kVtLpwstr, lpwstr("plain"))}),
       storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("display"))}),
       storage(kStringSet, {named_value("Tag", kVtLpwstr, lpwstr("x"))})}));
  std::string fallback;
  EXPECT_EQ(property_item_name(item, fallback), "display");
  EXPECT_EQ(fallback, "CUSTOM_PROP_Tag");

  ShellItem nameless = item_with(store({storage(kOddSet, {id_value(3, kVtLpwstr, lpwstr("x"))})}));
  EXPECT_EQ(property_item_name(nameless, fallback), "");
  EXPECT_EQ(fallback, "");
}

TEST(PropertyStore, EveryTruncationIsSafe) {
  Bytes bytes = store({storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("name")),
                                            id_value(14, kVtFiletime, u64_data(1))}),
                       storage(kStringSet, {named_value("N", kVtLpwstr, lpwstr("v"))})});
  size_t full = parse(bytes).size();
  EXPECT_EQ(full, 3u);
  for (size_t len = 0; len < bytes.size(); ++len) {
    Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(len));
    EXPECT_LE(parse(cut).size(), full);
  }
}

}  // namespace
}  // namespace lnk

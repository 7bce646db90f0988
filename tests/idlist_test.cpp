// Shell items: IDLists walked item by item, extension blocks, property
// stores and device properties, GUID names, and their rendering as a path
// with notes and as the subpath breakout.
#include "shellitems/idlist.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/text.h"
#include "report/idlist_breakout.h"
#include "report/property_text.h"
#include "report/render_idlist.h"
#include "shellitems/device_properties.h"
#include "shellitems/extension_blocks.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_settle.h"
#include "shellitems/item_text.h"
#include "shellitems/property_store.h"
#include "shellitems/property_value.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using testing::Bytes;
using testing::contains;
using testing::decode_one;
using testing::in_order;
using testing::volume_item;
using testing::walk;

const char* kMyComputer = "20d04fe0-3aea-1069-a2d8-08002b30309d";
const char* kUnknownGuid = "11111111-2222-3333-4444-555555555555";

TEST(IdlistWalk, TerminatorsPaddingAndMarkers) {
  const auto volume = volume_item(25).data;
  for (uint16_t terminator : {1, 2, 3, 4}) {
    auto items = walk(Bytes().append(volume).u16(terminator).append(volume).u16(0).data);
    ASSERT_EQ(items.size(), 1u) << "terminator " << terminator;
    EXPECT_EQ(items[0].name, "C:");
  }

  auto items = walk(Bytes().append(volume).u16(0).u16(0).append(volume).u16(0).data, 100);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].item_position, 100u);
  EXPECT_EQ(items[1].item_position, 100u + 25 + 4);

  // 0xF1F1 and two more bytes: a 4-byte marker.
  items = walk(Bytes().u16(0xF1F1).u16(0x1234).append(volume).u16(0).data, 78);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].class_type, 0x2F);
  EXPECT_EQ(items[0].item_position, 82u);
}

TEST(IdlistWalk, ShortRootFolderIsRepairedOnlyForAKnownGuid) {
  // The GUID runs past the declared size.
  auto items = walk(Bytes().u16(14).u8(0x1F).u8(0x50).guid(kMyComputer).append(volume_item(25).data).u16(0).data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].guid_names, (std::vector<std::string>{"{CLSID_My Computer}"}));
  EXPECT_EQ(std::make_tuple(items[0].unknown, items[0].repaired_size), std::make_tuple(false, 20u));
  // The walk steps by the repaired size.
  EXPECT_EQ(std::make_tuple(items[1].name, items[1].item_position), std::make_tuple("C:", 20u));

  items = walk(Bytes().u16(14).u8(0x1F).u8(0x50).guid(kUnknownGuid).append(volume_item(25).data).u16(0).data);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].repaired_size, 0u);
}

// The fixture's item, decoded; every truncation of it walks to at most one item.
ShellItem decode_fixture(const std::string& name, size_t expected_size) {
  auto bytes = testing::load_hex_fixture(name);
  EXPECT_EQ(bytes.size(), expected_size);
  bool kept = false;
  ShellItem item = testing::decode_one(bytes, &kept);
  EXPECT_TRUE(kept);
  for (size_t len = 0; len <= bytes.size(); ++len)
    EXPECT_LE(testing::walk({bytes.begin(), bytes.begin() + static_cast<long>(len)}).size(), 1u);
  return item;
}

TEST(IdlistItems, RealItemsFromFixtures) {
  struct Case { const char* fixture; size_t size; const char* name; uint64_t mft_entry; };
  for (const Case& c : {Case{"delegate_cfsf_item.hex", 0x82, "AppData", 0x149e3},
                        Case{"file_entry_v9_item.hex", 0x50, "Local", 84469}}) {
    ShellItem item = decode_fixture(c.fixture, c.size);
    EXPECT_TRUE(!item.unknown && item.is_folder) << c.fixture;
    EXPECT_EQ(std::tie(item.short_name, item.name, item.file_size, item.mft_entry, item.mft_seq),
              std::make_tuple(c.name, c.name, 0u, c.mft_entry, 1))
        << c.fixture;
    // A class 0x74 item carrying CFSF at +6 ends up decoded as a CFSF record.
    EXPECT_EQ(item.class_type == 0x74 && (item.flags & kFlagCfsf) != 0, c.fixture[0] == 'd') << c.fixture;
  }
}

// A 41-byte volume item carries a GUID; a network item yields its last part,
// then the whole text; classes without a decoder go to the fallbacks.
TEST(IdlistItems, VolumeNetworkAndFallbackClasses) {
  ShellItem with_guid = decode_one(volume_item(41, kMyComputer).data);
  ASSERT_EQ(with_guid.guids.size(), 1u);
  EXPECT_EQ(with_guid.name + " " + guid_text(with_guid.guids[0]), std::string("C: ") + kMyComputer);
  Bytes share = Bytes().u16(0).u8(0x42).u8(0).u8(0).ansi("\\\\server\\share").ansi("Comment").sized();
  EXPECT_EQ(decode_one(share.data).names, (std::vector<std::string>{"share", "\\\\server\\share", "Comment"}));
  bool kept = false;
  ShellItem item = decode_one(Bytes().u16(24).u8(0x43).zeros(21).data, &kept);
  EXPECT_EQ(std::make_tuple(kept, item.unknown, item.class_type), std::make_tuple(true, true, 0x43));
  ShellItem named = decode_one(Bytes().u16(0).u8(0x2C).zeros(37).utf16("notes.txt").sized().data);
  EXPECT_EQ(std::make_tuple(named.unknown, named.name), std::make_tuple(false, "notes.txt"));
}

TEST(IdlistItems, FileEntryWithoutAttributesOrNameUsesTheLongLayoutOrFails) {
  Bytes b;
  b.u16(0).u8(0x32).u8(0).u32(0).u32(0).u16(0).u8(0);  // 15 bytes, empty name
  b.zeros(36 - b.size()).utf16("second").zeros(84 - 36 - 14).u32(3);
  b.zeros(92 - b.size()).utf16("first").sized();
  ShellItem item = decode_one(b.data);
  EXPECT_TRUE(contains(item.names, "first") && contains(item.names, "second"));

  ShellItem failed = decode_one(Bytes().u16(20).u8(0x32).zeros(17).data);
  EXPECT_TRUE(failed.unknown && failed.names.empty());
}

TEST(IdlistItems, NestingAndWorkStopAtTheirBounds) {
  // Each 0x1E item holds an IDList whose only item is the next 0x1E item.
  const int levels = 100;
  Bytes inner = volume_item(25);
  for (int i = 0; i < levels; ++i) {
    Bytes wrapper;
    wrapper.u16(0).u8(0x1E).u8(0).guid(kMyComputer).append(inner.u16(0).data).sized();
    inner = wrapper;
  }
  auto items = walk(inner.u16(0).data);
  ASSERT_EQ(items.size(), 1u);
  size_t depth = 0;
  for (const ShellItem* at = &items[0]; !at->children.empty(); at = &at->children[0]) ++depth;
  EXPECT_GT(depth, 2u);
  EXPECT_LT(depth, static_cast<size_t>(levels));

  // A context reused from an earlier record gets a fresh work budget.
  Bytes b = volume_item(25).u16(0);
  DecodeContext context;
  context.work = kMaxDecodeWork + 1;
  items.clear();
  ASSERT_TRUE(walk_idlist(items, ByteReader(b.data), context));
  EXPECT_EQ(items[0].name, "C:");

  // An unknown item whose extension block points back at the item's own
  // start: the embedded-item search would decode it inside itself for ever.
  Bytes self;
  self.u16(40).u8(0x43).zeros(13);  // 16 bytes, no other structure
  self.u16(24).u16(0).u16(0x0004).u16(0xBEEF).zeros(14).u16(16);
  ASSERT_EQ(self.size(), 40u);
  items = walk(self.append(volume_item(25).data).u16(0).data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(std::make_tuple(items[0].unknown, items[1].name), std::make_tuple(true, "C:"));
}

// Office and Visio GUIDs are named by their pattern, not row by row; an
// unknown GUID keeps its text.
TEST(GuidNames, LookupRules) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"12345678-0000-0000-0000-0000000ff1ce", "{CLSID_Microsoft Office}", true},
      {"00000000-6d54-11d4-bee3-00c04f990354", "{CLSID_Visio}", true},
      {kUnknownGuid, kUnknownGuid, false},
  };
  for (const auto& [text, name, known] : cases) {
    Guid g{};
    bool found = !known;
    ASSERT_TRUE(parse_guid(text, g));
    EXPECT_EQ(lookup_guid_name(g, found), name) << text;
    EXPECT_EQ(found, known) << text;
  }
}

using testing::render;
using testing::Rendered;

ShellItem guid_item(const std::string& text) {
  ShellItem item;
  Guid g{};
  parse_guid(text, g);
  add_guid(item, g);
  return item;
}

ShellItem named(const std::string& name, const std::string& short_name = {}) {
  ShellItem item;
  item.name = name;
  item.short_name = short_name;
  if (!short_name.empty()) item.names.push_back(short_name);
  return item;
}

// Root, volume and folder join with single backslashes, trailing ones
// dropped; a short name inside the long one is no note; an unknown GUID shows
// its text; an embedded list gives its last component and its path as a
// note; the display text uses up GUID names and names, the rest are notes.
TEST(RenderIdlist, PathsAndNotes) {
  ShellItem holder;
  holder.embedded_idlists.push_back({named("C:\\"), named("Temp"), named("x.txt")});
  ShellItem other_guid = guid_item(kMyComputer);
  other_guid.guid_names.push_back("{CLSID_Other}");
  ShellItem texts;
  texts.names = {"first", "second", "first"};
  const std::tuple<std::vector<ShellItem>, std::string, std::string> cases[] = {
      {{guid_item(kMyComputer), named("C:\\"), named("Users", "Users")}, "{CLSID_My Computer}\\C:\\Users", ""},
      {{named("Program Files (x86)", "PROGRA~2"), named("Nero", "Nero")}, "Program Files (x86)\\Nero", "[1] PROGRA~2"},
      {{guid_item(kUnknownGuid)}, std::string("CLSID_{") + kUnknownGuid + "}", ""},
      {{named("\\\\server\\"), named("share\\")}, "\\server\\share", ""},
      {{holder}, "x.txt", "[1] Embedded Path : C:\\Temp\\x.txt"},
      {{other_guid}, "{CLSID_My Computer}", "[1] {CLSID_Other}"},
      {{texts}, "first", "[1] second"},
  };
  for (auto [items, path, notes] : cases) {
    const Rendered r = render(items);
    EXPECT_EQ(std::make_tuple(r.ok, r.path, r.notes_text), std::make_tuple(true, path, notes)) << path;
  }
  const Rendered empty = render({});
  EXPECT_EQ(std::make_tuple(empty.ok, empty.path), std::make_tuple(false, ""));
  // The decoded items are left alone.
  std::vector<ShellItem> items{guid_item(kMyComputer)};
  render(items);
  EXPECT_TRUE(items[0].name.empty());
}

TEST(RenderIdlist, NotesAreNumberedOnceInOrderOfFirstAppearance) {
  const ItemNote guess{"Created [guess]: ", 132223104000000000ull, true};  // 2020-01-01
  ShellItem a = named("a");
  a.extra_list = {guess, ItemNote{"first"}};
  ShellItem b = named("b");
  b.extra_list = {ItemNote{"second"}, guess};
  Rendered r = render({a, b});
  EXPECT_EQ(std::make_pair(r.notes_text, r.notes.size()),
            std::make_pair(std::string("[1] Created [guess]: 01/01/2020 00:00:00.000 [UTC]; [2] first; [3] second"), size_t{3}));
  // The instant takes the run's formats.
  useropts iso;
  iso.date_format = "yyyy-mm-dd";
  iso.time_format = "hh:mm:ss";
  std::vector<ShellItem> list{a};
  EXPECT_EQ(render(list, iso).notes.front(), "Created [guess]: 2020-01-01 00:00:00 [UTC]");
}

TEST(IdlistBreakout, SubpathsWithMftReferencesAndNestedEntries) {
  auto at = [](ShellItem item, uint64_t position) {
    item.item_position = position;
    return item;
  };
  ShellItem folder = at(named("Users"), 123);
  folder.mft_entry = 0x1234;
  folder.mft_seq = 3;
  folder.children.push_back(at(named("inner"), 140));
  // The root is named by its GUID, as the rendering names it.
  std::vector<ShellItem> items{at(guid_item(kMyComputer), 78), at(named("C:"), 98),
                               folder};
  useropts options;
  RenderedIdList rendered;
  ASSERT_TRUE(render_idlist(items, options, rendered));
  auto segments = collect_idlist_segments(items, rendered);
  ASSERT_EQ(segments.size(), 4u);
  EXPECT_EQ(std::tie(segments[123].subpath, segments[123].is_path_segment, segments[140].subpath,
                     segments[140].is_path_segment),
            std::make_tuple("{CLSID_My Computer}\\C:\\Users", true, "{CLSID_My Computer}\\C:\\Users\\inner", false));

  std::ostringstream out;
  write_idlist_breakout(out, items, rendered, options);
  EXPECT_EQ(out.str(),
            "IDList subpath breakout\n"
            " segment: {CLSID_My Computer}\n"
            " segment: {CLSID_My Computer}\\C:\n"
            " segment: {CLSID_My Computer}\\C:\\Users\n"
            "  mft entry#:   0x00001234 [4660]\n"
            "  mft seq#:     0x0003 [3]\n"
            " segment: {CLSID_My Computer}\\C:\\Users\\inner\n");

  std::ostringstream empty;
  write_idlist_breakout(empty, {}, RenderedIdList{}, options);
  EXPECT_EQ(empty.str(), "");
}

Bytes header(uint16_t size, uint16_t version, uint16_t number) {
  return Bytes().u16(size).u16(version).u16(number).u16(0xBEEF);
}

// A file entry extension block: the long name at +46 (version 7 and later)
// or +20 (version 3), then the names the offsets at +18 and +36 point to.
Bytes file_entry_block(uint16_t version, uint64_t reference, const std::string& long_name,
                       const std::string& localized, bool ansi_localized = false) {
  Bytes b = header(0, version, 0x0004);
  b.u16(0).u16(0);  // creation DOS date and time: absent
  b.u16(0).u16(0);  // access
  uint16_t name_at = version >= 7 ? 46 : 20;
  b.u16(name_at).u16(0);  // long name offset, localized name offset (patched)
  if (version >= 7) {
    b.u64(reference).zeros(8).u16(0).zeros(8);
  }
  b.zeros(name_at - b.size()).utf16(long_name);
  if (!localized.empty()) {
    b.patch16(18, static_cast<uint16_t>(b.size()));
    ansi_localized ? b.ansi(localized) : b.utf16(localized);
  }
  return b.u16(0).sized();  // the u16 is the block's offset in its item
}

// The walked item; length gets the bytes the walk took.
ShellItem walked(const Bytes& bytes, uint64_t position = 0, uint32_t* length = nullptr) {
  ShellItem item;
  DecodeContext context;
  context.position = position;
  uint32_t taken = walk_extension_blocks(item, ByteReader(bytes.data), context);
  EXPECT_EQ(context.position, position + taken);
  if (length) *length = taken;
  return item;
}

TEST(ExtensionBlocks, FileEntryVersionsReferencesAndNames) {
  struct Case { uint16_t version; uint64_t reference; const char *long_name, *localized; bool ansi;
                uint64_t mft_entry; uint16_t mft_seq; };
  const Case cases[] = {
      {9, 0x0003000000001234ull, "Program Files", "@shell32.dll,-21781", false, 0x1234, 3},
      {7, 0x0001000000000112ull, "Users", "", false, 0x112, 1},
      {3, 0, "Documents and Settings", "Dokumente", true, 0, 0},  // ANSI localized name
      {3, 0, "Documents and Settings", "Dokumente", false, 0, 0},
  };
  for (const Case& c : cases) {
    Bytes block = file_entry_block(c.version, c.reference, c.long_name, c.localized, c.ansi);
    uint32_t length = 0;
    ShellItem item = walked(block, 0, &length);
    EXPECT_EQ(std::make_tuple(length, item.name, item.mft_entry, item.mft_seq),
              std::make_tuple(uint32_t(block.size()), c.long_name, c.mft_entry, c.mft_seq))
        << c.version;
    // Version 3 keeps the localized name apart; later ones list it.
    const std::string localized = c.localized;
    EXPECT_EQ(item.extra_name_a, c.version == 3 ? localized : "") << c.version;
    EXPECT_EQ(item.names, c.version == 3 || localized.empty() ? std::vector<std::string>{}
                                                             : std::vector<std::string>{localized});
  }
}

TEST(ExtensionBlocks, WalkStopsAtOversizedOrForeignBlocks) {
  uint32_t length = 1;
  for (const Bytes& bad : {header(0x4000, 9, 4).zeros(0x4000 - 8), file_entry_block(9, 0xABC, "x", "").patch16(6, 0xBEEE)}) {
    walked(bad, 0, &length);
    EXPECT_EQ(length, 0u);
  }

  // Two good blocks in a row are both walked; a zero size after them ends it.
  Bytes two = file_entry_block(9, 0x0001000000000010ull, "first", "");
  two.append(file_entry_block(9, 0x0002000000000020ull, "second", "").data).u16(0);
  ShellItem both = walked(two, 50, &length);
  // The first reference wins.
  EXPECT_EQ(std::make_tuple(length, both.name, both.mft_entry, both.names),
            std::make_tuple(uint32_t(two.size() - 2), "first", 0x10u, std::vector<std::string>{"second"}));
}

TEST(ExtensionBlocks, RecycleBinBlockYieldsOneChildWithThreeNames) {
  Bytes b = header(0, 0, 0x0008).zeros(16).utf16("C:\\Users\\e\\Desktop\\report.docx");
  b.zeros(24 + 260 - b.size()).utf16("report.docx");
  b.zeros(544 - b.size()).utf16("$RABC123.docx");
  b.zeros(704 - b.size()).sized();
  uint32_t length = 0;
  ShellItem item = walked(b, 0, &length);
  ASSERT_EQ(std::make_pair(length, item.children.size()), std::make_pair(704u, size_t{1}));
  EXPECT_EQ(item.children[0].names,
            (std::vector<std::string>{"C:\\Users\\e\\Desktop\\report.docx [orig path/file]",
                                      "report.docx [orig file]", "$RABC123.docx [recycle path/file]"}));
}

TEST(ExtensionBlocks, GuidTextAndNestedListBlocks) {
  ShellItem item = walked(header(40, 0, 0).guid(kMyComputer).zeros(16));
  EXPECT_EQ(std::make_pair(item.guids.size(), item.guid_names),  // the zero GUID is not kept
            std::make_pair(size_t{1}, std::vector<std::string>{"{CLSID_My Computer}"}));

  ShellItem texts =
      walked(header(0, 2, 0x0026).u16(1).u16(2).utf16("short").utf16("a longer text").zeros(16).sized());
  EXPECT_EQ(texts.names, (std::vector<std::string>{"a longer text"}));

  // A nested IDList block's items are the item's children.
  ShellItem nested = walked(header(0, 0, 0x000E).u32(0).append(volume_item(25).data).u16(0).sized(), 1000);
  ASSERT_EQ(nested.children.size(), 1u);
  EXPECT_EQ(std::make_tuple(nested.children[0].name, nested.children[0].item_position), std::make_tuple("C:", 1012u));
}

TEST(ExtensionBlocks, GuessedAndAttributeDataTimes) {
  // Created and accessed 2020-01-01, modified absent.
  const uint64_t new_year = 132223104000000000ull;  // 2020-01-01
  EXPECT_EQ(render({walked(header(36, 1, 0x0025).u32(0).u64(new_year).u64(0).u64(new_year))}).notes,
            (std::vector<std::string>{"Created [guess]: 01/01/2020 00:00:00.000 [UTC]",
                                      "Accessed [guess]: 01/01/2020 00:00:00.000 [UTC]"}));

  // Version 1 of 0xBEEF0026, as a Windows 11 jump list holds it: attributes,
  // then creation, last access and last write times.
  const uint64_t created = 0x01dbc8d5ad679118ull;   // 2025-05-19 15:50:00.0396560
  const uint64_t accessed = 0x01dbf06726b16fe4ull;  // 2025-07-09 00:19:35.9022052
  const uint64_t modified = 0x01dbf06726b630dcull;  // 2025-07-09 00:19:35.9333596
  Bytes block = header(38, 1, 0x0026).u32(0x11).u64(created).u64(accessed).u64(modified).u16(0x14);
  ShellItem item = walked(block);
  EXPECT_EQ(std::make_tuple(item.names.size(), item.create_time, item.access_time, item.modify_time),
            std::make_tuple(size_t{0}, created, accessed, modified));  // the times are not read as text
  EXPECT_EQ(render({item}).notes,
            (std::vector<std::string>{"Created: 05/19/2025 15:50:00.039 [UTC]",
                                      "Modified: 07/09/2025 00:19:35.933 [UTC]",
                                      "Accessed: 07/09/2025 00:19:35.902 [UTC]"}));
  // A block cut before its last time decodes nothing.
  block.data.resize(30);
  block.patch16(0, 30);
  EXPECT_EQ(walked(block).create_time, 0u);
}

// 0xBEEF0027 carries a serialized property store at +8; its values become
// the item's property notes.
TEST(ExtensionBlocks, PropertyStoreBlockIsListed) {
  const std::vector<uint8_t> file = testing::read_corpus("lnk/pylnk/uwp_calc.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  const ByteReader bytes(file);
  uint64_t at = 0;
  while (at + 8 < file.size() && !(bytes.u32(at + 4) == 0xBEEF0027 && bytes.u16(at + 2) == 0)) ++at;
  ASSERT_LT(at + 8, file.size());
  ShellItem item = walked(Bytes().append(std::vector<uint8_t>(file.begin() + at, file.begin() + at + bytes.u16(at))));
  EXPECT_FALSE(item.property_map_second.empty());
  const auto notes = render({item}).notes;
  ASSERT_FALSE(notes.empty());
  for (const std::string& note : notes) EXPECT_TRUE(is_readable_text(note)) << note;
}

TEST(ReadableText, WhatCountsAsAName) {
  const std::pair<std::string, bool> cases[] = {
      {"Documents", true},
      {"C:\\Users\\bob\\Desktop", true},
      {"\xe6\xb5\x8b\xe8\xaf\x95 2.txt", true},     // CJK name
      {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", true},  // Cyrillic
      {"", false},
      {"\x02", false},                                // a flag byte
      {"ab\x14" "cd", false},
      {"\xc2\x93\x07\\", false},                      // Latin-1 control from an ANSI byte
      {"name\xef\xbf\xbd", false},                    // U+FFFD
      {"\xef\x8e\xaf\xe1\xab\x86", false},            // private use: a FILETIME read as text
      {"\xe4\x84\x80\xe4\x88\x80\xe4\x8c\x80", false},  // "ABC" with its bytes swapped
      {"\xff\xfe", false},                            // not UTF-8
      {"\xe4\xbd", false},                            // cut sequence
  };
  for (const auto& [text, readable] : cases) EXPECT_EQ(is_readable_text(text), readable) << text;
}

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
  ASSERT_TRUE(accepted && props.size() == 1);
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
  bool accepted = true;
  for (const Raw& bad : {Raw(64, 0), store({bad_version})})
    EXPECT_EQ(std::make_pair(parse(bad, &accepted).size(), accepted), std::make_pair(size_t{0}, false));
  auto props = parse(store({storage(kShellSet, {id_value(10, kVtLpwstr, lpwstr("first"))}),
                            storage(kOddSet, {id_value(10, kVtLpwstr, lpwstr("second"))})}),
                     &accepted);
  ASSERT_TRUE(accepted && props.size() == 2);
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

// Portable devices keep their properties in entries of their own.
const char* kObjectSet = "ef6b490d-5cd8-437a-affc-da8b60ee4a3c";

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

  const Rendered r = render({item});
  EXPECT_EQ(r.path, ".uxx");
  EXPECT_TRUE(contains(r.notes, "WPD_OBJECT_NAME : .uxx"));
  EXPECT_TRUE(contains(r.notes, "WPD_OBJECT_ID : o15"));
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

// IDLists walked item by item, extension blocks, GUID names, and their
// rendering as a path with notes and as the subpath breakout.
#include "shellitems/idlist.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "platform/text.h"
#include "report/idlist_breakout.h"
#include "report/render_idlist.h"
#include "shellitems/extension_blocks.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using testing::Bytes;
using testing::contains;
using testing::decode_one;
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
  Bytes b = Bytes().u16(14).u8(0x1F).u8(0x50).guid(kMyComputer).append(volume_item(25).data).u16(0);
  const std::vector<uint8_t> before = b.data;
  auto items = testing::walk(b.data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].guid_names, (std::vector<std::string>{"{CLSID_My Computer}"}));
  EXPECT_EQ(std::make_tuple(items[0].unknown, items[0].repaired_size), std::make_tuple(false, 20u));
  // The walk steps by the repaired size.
  EXPECT_EQ(std::make_tuple(items[1].name, items[1].item_position), std::make_tuple("C:", 20u));
  EXPECT_EQ(b.data, before) << "the input bytes are never written";

  Bytes unknown = Bytes().u16(14).u8(0x1F).u8(0x50).guid(kUnknownGuid).append(volume_item(25).data).u16(0);
  items = testing::walk(unknown.data);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].repaired_size, 0u);
}

TEST(IdlistItems, VolumeItemsOfTwentyFiveAndFortyOneBytes) {
  ShellItem plain = decode_one(volume_item(25).data);
  EXPECT_EQ(std::make_tuple(plain.name, plain.guids.size(), plain.unknown), std::make_tuple("C:", 0u, false));
  ShellItem with_guid = decode_one(volume_item(41, kMyComputer).data);
  ASSERT_EQ(with_guid.guids.size(), 1u);
  EXPECT_EQ(with_guid.name + " " + guid_text(with_guid.guids[0]), std::string("C: ") + kMyComputer);
}

TEST(IdlistItems, RealItemsFromFixtures) {
  struct Case {
    const char* fixture;
    size_t size;
    const char* name;
    uint64_t mft_entry;
  };
  for (const Case& c : {Case{"delegate_cfsf_item.hex", 0x82, "AppData", 0x149e3},
                        Case{"file_entry_v9_item.hex", 0x50, "Local", 84469}}) {
    auto bytes = testing::load_hex_fixture(c.fixture);
    ASSERT_EQ(bytes.size(), c.size);
    bool kept = false;
    ShellItem item = decode_one(bytes, &kept);
    EXPECT_TRUE(kept && !item.unknown && item.is_folder) << c.fixture;
    // The long name is the version 9 block's.
    EXPECT_EQ(std::tie(item.short_name, item.name, item.file_size, item.mft_entry, item.mft_seq),
              std::make_tuple(c.name, c.name, 0u, c.mft_entry, 1))
        << c.fixture;
    for (size_t len = 0; len <= bytes.size(); ++len)
      EXPECT_LE(walk({bytes.begin(), bytes.begin() + static_cast<long>(len)}).size(), 1u);
  }
  // A class 0x74 item carrying CFSF at +6 ends up decoded as a CFSF record.
  ShellItem delegate = decode_one(testing::load_hex_fixture("delegate_cfsf_item.hex"));
  EXPECT_EQ(delegate.class_type, 0x74);
  EXPECT_TRUE(delegate.flags & kFlagCfsf);
}

TEST(IdlistItems, ClassesWithoutDecoderGoToTheFallbacks) {
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
  EXPECT_TRUE(contains(item.names, "first"));
  EXPECT_TRUE(contains(item.names, "second"));

  ShellItem failed = decode_one(Bytes().u16(20).u8(0x32).zeros(17).data);
  EXPECT_TRUE(failed.unknown && failed.names.empty());
}

TEST(IdlistItems, NetworkShareYieldsLastPartThenWholeText) {
  Bytes b = Bytes().u16(0).u8(0x42).u8(0).u8(0).ansi("\\\\server\\share").ansi("Comment").sized();
  EXPECT_EQ(decode_one(b.data).names, (std::vector<std::string>{"share", "\\\\server\\share", "Comment"}));
}

// An unknown item whose extension block points back at the item's own start:
// the embedded-item search would decode the item inside itself for ever.
TEST(IdlistItems, SelfNestingItemIsCutOffAndTheListStillDecodes) {
  Bytes self;
  self.u16(40).u8(0x43).zeros(13);  // 16 bytes, no other structure
  self.u16(24).u16(0).u16(0x0004).u16(0xBEEF).zeros(14).u16(16);
  ASSERT_EQ(self.size(), 40u);
  auto items = walk(self.append(volume_item(25).data).u16(0).data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(std::make_tuple(items[0].unknown, items[1].name), std::make_tuple(true, "C:"));
}

TEST(IdlistItems, NestedRootListsStopAtTheDepthBound) {
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
}

TEST(IdlistItems, ReusedContextGetsAFreshWorkBudget) {
  Bytes b = volume_item(25).u16(0);
  DecodeContext context;
  context.work = kMaxDecodeWork + 1;  // spent on an earlier record
  std::vector<ShellItem> items;
  ASSERT_TRUE(walk_idlist(items, ByteReader(b.data), context));
  EXPECT_EQ(items[0].name, "C:");
}

// Office and Visio GUIDs are named by their pattern, not row by row.
TEST(GuidNames, LookupRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"12345678-0000-0000-0000-0000000ff1ce", "{CLSID_Microsoft Office}"},
      {"00000000-6d54-11d4-bee3-00c04f990354", "{CLSID_Visio}"},
      {kMyComputer, "{CLSID_My Computer}"},
  };
  for (const auto& [text, name] : cases) {
    Guid g{};
    bool found = false;
    ASSERT_TRUE(parse_guid(text, g));
    EXPECT_EQ(lookup_guid_name(g, found), name) << text;
    EXPECT_TRUE(found) << text;
  }
  Guid unknown{};
  ASSERT_TRUE(parse_guid(kUnknownGuid, unknown));
  bool found = true;
  EXPECT_EQ(lookup_guid_name(unknown, found), kUnknownGuid);
  EXPECT_FALSE(found);
  // On an item: the zero GUID is skipped, an unknown one is kept unnamed.
  ShellItem item;
  add_guid(item, Guid{});
  EXPECT_TRUE(item.guids.empty());
  add_guid(item, unknown);
  EXPECT_EQ(item.guids.size(), 1u);
  EXPECT_TRUE(item.guid_names.empty());
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

TEST(RenderIdlist, RootVolumeAndFolderJoinWithSingleBackslashes) {
  std::vector<ShellItem> items{guid_item("20d04fe0-3aea-1069-a2d8-08002b30309d"), named("C:\\"),
                               named("Users", "Users")};
  Rendered r = render(items);
  EXPECT_EQ(std::make_tuple(r.ok, r.path, r.notes.size()), std::make_tuple(true, "{CLSID_My Computer}\\C:\\Users", 0u));
  EXPECT_TRUE(items[0].name.empty()) << "rendering leaves the decoded items alone";
}

TEST(RenderIdlist, ShortNameBecomesANoteUnlessInsideTheLongName) {
  Rendered r = render({named("Program Files (x86)", "PROGRA~2"), named("Nero", "Nero")});
  EXPECT_EQ(r.path, "Program Files (x86)\\Nero");
  EXPECT_EQ(r.notes, (std::vector<std::string>{"PROGRA~2"}));
  EXPECT_EQ(r.notes_text, "[1] PROGRA~2");
}

TEST(RenderIdlist, UnknownGuidShowsItsTextAndEmptyListFails) {
  EXPECT_EQ(render({guid_item("11111111-2222-3333-4444-555555555555")}).path,
            "CLSID_{11111111-2222-3333-4444-555555555555}");
  Rendered r = render({});
  EXPECT_EQ(std::make_tuple(r.ok, r.path), std::make_tuple(false, ""));
}

TEST(RenderIdlist, NotesAreNumberedOnceInOrderOfFirstAppearance) {
  const ItemNote guess{"Created [guess]: ", 132223104000000000ull, true};  // 2020-01-01
  ShellItem a = named("a");
  a.extra_list = {guess, ItemNote{"first"}};
  ShellItem b = named("b");
  b.extra_list = {ItemNote{"second"}, guess};
  Rendered r = render({a, b});
  EXPECT_EQ(r.notes_text,
            "[1] Created [guess]: 01/01/2020 00:00:00.000 [UTC]; [2] first; [3] second");
  EXPECT_EQ(r.notes.size(), 3u);
  // The instant takes the run's formats.
  useropts iso;
  iso.date_format = "yyyy-mm-dd";
  iso.time_format = "hh:mm:ss";
  std::vector<ShellItem> list{a};
  EXPECT_EQ(render(list, iso).notes.front(), "Created [guess]: 2020-01-01 00:00:00 [UTC]");
}

TEST(RenderIdlist, TrailingBackslashesAndTimesOfTheLastItem) {
  ShellItem last;
  last.modify_time = 11;
  last.access_time = 22;
  last.create_time = 33;
  Rendered r = render({named("\\\\server\\"), named("share\\"), last});
  EXPECT_EQ(std::make_tuple(r.path, r.modified, r.accessed, r.created), std::make_tuple("\\server\\share", 11u, 22u, 33u));
}

TEST(RenderIdlist, EmbeddedListShowsItsLastComponentAndPathNote) {
  ShellItem holder;
  holder.embedded_idlists.push_back({named("C:\\"), named("Temp"), named("x.txt")});
  Rendered r = render({holder});
  EXPECT_EQ(r.path, "x.txt");
  ASSERT_FALSE(r.notes.empty());
  EXPECT_EQ(r.notes[0], "Embedded Path : C:\\Temp\\x.txt");
}

TEST(RenderIdlist, GuidNamesAndNamesAreUsedUpByTheDisplayText) {
  ShellItem item = guid_item("20d04fe0-3aea-1069-a2d8-08002b30309d");
  item.guid_names.push_back("{CLSID_Other}");
  Rendered r = render({item});
  EXPECT_EQ(r.path, "{CLSID_My Computer}");
  EXPECT_EQ(r.notes, (std::vector<std::string>{"{CLSID_Other}"}));

  ShellItem texts;
  texts.names = {"first", "second", "first"};
  Rendered t = render({texts});
  EXPECT_EQ(t.path, "first");
  EXPECT_EQ(t.notes, (std::vector<std::string>{"second"}));
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
  std::vector<ShellItem> items{at(guid_item("20d04fe0-3aea-1069-a2d8-08002b30309d"), 78), at(named("C:"), 98),
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
  EXPECT_TRUE(empty.str().empty());
}

// Extension blocks: their headers, then the block of each number.
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
  struct Case {
    uint16_t version;
    uint64_t reference;
    const char* long_name;
    const char* localized;
    bool ansi;
    uint64_t mft_entry;
    uint16_t mft_seq;
  };
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
  walked(header(0x4000, 9, 4).zeros(0x4000 - 8), 0, &length);
  EXPECT_EQ(length, 0u);
  length = 1;
  walked(file_entry_block(9, 0x10000000000ABCull, "x", "").patch16(6, 0xBEEE), 0, &length);
  EXPECT_EQ(length, 0u);

  // Two good blocks in a row are both walked; a zero size after them ends it.
  Bytes two = file_entry_block(9, 0x0001000000000010ull, "first", "");
  two.append(file_entry_block(9, 0x0002000000000020ull, "second", "").data).u16(0);
  ShellItem both = walked(two, 50, &length);
  // The first reference wins the merge.
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
  EXPECT_EQ(length, 704u);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(item.children[0].names,
            (std::vector<std::string>{"C:\\Users\\e\\Desktop\\report.docx [orig path/file]",
                                      "report.docx [orig file]", "$RABC123.docx [recycle path/file]"}));
}

TEST(ExtensionBlocks, GuidBlocksAndGenericTexts) {
  ShellItem item = walked(header(40, 0, 0).guid("20d04fe0-3aea-1069-a2d8-08002b30309d").zeros(16));
  ASSERT_EQ(item.guids.size(), 1u);  // the zero GUID is not kept
  EXPECT_EQ(item.guid_names, (std::vector<std::string>{"{CLSID_My Computer}"}));

  ShellItem texts =
      walked(header(0, 2, 0x0026).u16(1).u16(2).utf16("short").utf16("a longer text").zeros(16).sized());
  EXPECT_EQ(texts.names, (std::vector<std::string>{"a longer text"}));
}

TEST(ExtensionBlocks, NestedIdlistBlockFillsChildren) {
  Bytes b = header(0, 0, 0x000E).u32(0).append(testing::volume_item(25).data).u16(0).sized();
  ShellItem item = walked(b, 1000);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(std::make_tuple(item.children[0].name, item.children[0].item_position), std::make_tuple("C:", 1012u));
}

TEST(ExtensionBlocks, GuessedTimesBecomeNotes) {
  // Created and accessed 2020-01-01, modified absent.
  const uint64_t new_year = 132223104000000000ull;  // 2020-01-01
  ShellItem item = walked(header(36, 1, 0x0025).u32(0).u64(new_year).u64(0).u64(new_year));
  // The times stay instants until a writer formats them.
  ASSERT_EQ(item.extra_list.size(), 2u);
  EXPECT_EQ(item.extra_list[0], (ItemNote{"Created [guess]: ", new_year, true}));
  EXPECT_EQ(item.extra_list[1], (ItemNote{"Accessed [guess]: ", new_year, true}));
  std::vector<ShellItem> list{item};
  EXPECT_EQ(testing::render(list).notes,
            (std::vector<std::string>{"Created [guess]: 01/01/2020 00:00:00.000 [UTC]",
                                      "Accessed [guess]: 01/01/2020 00:00:00.000 [UTC]"}));
}

// Version 1 of 0xBEEF0026, as a Windows 11 jump list holds it: attributes,
// then creation, last access and last write times.
TEST(ExtensionBlocks, AttributeDataBlockTimes) {
  const uint64_t created = 0x01dbc8d5ad679118ull;   // 2025-05-19 15:50:00.0396560
  const uint64_t accessed = 0x01dbf06726b16fe4ull;  // 2025-07-09 00:19:35.9022052
  const uint64_t modified = 0x01dbf06726b630dcull;  // 2025-07-09 00:19:35.9333596
  Bytes block = header(38, 1, 0x0026).u32(0x11).u64(created).u64(accessed).u64(modified).u16(0x14);
  ShellItem item = walked(block);
  EXPECT_TRUE(item.names.empty()) << "the times are not read as text";
  EXPECT_EQ(std::make_tuple(item.create_time, item.access_time, item.modify_time),
            std::make_tuple(created, accessed, modified));
  std::vector<ShellItem> list{item};
  EXPECT_EQ(testing::render(list).notes,
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
  std::vector<ShellItem> list{item};
  const auto notes = testing::render(list).notes;
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

}  // namespace
}  // namespace lnk

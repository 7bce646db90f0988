// IDLists walked item by item, GUID names, and their rendering as a path
// with notes and as the subpath breakout.
#include "shellitems/idlist.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "platform/text.h"
#include "report/idlist_breakout.h"
#include "report/render_idlist.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"
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

}  // namespace
}  // namespace lnk

#include "report/render_idlist.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "platform/text.h"
#include "report/idlist_breakout.h"
#include "shellitems/item_decode.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

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

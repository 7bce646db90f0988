#include "lnk/names.h"
#include "shellitems/item_names.h"

#include <gtest/gtest.h>

namespace lnk {
namespace {

// Each table's ends and gaps, where an off-by-one would show.
TEST(Names, TablesAtTheirEdges) {
  const std::pair<std::string, std::string> cases[] = {
      {link_flags_text(0), "Default"},
      {link_flags_text(0x02000000), "KeepLocalIDListForUNCTarget"},
      {link_flags_text(0xFC000000 | 0x4), "HasName"},  // bits 26-31 have no names
      {link_flags_text(0xFC000000), ""},
      {link_flags_text(0x03FFFFFF).substr(0, 32), "HasLinkTargetIDList, HasLinkInfo"},
      {show_command_text(11), "SW_FORCEMINIMIZE"},
      {show_command_text(12), "unk"},
      {drive_type_text(6), "RAM drive"},
      {drive_type_text(7), "unk"},
      {control_panel_category_text(11), "Mobile PC"},
      {control_panel_category_text(12), "<unk>"},
      {csidl_text(0x0E), "CSIDL_MYVIDEO"},
      {csidl_text(0x0F), "unk"},
      {csidl_text(0x10), "CSIDL_DESKTOPDIRECTORY"},
      {csidl_text(0x32), "unk"},
      {csidl_text(0x35), "CSIDL_COMMON_MUSIC"},
      {csidl_text(0x3E), "IDLIST_COMMON_FILE_UNICODE"},
      {csidl_text(0x3F), "unk"},
      {csidl_text(0x0800), "CSIDL_FLAG_PER_USER_INIT"},
      {csidl_text(0x0805), "unk"},  // flags with a folder are not split
      {csidl_text(0xFF00), "CSIDL_FLAG_MASK"},
      {sfgao_text(0xA0000004), "can_link; folder; has_subdirs"},
      {sfgao_text(0x8), ""},  // unnamed bit
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

TEST(Names, Attributes) {
  EXPECT_EQ(file_attributes_text(0x21, "|"), "FILE_ATTRIBUTE_READONLY|FILE_ATTRIBUTE_ARCHIVE");
  EXPECT_EQ(file_attributes_text(0x8, "; "), "Reserved1");
  EXPECT_EQ(file_attributes_text(0x18040, ", "), "Reserved2, Reserved3, FILE_ATTRIBUTE_VIRTUAL");
  EXPECT_EQ(file_attributes_text(0x20000, "; "), "unk");  // only unnamed bits
  EXPECT_EQ(short_attributes_text(0), "none set");
  EXPECT_EQ(short_attributes_text(0x8), "unk");
  EXPECT_EQ(short_attributes_text(0x23), "READ_ONLY, HIDDEN, ARCHIVE");
  EXPECT_EQ(short_attributes_text(0x10000010), "DIRECTORY, DIRECTORY");
}

}  // namespace
}  // namespace lnk

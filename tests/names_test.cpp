#include "lnk/names.h"

#include <gtest/gtest.h>

namespace lnk {
namespace {

TEST(Names, LinkFlags) {
  EXPECT_EQ(link_flags_text(0), "Default");
  EXPECT_EQ(link_flags_text(0x81), "HasLinkTargetIDList, IsUnicode");
  EXPECT_EQ(link_flags_text(0x02000000), "KeepLocalIDListForUNCTarget");
  EXPECT_EQ(link_flags_text(0xFC000000 | 0x4), "HasName");  // bits 26-31 have no names
  EXPECT_EQ(link_flags_text(0xFC000000), "");
  EXPECT_EQ(link_flags_text(0x03FFFFFF).substr(0, 32), "HasLinkTargetIDList, HasLinkInfo");
}

TEST(Names, ValueTables) {
  EXPECT_EQ(show_command_text(1), "SW_SHOWNORMAL");
  EXPECT_EQ(show_command_text(7), "SW_SHOWMINNOACTIVE");
  EXPECT_EQ(show_command_text(11), "SW_FORCEMINIMIZE");
  EXPECT_EQ(show_command_text(12), "unk");
  EXPECT_EQ(drive_type_text(0), "unk");
  EXPECT_EQ(drive_type_text(3), "fixed");
  EXPECT_EQ(drive_type_text(6), "RAM drive");
  EXPECT_EQ(drive_type_text(7), "unk");
  EXPECT_EQ(control_panel_category_text(2), "Hardward and Sound");
  EXPECT_EQ(control_panel_category_text(11), "Mobile PC");
  EXPECT_EQ(control_panel_category_text(12), "<unk>");
}

TEST(Names, Csidl) {
  EXPECT_EQ(csidl_text(0x00), "CSIDL_DESKTOP");
  EXPECT_EQ(csidl_text(0x0E), "CSIDL_MYVIDEO");
  EXPECT_EQ(csidl_text(0x0F), "unk");
  EXPECT_EQ(csidl_text(0x10), "CSIDL_DESKTOPDIRECTORY");
  EXPECT_EQ(csidl_text(0x31), "CSIDL_CONNECTIONS");
  EXPECT_EQ(csidl_text(0x32), "unk");
  EXPECT_EQ(csidl_text(0x34), "unk");
  EXPECT_EQ(csidl_text(0x35), "CSIDL_COMMON_MUSIC");
  EXPECT_EQ(csidl_text(0x3C), "CSID_UNUSED");
  EXPECT_EQ(csidl_text(0x3E), "IDLIST_COMMON_FILE_UNICODE");
  EXPECT_EQ(csidl_text(0x3F), "unk");
  EXPECT_EQ(csidl_text(0x0800), "CSIDL_FLAG_PER_USER_INIT");
  EXPECT_EQ(csidl_text(0x0805), "unk");  // flags with a folder are not split
  EXPECT_EQ(csidl_text(0xFF00), "CSIDL_FLAG_MASK");
  EXPECT_EQ(csidl_text(-1), "unk");
}

TEST(Names, FileAttributesUseCallerSeparator) {
  EXPECT_EQ(file_attributes_text(0x21, "; "), "FILE_ATTRIBUTE_READONLY; FILE_ATTRIBUTE_ARCHIVE");
  EXPECT_EQ(file_attributes_text(0x21, "|"), "FILE_ATTRIBUTE_READONLY|FILE_ATTRIBUTE_ARCHIVE");
  EXPECT_EQ(file_attributes_text(0x8, "; "), "Reserved1");
  EXPECT_EQ(file_attributes_text(0x18040, ", "),
            "Reserved2, Reserved3, FILE_ATTRIBUTE_VIRTUAL");
  EXPECT_EQ(file_attributes_text(0x20000, "; "), "unk");  // only unnamed bits
}

TEST(Names, ShortAttributes) {
  EXPECT_EQ(short_attributes_text(0), "none set");
  EXPECT_EQ(short_attributes_text(0x10000000), "DIRECTORY");
  EXPECT_EQ(short_attributes_text(0x8), "unk");
  EXPECT_EQ(short_attributes_text(0x23), "READ_ONLY, HIDDEN, ARCHIVE");
  EXPECT_EQ(short_attributes_text(0x10000010), "DIRECTORY, DIRECTORY");
}

TEST(Names, Sfgao) {
  EXPECT_EQ(sfgao_text(0), "");
  EXPECT_EQ(sfgao_text(0x1), "can_copy");
  EXPECT_EQ(sfgao_text(0xA0000004), "can_link; folder; has_subdirs");
  EXPECT_EQ(sfgao_text(0x8), "");  // unnamed bit
}

}  // namespace
}  // namespace lnk

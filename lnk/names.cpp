#include "lnk/names.h"

namespace lnk {
namespace {

struct BitName {
  uint32_t bit;
  const char* name;
};

struct ValueName {
  int64_t value;
  const char* name;
};

// Each set bit's name followed by the separator, in ascending bit order.
template <size_t N>
std::string join_bits(uint32_t value, const BitName (&table)[N], const std::string& separator) {
  std::string text;
  for (const BitName& row : table) {
    if (value & row.bit) {
      text += row.name;
      text += separator;
    }
  }
  return text;
}

template <size_t N>
std::string lookup(int64_t value, const ValueName (&table)[N], const char* fallback) {
  for (const ValueName& row : table) {
    if (row.value == value) return row.name;
  }
  return fallback;
}

void drop_trailing(std::string& text, size_t length) {
  if (text.size() >= length) text.erase(text.size() - length);
}

const BitName kLinkFlags[] = {
    {0x00000001, "HasLinkTargetIDList"}, {0x00000002, "HasLinkInfo"},
    {0x00000004, "HasName"},             {0x00000008, "HasRelativePath"},
    {0x00000010, "HasWorkingDir"},       {0x00000020, "HasArguments"},
    {0x00000040, "HasIconLocation"},     {0x00000080, "IsUnicode"},
    {0x00000100, "ForceNoLinkInfo"},     {0x00000200, "HasExpString"},
    {0x00000400, "RunInSeparateProcess"}, {0x00000800, "Unused1"},
    {0x00001000, "HasDarwinID"},         {0x00002000, "RunAsUser"},
    {0x00004000, "HasExpIcon"},          {0x00008000, "NoPidlAlias"},
    {0x00010000, "Unused2"},             {0x00020000, "RunWithShimLayer"},
    {0x00040000, "EnableTargetMetadata"}, {0x00080000, "DisableLinkPathTracking"},
    {0x00100000, "DisableKnownFolderTracking"}, {0x00200000, "DisableKnownFolderAlias"},
    {0x00400000, "AllowLinkToLink"},     {0x00800000, "UnaliasOnSave"},
    {0x01000000, "PreferEnvironmentPath"}, {0x02000000, "KeepLocalIDListForUNCTarget"},
};

const ValueName kShowCommands[] = {
    {0, "SW_HIDE"},           {1, "SW_SHOWNORMAL"},      {2, "SW_SHOWMINIMIZED"},
    {3, "SW_SHOWMAXIMIZED"},  {4, "SW_SHOWNOACTIVATE"},  {5, "SW_SHOW"},
    {6, "SW_MINIMIZE"},       {7, "SW_SHOWMINNOACTIVE"}, {8, "SW_SHOWNA"},
    {9, "SW_RESTORE"},        {10, "SW_SHOWDEFAULT"},    {11, "SW_FORCEMINIMIZE"},
};

const ValueName kDriveTypes[] = {
    {1, "no root dir"}, {2, "removable"}, {3, "fixed"},
    {4, "remote"},      {5, "cdrom"},     {6, "RAM drive"},
};

const BitName kFileAttributes[] = {
    {0x1, "FILE_ATTRIBUTE_READONLY"},
    {0x2, "FILE_ATTRIBUTE_HIDDEN"},
    {0x4, "FILE_ATTRIBUTE_SYSTEM"},
    {0x8, "Reserved1"},
    {0x10, "FILE_ATTRIBUTE_DIRECTORY"},
    {0x20, "FILE_ATTRIBUTE_ARCHIVE"},
    {0x40, "Reserved2"},
    {0x80, "FILE_ATTRIBUTE_NORMAL"},
    {0x100, "FILE_ATTRIBUTE_TEMPORARY"},
    {0x200, "FILE_ATTRIBUTE_SPARSE_FILE"},
    {0x400, "FILE_ATTRIBUTE_REPARSE_POINT"},
    {0x800, "FILE_ATTRIBUTE_COMPRESSED"},
    {0x1000, "FILE_ATTRIBUTE_OFFLINE"},
    {0x2000, "FILE_ATTRIBUTE_NOT_CONTENT_INDEXED"},
    {0x4000, "FILE_ATTRIBUTE_ENCRYPTED"},
    {0x8000, "Reserved3"},
    {0x10000, "FILE_ATTRIBUTE_VIRTUAL"},
};

// 0x10000000 is the directory bit of $FILE_NAME; it reads the same as 0x10.
const BitName kShortAttributes[] = {
    {0x1, "READ_ONLY"},         {0x2, "HIDDEN"},          {0x4, "SYSTEM"},
    {0x10, "DIRECTORY"},        {0x20, "ARCHIVE"},        {0x40, "DEVICE"},
    {0x80, "NORMAL"},           {0x100, "TEMPORARY"},     {0x200, "SPARSE_FILE"},
    {0x400, "REPARSE_PT"},      {0x800, "COMPRESSED"},    {0x1000, "OFFLINE"},
    {0x2000, "CONTENT_NOT_INDEXED"}, {0x4000, "ENCRYPTED"}, {0x10000, "VIRTUAL"},
    {0x10000000, "DIRECTORY"},
};

const ValueName kCsidl[] = {
    {0x00, "CSIDL_DESKTOP"},
    {0x01, "CSIDL_INTERNET"},
    {0x02, "CSIDL_PROGRAMS"},
    {0x03, "CSIDL_CONTROLS"},
    {0x04, "CSIDL_PRINTERS"},
    {0x05, "CSIDL_PERSONAL"},
    {0x06, "CSIDL_FAVORITES"},
    {0x07, "CSIDL_STARTUP"},
    {0x08, "CSIDL_RECENT"},
    {0x09, "CSIDL_SENDTO"},
    {0x0A, "CSIDL_BITBUCKET"},
    {0x0B, "CSIDL_STARTMENU"},
    {0x0C, "CSIDL_MYDOCUMENTS"},
    {0x0D, "CSIDL_MYMUSIC"},
    {0x0E, "CSIDL_MYVIDEO"},
    {0x10, "CSIDL_DESKTOPDIRECTORY"},
    {0x11, "CSIDL_DRIVES"},
    {0x12, "CSIDL_NETWORK"},
    {0x13, "CSIDL_NETHOOD"},
    {0x14, "CSIDL_FONTS"},
    {0x15, "CSIDL_TEMPLATES"},
    {0x16, "CSIDL_COMMON_STARTMENU"},
    {0x17, "CSIDL_COMMON_PROGRAMS"},
    {0x18, "CSIDL_COMMON_STARTUP"},
    {0x19, "CSIDL_COMMON_DESKTOPDIRECTORY"},
    {0x1A, "CSIDL_APPDATA"},
    {0x1B, "CSIDL_PRINTHOOD"},
    {0x1C, "CSIDL_LOCAL_APPDATA"},
    {0x1D, "CSIDL_ALTSTARTUP"},
    {0x1E, "CSIDL_COMMON_ALTSTARTUP"},
    {0x1F, "CSIDL_COMMON_FAVORITES"},
    {0x20, "CSIDL_INTERNET_CACHE"},
    {0x21, "CSIDL_COOKIES"},
    {0x22, "CSIDL_HISTORY"},
    {0x23, "CSIDL_COMMON_APPDATA"},
    {0x24, "CSIDL_WINDOWS"},
    {0x25, "CSIDL_SYSTEM"},
    {0x26, "CSIDL_PROGRAM_FILES"},
    {0x27, "CSIDL_MYPICTURES"},
    {0x28, "CSIDL_PROFILE"},
    {0x29, "CSIDL_SYSTEMX86"},
    {0x2A, "CSIDL_PROGRAM_FILESX86"},
    {0x2B, "CSIDL_PROGRAM_FILES_COMMON"},
    {0x2C, "CSIDL_PROGRAM_FILES_COMMONX86"},
    {0x2D, "CSIDL_COMMON_TEMPLATES"},
    {0x2E, "CSIDL_COMMON_DOCUMENTS"},
    {0x2F, "CSIDL_COMMON_ADMINTOOLS"},
    {0x30, "CSIDL_ADMINTOOLS"},
    {0x31, "CSIDL_CONNECTIONS"},
    {0x35, "CSIDL_COMMON_MUSIC"},
    {0x36, "CSIDL_COMMON_PICTURES"},
    {0x37, "CSIDL_COMMON_VIDEO"},
    {0x38, "CSIDL_RESOURCES"},
    {0x39, "CSIDL_RESOURCES_LOCALIZED"},
    {0x3A, "CSIDL_COMMON_OEM_LINKS"},
    {0x3B, "CSIDL_CDBURN_AREA"},
    {0x3C, "CSID_UNUSED"},
    {0x3D, "CSIDL_COMPUTERSNEARME"},
    {0x3E, "IDLIST_COMMON_FILE_UNICODE"},
    {0x0800, "CSIDL_FLAG_PER_USER_INIT"},
    {0x1000, "CSIDL_FLAG_NO_ALIAS"},
    {0x4000, "CSIDL_FLAG_DONT_VERIFY"},
    {0x8000, "CSIDL_FLAG_CREATE"},
    {0xFF00, "CSIDL_FLAG_MASK"},
};

const BitName kSfgao[] = {
    {0x1, "can_copy"},          {0x2, "can_move"},           {0x4, "can_link"},
    {0x10, "can_rename"},       {0x20, "can_delete"},        {0x40, "has_propsheet"},
    {0x100, "drop_target"},     {0x1000, "system_item"},     {0x2000, "encrypted"},
    {0x4000, "slow"},           {0x8000, "dimmed"},          {0x10000, "link"},
    {0x20000, "shared"},        {0x40000, "read_only"},      {0x80000, "hidden"},
    {0x100000, "enum_item"},    {0x200000, "new_content"},   {0x400000, "has_stream"},
    {0x2000000, "removable"},   {0x4000000, "compressed"},   {0x8000000, "browsable"},
    {0x20000000, "folder"},     {0x40000000, "system_file"}, {0x80000000, "has_subdirs"},
};

}  // namespace

std::string link_flags_text(uint32_t link_flags) {
  if (link_flags == 0) return "Default";
  std::string text = join_bits(link_flags, kLinkFlags, ", ");
  size_t comma = text.rfind(',');
  if (comma != std::string::npos) text.erase(comma);
  return text;
}

std::string show_command_text(uint32_t show_command) {
  return lookup(show_command, kShowCommands, "unk");
}

std::string drive_type_text(uint32_t drive_type) {
  return lookup(drive_type, kDriveTypes, "unk");
}

std::string file_attributes_text(uint32_t attributes, const std::string& separator) {
  std::string text = join_bits(attributes, kFileAttributes, separator);
  if (text.empty()) return "unk";
  drop_trailing(text, separator.size());
  return text;
}

std::string short_attributes_text(uint32_t attributes) {
  std::string text = join_bits(attributes, kShortAttributes, ", ");
  if (text.size() > 2) drop_trailing(text, 2);
  if (text.empty()) return attributes == 0 ? "none set" : "unk";
  return text;
}

std::string csidl_text(int32_t special_folder_id) {
  return lookup(special_folder_id, kCsidl, "unk");
}

std::string sfgao_text(uint32_t attributes) {
  std::string text = join_bits(attributes, kSfgao, "; ");
  drop_trailing(text, 2);
  return text;
}

}  // namespace lnk

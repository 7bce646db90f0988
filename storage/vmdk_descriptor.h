// The text descriptor of a VMware disk: content IDs that link snapshots to
// their parents, the layout, and the extent lines that say which files hold
// the sectors. Found embedded in a sparse extent or as a file of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lnk {

struct VmdkExtentLine {
  std::string access;  // "RW", "RDONLY" or "NOACCESS"
  uint64_t sectors = 0;
  std::string type;    // upper case: "SPARSE", "FLAT", "ZERO", "VMFS", ...
  std::string file;    // as written, quotes removed; empty for ZERO
  uint64_t offset_sectors = 0;  // where a flat extent starts in its file
};

struct VmdkDescriptor {
  std::vector<std::string> lines;
  // Lower case, quotes kept, as the chain compares them.
  std::string cid;
  std::string parent_cid;
  std::string encoding;
  // Case kept: it becomes a file name on case-sensitive file systems.
  std::string parent_hint;
  std::string create_type;  // lower case, quotes removed
  std::vector<VmdkExtentLine> extents;
  // An extent line that could not be parsed, or too many of them: the
  // extents do not describe the whole disk.
  bool extents_unreadable = false;
};

// The parent CID of a disk that has no parent.
inline constexpr const char* kVmdkNoParentCid = "ffffffff";
// More text than any descriptor holds; a larger file is not one.
constexpr uint64_t kVmdkDescriptorMaxBytes = 1 << 20;

// True when the bytes start like a descriptor file.
bool looks_like_vmdk_descriptor(std::span<const uint8_t> head);

// Reads lines up to the first NUL. Never fails: a descriptor without the
// values leaves them empty.
void parse_vmdk_descriptor(std::span<const uint8_t> text, VmdkDescriptor& out);

}  // namespace lnk

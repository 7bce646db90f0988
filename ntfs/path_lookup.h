// Directory indexes ($I30) and the two directions between paths and MFT
// entries: a path such as "System Volume Information\x" to its entry, and an
// entry's parent reference to "[root]\dir\...\".
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>

#include "ntfs/ntfs_volume.h"

namespace lnk {

// Adds the entry numbers of one index node's entries to children. node
// starts at the node header (offset 16 of an $INDEX_ROOT value, 24 of an
// "INDX" block).
void walk_index_node(std::span<const uint8_t> node, std::set<uint64_t>& children);
// The children of a directory from its $I30 root and every "INDX" block of
// its allocation, in use or not.
bool list_children(NtfsVolume& volume, uint64_t directory, std::set<uint64_t>& children);

// "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy" (any case) + number: the
// rest of the path, relative to the copy's root; other paths as given.
std::string strip_shadow_copy_prefix(const std::string& path);
// Finds the entry of a path below the root ("/" or "\" separators; a drive
// segment and stream names are dropped; names compared lower-cased).
bool lookup_path(NtfsVolume& volume, const std::string& path, uint64_t& entry);

// "[root]\" and each directory name with a backslash, from the root down to
// the directory parent_reference names. A chain that breaks (a reused
// parent, a parent without a name, a loop) puts "<path corrupted>\" right
// after "[root]\". False when a parent's record cannot be read.
bool build_parent_path(NtfsVolume& volume, uint64_t parent_reference, std::string& out);

}  // namespace lnk

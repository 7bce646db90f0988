// Where the NTFS volume of a disk image starts: the whole image, the
// partition the user chose with an offset, or a listing of the partitions
// when the choice is the user's to make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "images/partition_table.h"
#include "storage/byte_source.h"

namespace lnk {

// What the search has to tell the user, in order; the command line turns
// each into its text.
enum class VolumeNoteKind {
  offset_outside_image,     // offset: the requested or a partition's offset
  no_partitions_found,      // no table, not even a guessed one
  table_questionable,       // the table was only found by guessing
  no_partitions_listed,     // a table without partitions
  selected_not_ntfs,        // offset and type_name of the partition chosen
  selected_ntfs_truncated,  // offset: the chosen NTFS partition runs past the end
  partition_listing,        // the partitions of the search, one line each
  use_offset,               // offset: the last NTFS partition seen
  no_ntfs_found,
  sole_ntfs_chosen,         // offset: the one NTFS partition, scanned without -offset
  no_ntfs_at_offset,        // offset: requested, unlisted, and no NTFS boot sector there
};

struct VolumeNote {
  VolumeNoteKind kind = VolumeNoteKind::no_ntfs_found;
  uint64_t offset = 0;
  std::string type_name;
};

struct ImageVolumeSearch {
  bool success = false;
  // An NTFS volume was recognised (at offset 0, or as a partition).
  bool ntfs_found = false;
  // The volume's byte offset on success; after a listing the last NTFS
  // partition's offset, else the requested offset.
  uint64_t volume_offset = 0;
  std::vector<Partition> partitions;
  std::vector<VolumeNote> notes;
};

// requested_offset is the user's -offset, 0 when not given: any offset
// that holds an NTFS boot sector succeeds, listed in the table or not.
// Without it a disk with exactly one NTFS partition succeeds with that
// partition, and the notes still list the partitions.
ImageVolumeSearch find_image_volume(ByteSource& image, uint64_t requested_offset);


}  // namespace lnk

#include "images/image_volume.h"

namespace lnk {
namespace {

void note(ImageVolumeSearch& search, VolumeNoteKind kind, uint64_t offset = 0, std::string type_name = {}) {
  search.notes.push_back({kind, offset, std::move(type_name)});
}

bool ends_within(const Partition& p, uint64_t image_size) {
  uint64_t end = 0;
  return checked_add(p.start_sector, p.sector_count, end) && checked_mul(end, p.sector_size, end) &&
         end <= image_size;
}

// A partition holds NTFS when its boot sector says so, whatever its type;
// one that starts past the image's end cannot be read, and only its type
// can tell what it would hold.
bool holds_ntfs(ByteSource& image, const Partition& p) {
  if (p.unallocated) return false;
  const uint64_t offset = p.byte_offset();
  if (offset < image.size()) return has_ntfs_boot_sector(image, offset);
  const uint8_t type = static_cast<uint8_t>(p.type & 0xFF);
  return type == kPartitionTypeNtfs || type == kPartitionTypeNtfsVolumeSet;
}

// The walk over the partitions once a table was read.
void choose_partition(ByteSource& image, uint64_t requested_offset, ImageVolumeSearch& search) {
  const uint64_t image_size = image.size();
  uint64_t last_ntfs_offset = 0;
  size_t ntfs_count = 0;
  const Partition* chosen = nullptr;
  const Partition* last_ntfs = nullptr;
  for (const Partition& p : search.partitions) {
    const uint64_t offset = p.byte_offset();
    if (offset == requested_offset) {
      chosen = &p;
      break;
    }
    if (!holds_ntfs(image, p)) continue;
    search.ntfs_found = true;
    last_ntfs_offset = offset;
    last_ntfs = &p;
    ++ntfs_count;
    if (offset >= image_size) note(search, VolumeNoteKind::offset_outside_image, offset);
  }
  if (chosen != nullptr) {
    const std::string name = partition_display_name(*chosen);
    if (holds_ntfs(image, *chosen)) {
      search.ntfs_found = true;
      if (ends_within(*chosen, image_size)) {
        search.success = true;
        return;
      }
      note(search, VolumeNoteKind::selected_ntfs_truncated, requested_offset);
      return;
    }
    note(search, VolumeNoteKind::selected_not_ntfs, requested_offset, name);
  }
  note(search, VolumeNoteKind::partition_listing);
  // With no offset asked for, a single NTFS partition is the only choice;
  // the listing shows which one was taken.
  if (chosen == nullptr && requested_offset == 0 && ntfs_count == 1 && last_ntfs_offset < image_size) {
    search.volume_offset = last_ntfs_offset;
    if (ends_within(*last_ntfs, image_size)) {
      search.success = true;
      note(search, VolumeNoteKind::sole_ntfs_chosen, last_ntfs_offset);
    } else {
      note(search, VolumeNoteKind::selected_ntfs_truncated, last_ntfs_offset);
    }
    return;
  }
  if (search.ntfs_found) {
    search.volume_offset = last_ntfs_offset;
    note(search, VolumeNoteKind::use_offset, last_ntfs_offset);
  } else {
    note(search, VolumeNoteKind::no_ntfs_found);
  }
}

bool lists_offset(const std::vector<Partition>& partitions, uint64_t offset) {
  for (const Partition& p : partitions)
    if (p.byte_offset() == offset) return true;
  return false;
}

}  // namespace

ImageVolumeSearch find_image_volume(ByteSource& image, uint64_t requested_offset) {
  ImageVolumeSearch search;
  search.volume_offset = requested_offset;
  if (image.size() < requested_offset) {
    note(search, VolumeNoteKind::offset_outside_image, requested_offset);
    return search;
  }
  const bool table = read_partition_table(image, false, search.partitions);
  // An offset that holds an NTFS boot sector is taken whether the table
  // lists it or not (the volume of a deleted partition); a listed one is
  // checked against its partition below.
  if (requested_offset != 0 && !lists_offset(search.partitions, requested_offset)) {
    if (has_ntfs_boot_sector(image, requested_offset)) {
      search.ntfs_found = search.success = true;
      return search;
    }
    // Never another volume than the one asked for: without a table the
    // volume at 0 would be; a table's listing below suggests the offset.
    if (!table || search.partitions.empty()) {
      note(search, VolumeNoteKind::no_ntfs_at_offset, requested_offset);
      return search;
    }
  }
  if (!table) {
    if (has_ntfs_boot_sector(image, 0)) {
      search.volume_offset = 0;
      search.ntfs_found = true;
      search.success = true;
      return search;
    }
    if (!read_partition_table(image, true, search.partitions)) {
      note(search, VolumeNoteKind::no_partitions_found);
      return search;
    }
    note(search, VolumeNoteKind::table_questionable);
  }
  if (search.partitions.empty()) {
    note(search, VolumeNoteKind::no_partitions_listed);
    return search;
  }
  choose_partition(image, requested_offset, search);
  return search;
}

}  // namespace lnk

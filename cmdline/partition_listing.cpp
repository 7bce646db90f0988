#include "cmdline/partition_listing.h"

#include "cmdline/container_messages.h"
#include "platform/text.h"

namespace lnk {
namespace {

std::string hex(uint64_t value) { return "0x" + hex_lower(value, 1); }

std::string note_text(const VolumeNote& note, const ImageVolumeSearch& search) {
  switch (note.kind) {
    case VolumeNoteKind::offset_outside_image:
      return "volume offset " + hex(note.offset) + " is not within image bounds\n";
    case VolumeNoteKind::no_partitions_found:
      return "couldn't find any partitions on disk\n";
    case VolumeNoteKind::table_questionable:
      return "disk is corrupted, partition info questionable\n";
    case VolumeNoteKind::no_partitions_listed:
      return "couldn't find any partitions on disk.\n";
    case VolumeNoteKind::selected_not_ntfs:
      return "volume offset selected " + hex(note.offset) + " is not a NTFS partition, but [" + note.type_name + "]\n";
    case VolumeNoteKind::selected_ntfs_truncated:
      return "volume offset " + hex(note.offset) +
             " is a NTFS partition, however image size does not encapsulate entire volume\n";
    case VolumeNoteKind::partition_listing: {
      std::string text = "\n";
      for (const Partition& p : search.partitions) text += render_partition_line(p);
      return text + "\n";
    }
    case VolumeNoteKind::use_offset:
      return "use option [-offset " + hex(note.offset) + "]\n";
    case VolumeNoteKind::no_ntfs_found:
      return "prob detecting ntfs partition\n";
    case VolumeNoteKind::no_ntfs_at_offset:
      return "volume offset " + hex(note.offset) + " holds no NTFS volume: no partition starts there and no NTFS boot sector is there\n";
    case VolumeNoteKind::sole_ntfs_chosen:
      return "scanning the only NTFS partition, at " + hex(note.offset) + "\n";
  }
  return {};
}

std::string open_reason(const VmdkOpenStatus& status) {
  std::string reason;
  switch (status.error) {
    case VmdkOpenError::none:
    case VmdkOpenError::unreadable:
      break;
    case VmdkOpenError::not_vmdk:
      reason = "not a VMware disk: no sparse extent header and no descriptor text";
      break;
    case VmdkOpenError::extent_without_descriptor:
      reason = "one extent of a split VMware disk; give the disk's descriptor file instead";
      break;
    case VmdkOpenError::unsupported_layout:
      reason = "VMware layout not supported: " + status.detail;
      break;
    case VmdkOpenError::bad_header:
      reason = "damaged VMware disk: " + status.detail;
      break;
    case VmdkOpenError::missing_extent:
      return "extent file missing: " + status.extent;
    case VmdkOpenError::needs_zlib:
      reason = "stream-optimized VMware disks need zlib, which this build lacks";
      break;
    case VmdkOpenError::incomplete_stream:
      reason = "stream-optimized VMware disk without its footer (incomplete copy?)";
      break;
  }
  if (!reason.empty() && !status.extent.empty()) reason += " (extent " + status.extent + ")";
  return reason;
}

}  // namespace

std::string render_partition_line(const Partition& partition) {
  return "volume offset [ " + hex(partition.byte_offset()) + " ] : " + partition_display_name(partition) + "\n";
}

std::string render_volume_search(const ImageVolumeSearch& search) {
  std::string text;
  for (const VolumeNote& note : search.notes) text += note_text(note, search);
  return text;
}

std::string render_vmdk_problem(const VmdkProblem& problem) {
  switch (problem.kind) {
    case VmdkProblemKind::none:
      return {};
    case VmdkProblemKind::cannot_open: {
      std::string text = problem.path + " can't be opened\n";
      const std::string reason = open_reason(problem.open);
      return reason.empty() ? text : text + "  " + reason + "\n";
    }
    case VmdkProblemKind::cid_error: {
      std::string text;
      if (!problem.parent_path.empty())
        text = "=> vmdk file: " + problem.path + " names parent " + problem.parent_path +
               ", whose CID does not match\n";
      return text + "Child VMDK CID errors, aborting\n";
    }
    case VmdkProblemKind::depends_on_parent:
      return "=> vmdk file: " + problem.path + "\n depends on parent vmdk " + problem.parent_path + "\n";
    case VmdkProblemKind::missing_parent:
      return "Child VMDK points to a parent VMDK that doesn't exist, aborting\n";
    case VmdkProblemKind::no_memory:
      return "prob creating virtual vmware disk mapping\n";
    case VmdkProblemKind::no_base:
      return "no base disk among the VMware files: each one names a parent\n";
    case VmdkProblemKind::several_bases:
      return problem.path + " and " + problem.parent_path + " are both base disks; give one chain\n";
    case VmdkProblemKind::shared_cid:
      return problem.path + " and " + problem.parent_path + " have the same CID\n";
    case VmdkProblemKind::branched:
      return problem.path + " and " + problem.parent_path +
             " are snapshots of the same parent; give one branch of the chain\n";
  }
  return {};
}

std::string render_vmdk_suggestion(const VmdkSetCheck& check) {
  if (check.suggested.empty()) return {};
  std::string text = "suggested array: -vmdk \"";
  for (size_t i = 0; i < check.suggested.size(); ++i) text += (i == 0 ? "" : " | ") + check.suggested[i];
  return text + "\"";
}

std::string render_image_open_error(const ImageOpenResult& result, const std::string& path) {
  switch (result.error) {
    case ImageOpenError::none:
      return {};
    case ImageOpenError::unreadable:
      return "invalid image: " + path + "\n";
    case ImageOpenError::vmware: {
      if (!result.vmdk_check.ok) {
        const std::string suggestion = render_vmdk_suggestion(result.vmdk_check);
        return render_vmdk_problem(result.vmdk_check.problem) + (suggestion.empty() ? "" : suggestion + "\n");
      }
      return render_vmdk_problem(result.vmdk_problem);
    }
    case ImageOpenError::ewf:
      switch (result.ewf.error) {
        case EwfOpenError::no_library:
          return "E01 support needs libewf, which this build lacks\n";
        case EwfOpenError::incomplete:
          return "invalid image: " + path + "\n  a segment file of the evidence set is missing or cut short\n";
        case EwfOpenError::segments:
          return "invalid image: " + path + "\n  the segment files of the evidence set were not found" +
                 (result.ewf.detail.empty() ? "" : ": " + result.ewf.detail) + "\n";
        default:
          return "invalid image: " + path + (result.ewf.detail.empty() ? "" : "\n  " + result.ewf.detail) + "\n";
      }
    case ImageOpenError::container:
      return render_container_problem(result, path);
  }
  return {};
}

}  // namespace lnk

// Where the records being written come from: the provenance of one source,
// filled by the producer that reads it and only read by the writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lnk {

struct SourceInfo {
  // The path as opened, and as the reports show it (after -alias and
  // -aliaspath). The delimited layouts size the source column by the first.
  std::string opened_path;
  std::string source_path;
  std::string volume_name;
  std::vector<std::string> vmdk_paths;
  std::string vmdk_paths_joined;
  uint64_t source_file_size = 0;
  uint64_t source_modified = 0;
  uint64_t source_accessed = 0;
  uint64_t source_created = 0;
  uint64_t source_mft_changed = 0;
  uint64_t src_inode = 0;
  uint64_t src_seq = 0;
  // The AppID of a jump list and its application's name.
  std::string app_id;
  std::string app_name;
  // The records come from a scan of a volume's MFT.
  bool mft_scan = false;
  // A file found through the MFT: its path in the volume
  // ("[root]\Users\x.lnk"), whether its MFT record is free, and the id of
  // the $DATA attribute read (src_inode and src_seq name its record). Empty
  // for a file named by the user.
  std::string volume_path;
  bool deleted = false;
  uint16_t data_attribute_id = 0;
  // The named $DATA stream the records came from ("x.lnk" of
  // "readme.txt:x.lnk", which volume_path ends in); empty for the unnamed.
  std::string stream;
  // The file's other names (hard links), as paths like volume_path.
  std::vector<std::string> other_paths;
  // Its MFT record was torn (a sector end did not hold the update sequence
  // number) and was read as it is.
  bool damaged_record = false;
  // Records carved from a volume's clusters: the pass that carved them
  // ("Unalloc", "Pagefile", "VSS 0").
  std::string carve_label;
  // The shadow copy whose view of the volume was scanned (1 for the oldest,
  // as vshadowinfo numbers them; 0 for the volume as it is) and when it was
  // taken.
  uint32_t shadow_copy = 0;
  uint64_t shadow_copy_created = 0;
};

}  // namespace lnk

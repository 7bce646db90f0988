// The scan of an NTFS volume through its MFT: every shortcut and jump-list
// file, allocated or deleted, then the optional passes that carve the
// unallocated clusters, the shadow-copy store files and the page file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "carve/record_outlet.h"
#include "core/options.h"
#include "core/source_info.h"
#include "ntfs/ntfs_volume.h"

namespace lnk {

// What kind of file a name in the MFT makes a file.
enum class ScanFileKind { none, shortcut, automatic_jump_list, custom_jump_list };

// By the extension after the last ".", lower-cased: "lnk"; else one that
// holds "ions-ms" and "automatic" or "custom".
ScanFileKind scan_file_kind(const std::string& name);

// What the record pass met and could not read as the file holds it; the
// diagnostic log names each.
struct ScanNotes {
  uint64_t wof_not_decoded = 0;       // chosen files
  uint64_t compression_not_read = 0;  // chosen files
  uint64_t damaged_records = 0;       // torn MFT records, read as they are
  uint64_t bad_records = 0;           // "BAAD" records, not read
};

// One line for standard error per kind of thing noted ("24 files not
// decoded: WOF compression; -diags FILE names them"); none when all was read.
std::vector<std::string> scan_note_lines(const ScanNotes& notes, bool log_given);

// Runs the passes the options ask for over a validated volume: the MFT
// records with -ntfs_scan (or records_by_default, when the run's mode
// scans volumes through their MFT unasked), then the cluster passes. source
// is the provenance of the volume itself (its path or name); each record
// gets a copy filled with its file's size, times and MFT reference; notes,
// when given, gathers what could not be read. False only when the volume
// is not open.
bool scan_volume(NtfsVolume& volume, const SourceInfo& source, const useropts& options, RecordOutlet& outlet,
                 ScanNotes* notes = nullptr, bool records_by_default = false);

}  // namespace lnk

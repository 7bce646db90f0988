// The one road every mode takes once it has its bytes: the volume chosen on
// a disk by one rule, opened and validated, then scanned through its MFT;
// or the bytes carved whole; or a file examined as a file. A mode only
// decides how the bytes are obtained (a named input told by content, a
// VMware disk set, a device, a shadow copy) and what the source is called
// in messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "carve/record_outlet.h"
#include "cmdline/run_outputs.h"
#include "cmdline/run_report.h"
#include "core/options.h"
#include "core/source_info.h"
#include "images/image_open.h"
#include "report/html_report.h"
#include "report/record_writer.h"
#include "storage/byte_source.h"
#include "storage/file_source.h"

namespace lnk {

// How a mode ended: with finish set the run goes through the end-of-run
// steps; otherwise it leaves at once.
struct Ending {
  int status;
  bool finish;
};
constexpr Ending finish_with(int status) { return {status, true}; }
constexpr Ending abort_run() { return {-1, false}; }

// What a run holds besides what the command line asked, which stays as
// it was parsed.
struct Run {
  explicit Run(const useropts& parsed) : options(parsed) {}
  const useropts& options;
  bool administrator = false;
  // Status lines: not under -quiet, and only on a terminal, where each
  // overwrites the last; in a file they would pile up.
  bool progress = false;
  // A mode that reads volumes reads them through their MFT though
  // -ntfs_scan was not given.
  bool volume_scan = false;
  RunOutputs outputs;
  std::unique_ptr<HtmlReport> html;
  std::unique_ptr<RecordWriter> writer;
  std::unique_ptr<RecordOutlet> outlet;
  double start_seconds = 0;
  RunTally tally;
  // Records that reached the results whole.
  uint64_t records_arrived = 0;
  // The inputs are a list (-pipe, or several operands or a folder): each
  // kind of hint is given once, and a file that cannot be read ends nothing.
  bool listed = false;
  bool directory_hinted = false;
  bool no_record_hinted = false;
};

// A source a mode obtained, as the road reads it.
struct Source {
  SourceInfo info;  // provenance the reports show
  std::string name;  // how messages name it
  // A disk the volume is chosen on, or (is_volume) the volume itself.
  std::unique_ptr<ByteSource> bytes;
  bool is_volume = false;
  // Where such a volume starts on its disk, for the reports.
  uint64_t disk_offset = 0;
  // A device the road opens itself as a volume (NtfsOpenMode); 0 when
  // bytes are given.
  uint32_t device_mode = 0;
  // When no NTFS volume can be read from it: this message, then the run
  // ends (abort) or counts the source as unread and goes on.
  std::string unreadable;
  bool abort_when_unreadable = true;
};

// Without -rawscan a mode that reads volumes scans them through their MFT.
void default_to_ntfs_scan(Run& run);
// The volume's start on a disk, for every kind of disk: the offset -offset
// gives when an NTFS boot sector is there, else the one NTFS volume the
// disk holds. False, after the listing that lets the user choose, when
// there is none or more than one.
bool choose_volume(Run& run, ByteSource& disk, uint64_t& start);
// Chooses, opens and validates the volume of source, then scans it.
Ending read_volume(Run& run, Source& source);
// Carves every byte of a source; counted as read.
void carve_whole(Run& run, ByteSource& bytes, const SourceInfo& info);

// Provenance of a file named by the user: the path as opened and as the
// reports show it, its size and times. False when it has none.
bool file_source_info(const useropts& options, const std::string& path, SourceInfo& source);
// A file examined as a file (opened here when file is null); a directory
// or a file that cannot be read is counted as skipped.
void examine_file(Run& run, const std::string& path, const SourceInfo& source, std::unique_ptr<FileSource> file);
// -rawscan over a file: the disk an image holds is carved, not its
// container (opened here when image was not tried).
void carve_file(Run& run, const std::string& path, const SourceInfo& source, ImageOpenResult image);

}  // namespace lnk

#include "cmdline/road.h"

#include <cerrno>
#include <cstdio>

#include "carve/carve_context.h"
#include "carve/process_file.h"
#include "cmdline/options.h"
#include "cmdline/partition_listing.h"
#include "images/image_volume.h"
#include "jumplist/appid_names.h"
#include "ntfs/ntfs_volume.h"
#include "platform/platform.h"
#include "scan/mft_scan.h"

namespace lnk {
namespace {

void route_diagnostics(NtfsVolume& volume, Run& run) {
  volume.set_diag_sink([&run](const std::string& line) { run.outputs.log().write(line); });
}

void hint_directory(Run& run, const std::string& path) {
  ++run.tally.directories;
  if (run.directory_hinted || run.options.quiet) return;
  run.directory_hinted = run.listed;
  std::fputs(directory_hint(path).c_str(), stderr);
}

// The MFT scan of one volume: a source read, and one without records when
// the scan put none out. In CSV the records wait until the scan has met a
// jump list's name or read every MFT record, as the columns follow what the
// volume holds.
void scan_one_volume(Run& run, NtfsVolume& volume, const SourceInfo& source) {
  ++run.tally.sources_read;
  if (run.options.layout == Layout::csv) {
    run.writer->hold_records();
    run.outlet->watch_jump_lists([&run] {
      run.writer->expect_jump_list_records();
      run.writer->release_records();
    });
  }
  const uint32_t before = run.outlet->records_put();
  ScanNotes notes;
  scan_volume(volume, source, run.options, *run.outlet, &notes, run.volume_scan);
  run.outlet->watch_jump_lists(nullptr);
  run.writer->release_records();
  if (run.outlet->records_put() == before) ++run.tally.without_records;
  for (const std::string& line : scan_note_lines(notes, !run.options.diag_log_path.empty()))
    std::fprintf(stderr, "%s\n", line.c_str());
}

// A volume of the source, at start on the bytes given or on the device.
bool open_volume(NtfsVolume& volume, Source& source, uint64_t start) {
  if (source.device_mode != 0) return volume.open_path(source.name, source.device_mode);
  return volume.attach(std::move(source.bytes), start, source.is_volume ? source.disk_offset : start);
}

}  // namespace

void default_to_ntfs_scan(Run& run) {
  if (run.options.ntfs_scan || run.volume_scan) return;
  run.volume_scan = true;
  run.writer->expect_volume_scan();
  std::fputs("defaulting to -ntfs_scan option\n", stderr);
}

// The partitions a search went through are shown even when it chose one
// alone.
bool choose_volume(Run& run, ByteSource& disk, uint64_t& start) {
  const ImageVolumeSearch search = find_image_volume(disk, run.options.volume_offset);
  std::fputs(render_volume_search(search).c_str(), stderr);
  if (!search.success && !(search.volume_offset == 0 && search.ntfs_found)) return false;
  start = search.volume_offset;
  return true;
}

Ending read_volume(Run& run, Source& source) {
  uint64_t start = 0;
  if (source.bytes && !source.is_volume && !choose_volume(run, *source.bytes, start)) return abort_run();
  NtfsVolume volume;
  route_diagnostics(volume, run);
  if (!open_volume(volume, source, start) || !volume.validate()) {
    std::fputs(source.unreadable.c_str(), stderr);
    if (source.abort_when_unreadable) return abort_run();
    run.tally.count_unreadable(source.name);
    return finish_with(0);
  }
  // Offsets name places on the disk only when the partition's start is known.
  if (source.device_mode == kOpenVolumeLetter && !volume.disk()->geometry().partition_note.empty())
    std::fprintf(stderr, "%s\n", volume.disk()->geometry().partition_note.c_str());
  scan_one_volume(run, volume, source.info);
  return finish_with(0);
}

void carve_whole(Run& run, ByteSource& bytes, const SourceInfo& info) {
  ++run.tally.sources_read;
  if (!carve_source(bytes, info, *run.outlet)) ++run.tally.without_records;
}

bool file_source_info(const useropts& o, const std::string& path, SourceInfo& source) {
  source = SourceInfo{};
  source.opened_path = path;
  source.source_path = map_alias_path(o, path);
  platform::FileStatus status;
  if (!platform::file_status(path, status)) return false;
  source.source_file_size = status.size;
  source.source_created = status.created;
  source.source_modified = status.modified;
  source.source_accessed = status.accessed;
  name_jump_list_application(path, source);
  return true;
}

// A file that gave no record gets a hint at the next step, once a run.
void hint_no_record(Run& run, const std::string& path, ByteSource& file) {
  ++run.tally.without_records;
  if (run.no_record_hinted || run.options.quiet) return;
  ImageContainer container = ImageContainer::raw;
  const bool disk = holds_disk_image(file, container);
  const std::string hint = no_record_hint(path, file.size(), run.options, disk ? &container : nullptr);
  if (hint.empty()) return;
  run.no_record_hinted = run.listed;
  std::fputs(hint.c_str(), stderr);
}

void examine_file(Run& run, const std::string& path, const SourceInfo& source, std::unique_ptr<FileSource> file) {
  const useropts& o = run.options;
  if (platform::is_directory(path)) {
    hint_directory(run, path);
    return;
  }
  errno = 0;
  if (!file) file = FileSource::open(path);
  if (!file) {
    const std::string reason = platform::open_failure_text(errno);
    run.tally.count_unreadable(path);
    std::fprintf(stderr, run.listed ? "prob accessing file %s: %s\n" : "can't read specified file: %s: %s, aborting\n",
                 path.c_str(), reason.c_str());
    return;
  }
  ++run.tally.sources_read;
  ImageContainer container = ImageContainer::raw;
  if (o.deepscan && holds_disk_image(*file, container))
    std::fputs(deepscan_container_note(path, container).c_str(), stderr);
  const uint32_t before = run.outlet->records_put();
  FileProvenance provenance;
  provenance.source = source;
  process_file_bytes(*file, provenance, o, *run.outlet);
  if (run.outlet->records_put() == before) hint_no_record(run, path, *file);
}

void carve_file(Run& run, const std::string& path, const SourceInfo& source, ImageOpenResult image) {
  if (platform::is_directory(path)) {
    std::fprintf(stderr, "problem reading %s, aborting\n", path.c_str());
    hint_directory(run, path);
    return;
  }
  if (!image.source && image.ok()) image = open_image_by_content(path);
  if (!image.ok()) {
    if (image.container == ImageContainer::raw)
      std::fprintf(stderr, "problem reading %s, aborting\n", path.c_str());
    else
      std::fputs(render_image_open_error(image, path).c_str(), stderr);
    run.tally.count_unreadable(path);
    return;
  }
  carve_whole(run, *image.source, source);
}

}  // namespace lnk

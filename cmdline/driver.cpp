#include "cmdline/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <memory>

#include "carve/carve_context.h"
#include "carve/process_file.h"
#include "carve/record_outlet.h"
#include "carve/status_line.h"
#include "cmdline/diag_log.h"
#include "cmdline/evidence_guard.h"
#include "cmdline/option_check.h"
#include "cmdline/options.h"
#include "cmdline/pipe_input.h"
#include "cmdline/run_header.h"
#include "cmdline/run_report.h"
#include "cmdline/usage.h"
#include "cmdline/version_text.h"
#include "core/options.h"
#include "core/source_info.h"
#include "images/image_open.h"
#include "images/image_volume.h"
#include "cmdline/partition_listing.h"
#include "ntfs/ntfs_volume.h"
#include "scan/mft_scan.h"
#include "jumplist/appid_names.h"
#include "platform/pending_file.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/output_sink.h"
#include "report/html_report.h"
#include "report/record_writer.h"
#include "report/text_report.h"
#include "storage/disk_source.h"
#include "storage/file_source.h"
#include "storage/read_ahead.h"
#include "storage/vss_source.h"
#include "storage/window_source.h"

namespace lnk {

namespace {

constexpr int kStatusLineWidth = 60;
constexpr size_t kStatusNameChars = 30;

// How a mode ended: with finish set the run goes through the end-of-run
// steps; otherwise it leaves at once.
struct Ending {
  int status;
  bool finish;
};
constexpr Ending finish_with(int status) { return {status, true}; }
constexpr Ending abort_run() { return {-1, false}; }

// The carver reads a device front to back, so it is opened for sequential
// access; the MFT scan jumps about and opens its own.
bool open_raw_device(DiskSource& source, const std::string& path, uint32_t kind) {
  return source.open_path(path, kind, true);
}


// A volume's start inside a VMware disk: the user's -offset, else the first
// partition the disk's table names, else the disk's start.
uint64_t vmware_volume_start(DiskSource& disk, uint64_t requested) {
  if (requested >= 1 && requested != UINT64_MAX) return requested;
  // The one NTFS partition wherever it is in the table, as an image names it.
  if (const ImageVolumeSearch search = find_image_volume(disk, 0); search.success) return search.volume_offset;
  const std::vector<uint64_t> starts = detect_partition_starts(disk);
  return starts.empty() ? 0 : starts.front();
}

// The mode the command line asks for, with its inputs, settled before the
// results file is opened so that it can be checked against them.
enum class Mode { shadow_copy, partition, vmdk, pipe, single_input, usage };

struct Plan {
  Mode mode = Mode::usage;
  std::string value;                   // -vss index, -partition drive, single input
  std::vector<std::string> vmdk_paths;
  std::vector<std::string> piped_names;
  std::string image;  // -vss: the image whose volume's shadow copies are read
};

// What a run holds besides what the command line asked.
struct Run {
  useropts options;
  ArgList args;
  bool administrator = false;
  // Status lines: not under -quiet, and only on a terminal, where each
  // overwrites the last; in a file they would pile up.
  bool progress = false;
  OutputSink output;
  DiagLog diag;
  std::unique_ptr<RecordWriter> writer;
  std::unique_ptr<RecordOutlet> outlet;
  OutputSink html_output;
  std::unique_ptr<HtmlReport> html;
  double start_seconds = 0;
  RunTally tally;
  // Records that reached the results whole.
  uint64_t records_arrived = 0;
  // In a -pipe run each kind of hint is given once.
  bool directory_hinted = false;
  bool no_record_hinted = false;

  // Ends the run (OutputFailure) once a write of the results failed.
  void check_output() const {
    if (output.failed()) throw OutputFailure{output.name(), output.error()};
    if (html_output.failed()) throw OutputFailure{html_output.name(), html_output.error()};
  }
};

void route_diagnostics(NtfsVolume& volume, Run& run) {
  volume.set_diag_sink([&run](const std::string& line) { run.diag.write(line); });
}

bool is_help_request(const ArgList& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string a = to_lower_ascii(args[i]);
    if (a == "-h" || a == "-help" || a == "/?" || a == "--help") return true;
  }
  return false;
}

bool is_version_request(const ArgList& args) {
  for (size_t i = 1; i < args.size(); ++i)
    if (to_lower_ascii(args[i]) == "--version") return true;
  return false;
}

void hint_directory(Run& run, const std::string& path) {
  ++run.tally.directories;
  if (run.directory_hinted || run.options.quiet) return;
  run.directory_hinted = run.options.pipe;
  std::fputs(directory_hint(path).c_str(), stderr);
}

// A file that opens is examined; a directory or a file that cannot be read
// is counted as skipped, with a message when the command line named it.
void examine_file(Run& run, const std::string& path, const SourceInfo& source) {
  const useropts& o = run.options;
  if (platform::is_directory(path)) {
    hint_directory(run, path);
    return;
  }
  std::unique_ptr<FileSource> file = FileSource::open(path);
  if (!file) {
    run.tally.count_unreadable(path);
    if (o.pipe)
      std::fprintf(stderr, "prob accessing file %s\n", path.c_str());
    else
      std::fprintf(stderr, "can't read specified file: %s, aborting\n", path.c_str());
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
  if (run.outlet->records_put() != before) return;
  ++run.tally.without_records;
  if (run.no_record_hinted || o.quiet) return;
  const bool disk = holds_disk_image(*file, container);
  const std::string hint = no_record_hint(path, file->size(), o, disk ? &container : nullptr);
  if (hint.empty()) return;
  run.no_record_hinted = o.pipe;
  std::fputs(hint.c_str(), stderr);
}

// -rawscan over a file: the whole file is carved.
// The disk a VMware or E01 file holds is carved, not its container.
void carve_file(Run& run, const std::string& path, const SourceInfo& source) {
  if (platform::is_directory(path)) {
    std::fprintf(stderr, "problem reading %s, aborting\n", path.c_str());
    hint_directory(run, path);
    return;
  }
  ImageOpenResult image = open_image_by_content(path);
  if (!image.ok()) {
    if (image.container == ImageContainer::raw)
      std::fprintf(stderr, "problem reading %s, aborting\n", path.c_str());
    else
      std::fputs(render_image_open_error(image, path).c_str(), stderr);
    run.tally.count_unreadable(path);
    return;
  }
  ++run.tally.sources_read;
  if (!carve_source(*image.source, source, *run.outlet)) ++run.tally.without_records;
}

// Provenance of a file named by the user: the path as opened and as the
// reports show it, its size and times.
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

// The same for the one input a run is about; false once it said why not.
bool named_input_info(Run& run, const std::string& path, SourceInfo& source) {
  if (file_source_info(run.options, path, source)) return true;
  std::fprintf(stderr, "can't read specified file: %s, aborting\n", path.c_str());
  run.tally.count_unreadable(path);
  return false;
}

// The partitions a search went through are shown even when it chose one
// alone; false (with the reason shown) when there is no volume to scan.
bool volume_search_usable(const ImageVolumeSearch& search) {
  std::fputs(render_volume_search(search).c_str(), stderr);
  return search.success || (search.volume_offset == 0 && search.ntfs_found);
}

void default_to_ntfs_scan(useropts& o) {
  if (o.ntfs_scan) return;
  o.ntfs_scan = true;
  std::fputs("defaulting to -ntfs_scan option\n", stderr);
}

// The MFT scan of one volume: a source read, and one without records when
// the scan put none out.
void scan_volume_counted(Run& run, NtfsVolume& volume, const SourceInfo& source) {
  ++run.tally.sources_read;
  // The CSV columns follow what the volume holds: a first walk of its MFT
  // looks for a jump list's name, quietly, as the scan logs what it meets.
  if (run.options.layout == Layout::csv && run.options.ntfs_scan) {
    volume.set_diag_sink(nullptr);
    if (volume_names_jump_list(volume)) run.writer->expect_jump_list_records();
    route_diagnostics(volume, run);
  }
  const uint32_t before = run.outlet->records_put();
  ScanNotes notes;
  scan_volume(volume, source, run.options, *run.outlet, &notes);
  if (run.outlet->records_put() == before) ++run.tally.without_records;
  for (const std::string& line : scan_note_lines(notes, !run.options.diag_log_path.empty()))
    std::fprintf(stderr, "%s\n", line.c_str());
}

// Linux has no shadow-copy devices; there -vss reads the copies an image's
// volume keeps: "-vss N" the Nth oldest, "-vss all" each in turn.
Ending scan_image_shadow_copies(Run& run, const std::string& index, const std::string& path) {
  useropts& o = run.options;
  SourceInfo source;
  if (!named_input_info(run, path, source)) return finish_with(0);
  ImageOpenResult image = open_image_by_content(path);
  if (!image.ok()) {
    std::fputs(render_image_open_error(image, path).c_str(), stderr);
    return abort_run();
  }
  const ImageVolumeSearch search = find_image_volume(*image.source, o.volume_offset);
  if (!volume_search_usable(search)) return abort_run();
  WindowSource volume_bytes(*image.source, search.volume_offset, UINT64_MAX);
  ShadowVolume shadows;
  ShadowStatus status = shadows.open(volume_bytes);
  if (!status.ok() || shadows.stores().empty()) {
    if (status.ok()) std::fprintf(stderr, "%s holds no shadow copies\n", path.c_str());
    else std::fprintf(stderr, "%s\n", shadow_error_text(status).c_str());
    run.tally.count_unreadable(path);
    return finish_with(0);
  }
  if (shadows.catalog_damaged())
    std::fprintf(stderr, "the shadow-copy catalog of %s is damaged: copies listed past the damage are missing\n",
                 path.c_str());
  std::vector<uint32_t> numbers;
  const uint32_t count = static_cast<uint32_t>(shadows.stores().size());
  if (to_lower_ascii(index) == "all") {
    for (uint32_t n = 1; n <= count; ++n) numbers.push_back(n);
  } else {
    uint64_t number = 0;
    if (!parse_number(index, number) || number == 0 || number > count) {
      std::fprintf(stderr, "shadow copy %s does not exist: %s holds %u (1 is the oldest)\n", index.c_str(),
                   path.c_str(), count);
      run.tally.count_unreadable("shadow copy " + index + " of " + path);
      return finish_with(0);
    }
    numbers.push_back(static_cast<uint32_t>(number));
  }
  if (!o.rawscan) default_to_ntfs_scan(o);
  for (uint32_t number : numbers) {
    std::unique_ptr<ShadowStoreSource> store = shadows.open_store(number, status);
    if (!store) {
      std::fprintf(stderr, "%s\n", shadow_error_text(status).c_str());
      run.tally.count_unreadable("shadow copy " + std::to_string(number) + " of " + path);
      continue;
    }
    SourceInfo copy = source;
    copy.shadow_copy = number;
    copy.shadow_copy_created = store->info().creation_time;
    if (!o.quiet) {
      const std::string created = report_date_time(copy.shadow_copy_created, o, false);
      std::fprintf(stderr, "shadow copy %u of %u, created %s\n", number, count, created.c_str());
    }
    // Its view, or a later one it reads through, lost entries to damage:
    // the blocks they named read as a later copy or the live volume holds them.
    if (store->info().damaged)
      std::fprintf(stderr, "shadow copy %u of %s is damaged: blocks that damaged store lists no longer name read "
                   "as a later copy or the live volume holds them\n", number, path.c_str());
    if (o.rawscan) {
      ++run.tally.sources_read;
      if (!carve_source(*store, copy, *run.outlet)) ++run.tally.without_records;
      continue;
    }
    NtfsVolume volume;
    route_diagnostics(volume, run);
    if (!volume.attach(std::move(store), 0, search.volume_offset) || !volume.validate()) {
      std::fprintf(stderr, "prob validating shadow copy %u of %s as a NTFS partition\n", number, path.c_str());
      run.tally.count_unreadable("shadow copy " + std::to_string(number) + " of " + path);
      continue;
    }
    scan_volume_counted(run, volume, copy);
  }
  return finish_with(0);
}

Ending run_shadow_copy(Run& run, const std::string& index, const std::string& image) {
  useropts& o = run.options;
  if (!image.empty()) return scan_image_shadow_copies(run, index, image);
  if (!run.administrator) {
    std::fputs("need to have admin privs for this option, aborting\n", stderr);
    return abort_run();
  }
  SourceInfo source;
  source.volume_name = std::string(kShadowCopyPrefix) + index;
  if (!o.rawscan) {
    default_to_ntfs_scan(o);
    NtfsVolume volume;
    route_diagnostics(volume, run);
    if (!volume.open_path(source.volume_name, kOpenDevicePath) || !volume.validate()) {
      std::fprintf(stderr, "prob validating volume %s as a NTFS partition, aborting...\n",
                   source.volume_name.c_str());
      run.tally.count_unreadable(source.volume_name);
      return finish_with(0);
    }
    scan_volume_counted(run, volume, source);
    return finish_with(0);
  }
  DiskSource disk;
  if (!open_raw_device(disk, source.volume_name, kSourceDevicePath)) {
    std::fprintf(stderr, "problem reading %s, aborting\n", source.volume_name.c_str());
    return abort_run();
  }
  std::fprintf(stderr, "partition: %s [using large file scan]\n", source.volume_name.c_str());
  ++run.tally.sources_read;
  if (!carve_source(disk, source, *run.outlet)) ++run.tally.without_records;
  return finish_with(0);
}

Ending run_partition(Run& run, const std::string& drive) {
  useropts& o = run.options;
  SourceInfo source;
  source.volume_name = drive;
  if (o.deepscan) {
    std::fputs("can't use option [-deepscan] with partitions\n", stderr);
    return abort_run();
  }
  if (!run.administrator) {
    std::fputs("need to have admin privs for this option, aborting\n", stderr);
    return abort_run();
  }
  if (o.rawscan) {
    DiskSource disk;
    if (!open_raw_device(disk, source.volume_name, kSourceVolumeLetter)) {
      std::fprintf(stderr, "problem reading %s, aborting\n", source.volume_name.c_str());
      return abort_run();
    }
    std::fprintf(stderr, "partition: %s [using large file scan]\n", source.volume_name.c_str());
    ++run.tally.sources_read;
    if (!carve_source(disk, source, *run.outlet)) ++run.tally.without_records;
    return finish_with(0);
  }
  default_to_ntfs_scan(o);
  NtfsVolume volume;
  route_diagnostics(volume, run);
  if (!volume.open_path(source.volume_name, kOpenVolumeLetter) || !volume.validate()) {
    std::fprintf(stderr, "problem reading %s, aborting\n", source.volume_name.c_str());
    return abort_run();
  }
  // Offsets name places on the disk only when the partition's start is known.
  if (const std::string& note = volume.disk()->geometry().partition_note; !note.empty())
    std::fprintf(stderr, "%s\n", note.c_str());
  scan_volume_counted(run, volume, source);
  return finish_with(0);
}

std::vector<std::string> split_vmdk_list(const std::string& value) {
  char separator = 0;
  for (char c : {'|', ',', ';'}) {
    if (value.find(c) != std::string::npos) {
      separator = c;
      break;
    }
  }
  std::vector<std::string> names;
  auto add_trimmed = [&names](const std::string& piece) {
    const char* blanks = " \t\r\n";
    size_t first = piece.find_first_not_of(blanks);
    if (first == std::string::npos) return;
    names.push_back(piece.substr(first, piece.find_last_not_of(blanks) - first + 1));
  };
  if (separator == 0) {
    add_trimmed(value);
    return names;
  }
  size_t start = 0;
  while (start <= value.size()) {
    size_t at = value.find(separator, start);
    if (at == std::string::npos) at = value.size();
    add_trimmed(value.substr(start, at - start));
    start = at + 1;
  }
  return names;
}

std::string join_with(const std::vector<std::string>& names, const char* separator) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) text += separator;
    text += names[i];
  }
  return text;
}

Ending run_vmdk(Run& run, const std::vector<std::string>& vmdk_paths) {
  useropts& o = run.options;
  SourceInfo source;
  source.vmdk_paths = vmdk_paths;
  if (o.deepscan) {
    std::fputs("can't use option [-deepscan] with VMWare disks\n", stdout);
    std::fflush(stdout);
    return abort_run();
  }
  const VmdkSetCheck check = check_vmdk_set(vmdk_paths);
  if (!check.ok) {
    std::fputs(render_vmdk_problem(check.problem).c_str(), stderr);
    const std::string suggestion = render_vmdk_suggestion(check);
    if (!suggestion.empty()) std::fprintf(stderr, "%s\n", suggestion.c_str());
    return abort_run();
  }
  auto disk = std::make_unique<DiskSource>();
  VmdkProblem problem;
  const bool attached = disk->attach_vmdk(vmdk_paths, problem);
  if (!o.rawscan) {
    default_to_ntfs_scan(o);
    NtfsVolume volume;
    route_diagnostics(volume, run);
    bool valid = false;
    if (attached) {
      const uint64_t start = vmware_volume_start(*disk, o.volume_offset);
      disk->set_chain_volume(start, 0);
      valid = volume.attach(std::move(disk), start, start) && volume.validate();
    }
    if (!valid) {
      std::fprintf(stderr, "problem reading %s, aborting\n", join_with(vmdk_paths, "; ").c_str());
      return abort_run();
    }
    scan_volume_counted(run, volume, source);
    return finish_with(0);
  }
  if (!attached) {
    std::fputs("problem reading vmdk[s], aborting\n", stderr);
    std::fputs(render_vmdk_problem(problem).c_str(), stderr);
    return abort_run();
  }
  source.volume_name = join_with(vmdk_paths, "; ");
  run.writer->announce_disk_carve(source.volume_name);
  carve_source(*disk, source, *run.outlet);
  return finish_with(0);
}

// The status line shows at most kStatusNameChars characters of the name and
// no "%", which the status line would read as a format directive.
std::string status_name(const std::string& file_name) {
  std::string shown;
  size_t characters = 0;
  for (size_t i = 0; i < file_name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(file_name[i]);
    if (c == '%') continue;
    const bool starts_character = (c & 0xC0) != 0x80;
    if (starts_character && characters++ == kStatusNameChars) break;
    shown += file_name[i];
  }
  return shown;
}

void examine_piped_file(Run& run, const std::string& name, bool& first_file) {
  const useropts& o = run.options;
  std::string directory, file_name;
  if (!split_path(name, directory, file_name)) {
    std::fprintf(stderr, "prob accessing file %s\n", name.c_str());
    run.tally.count_unreadable(name);
    return;
  }
  SourceInfo source;
  if (!file_source_info(o, name, source)) {
    std::fprintf(stderr, "prob accessing file %s\n", name.c_str());
    run.tally.count_unreadable(name);
    return;
  }
  if (first_file) {
    first_file = false;
    if (o.rawscan) run.writer->announce_list_carve(name);
  }
  if (!o.quiet) run.diag.write(name);
  if (run.progress) status_line(kStatusLineWidth, "analyzing: %s", status_name(file_name).c_str());
  if (o.rawscan) {
    carve_file(run, name, source);
    return;
  }
  examine_file(run, name, source);
}

Ending run_pipe(Run& run, const std::vector<std::string>& names) {
  bool first_file = true;
  for (const std::string& name : names) {
    try {
      examine_piped_file(run, name, first_file);
    } catch (const OutputFailure&) {
      throw;
    } catch (...) {
      std::fprintf(stderr, "exception caught on file %s\n", name.c_str());
      ++run.tally.exceptions;
    }
  }
  if (run.progress) status_line(kStatusLineWidth, " ");
  return finish_with(0);
}

// The NTFS volume of an image file (raw, VMware or E01, told by content):
// the whole image, the partition -offset names, or the one the partition
// table makes clear. False when the run must end with status -1.
bool scan_image(Run& run, const std::string& path, const SourceInfo& source) {
  useropts& o = run.options;
  ImageOpenResult image = open_image_by_content(path);
  if (!image.ok()) {
    std::fputs(render_image_open_error(image, path).c_str(), stderr);
    return false;
  }
  const ImageVolumeSearch search = find_image_volume(*image.source, o.volume_offset);
  if (!volume_search_usable(search)) return false;
  o.volume_offset = search.volume_offset;
  NtfsVolume volume;
  route_diagnostics(volume, run);
  const DiskSource* disk = image.disk_source();
  const bool opened = disk != nullptr && disk->kind() == kSourceImageFile
                          ? volume.open_image(path, o.volume_offset)
                          : volume.attach(std::move(image.source), o.volume_offset, o.volume_offset);
  if (!opened || !volume.validate()) {
    std::fprintf(stderr, "problem reading %s, aborting\n", source.volume_name.c_str());
    return false;
  }
  scan_volume_counted(run, volume, source);
  return true;
}

Ending run_single_input(Run& run, const std::string& path) {
  useropts& o = run.options;
  SourceInfo source;
  if (!named_input_info(run, path, source)) return finish_with(0);
  if (o.layout == Layout::csv && o.rawscan) std::fprintf(stderr, "file: %s [using large file scan]\n", path.c_str());
  try {
    if (o.rawscan) {
      carve_file(run, path, source);
    } else if (o.ntfs_scan) {
      if (!scan_image(run, path, source)) return abort_run();
    } else {
      examine_file(run, path, source);
    }
    run.writer->end_input();
    run.check_output();
  } catch (const OutputFailure&) {
    throw;
  } catch (...) {
    std::fprintf(stderr, "exception caught on file %s\n", path.c_str());
    ++run.tally.exceptions;
  }
  return finish_with(0);
}

// Takes the mode's own options out of the argument list and reads the file
// list of -pipe, so every input is known before anything is written. The
// words after "--" are names only: they join the list once no option is
// left to take.
Plan make_plan(Run& run, const ArgList& operands) {
  Plan plan;
  std::string value;
  if (take_value("-vss", value, run.args)) {
    plan.mode = Mode::shadow_copy;
    plan.value = value;
  } else if (take_value("-partition", value, run.args)) {
    plan.mode = Mode::partition;
    plan.value = value;
  } else if (take_value("-vmdk", value, run.args)) {
    plan.vmdk_paths = split_vmdk_list(value);
    while (take_value("-vmdk", value, run.args)) plan.vmdk_paths.push_back(value);
    if (!plan.vmdk_paths.empty()) plan.mode = Mode::vmdk;
  }
  run.args.insert(run.args.end(), operands.begin(), operands.end());
  if (plan.mode == Mode::shadow_copy) {
    if (run.args.size() >= 2) plan.image = expand_path(run.args[1], true);
    return plan;
  }
  if (plan.mode != Mode::usage) return plan;
  if (run.options.pipe) {
    plan.mode = Mode::pipe;
    LineReader reader(stdin);
    std::string name;
    while (next_pipe_name(reader, run.options, name)) plan.piped_names.push_back(name);
    return plan;
  }
  if (run.args.size() >= 2) {
    plan.mode = Mode::single_input;
    plan.value = expand_path(run.args[1], true);
  }
  return plan;
}

// Every file the run reads: an image's segments and parent disks too.
std::vector<std::string> plan_inputs(const Plan& plan) {
  switch (plan.mode) {
    case Mode::partition: return {plan.value};
    case Mode::single_input: return image_evidence_files(plan.value);
    case Mode::vmdk: return plan.vmdk_paths;
    case Mode::pipe: return plan.piped_names;
    case Mode::shadow_copy:
      if (!plan.image.empty()) return image_evidence_files(plan.image);
      break;
    case Mode::usage: break;
  }
  return {};
}

Ending run_plan(Run& run, const Plan& plan) {
  switch (plan.mode) {
    case Mode::shadow_copy: return run_shadow_copy(run, plan.value, plan.image);
    case Mode::partition: return run_partition(run, plan.value);
    case Mode::vmdk: return run_vmdk(run, plan.vmdk_paths);
    case Mode::pipe: return run_pipe(run, plan.piped_names);
    case Mode::single_input: return run_single_input(run, plan.value);
    case Mode::usage: break;
  }
  print_usage(run.args.empty() ? std::string() : run.args[0]);
  return finish_with(-1);
}

// One message for an output that cannot be written, with the system's reason.
void report_unwritten(const std::string& output, int error) {
  std::fprintf(stderr, "prob writing %s: %s, aborting\n", output.c_str(), platform::error_text(error).c_str());
}

// Text asked for on standard output (the usage, the version) that did not
// all arrive fails the run, unless its reader went away.
int standard_output_status() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  const int error = errno != 0 ? errno : EIO;
  if (error != EPIPE) report_unwritten("standard output", error);
  return -1;
}

// What the run wrote takes its place only at the end of a run that went
// well, and never over a file the run read; otherwise the new files are
// removed and whatever the targets held stays.
int settle_outputs(Run& run, int status) {
  std::vector<const platform::PendingFile*> outputs{&run.output.pending(), &run.html_output.pending(),
                                                    &run.diag.pending()};
  for (const platform::PendingFile& dump : run.outlet->pending_dumps()) outputs.push_back(&dump);
  if (!run.output.pending().active()) run.output.flush();
  if (!outputs_spare_reads(outputs, run.options.carve_dump_dir_named)) return -1;
  if (status != 0) return status;
  if (run.output.pending().active()) {
    // Results that did not all arrive never replace earlier ones.
    if (!run.output.commit()) {
      if (run.output.failed()) report_unwritten(run.output.name(), run.output.error());
      else std::fprintf(stderr, "prob opening file %s for output, aborting\n", run.options.output_path.c_str());
      return -1;
    }
  }
  if (run.html_output.pending().active() && !run.html_output.commit()) {
    if (run.html_output.failed()) report_unwritten(run.html_output.name(), run.html_output.error());
    else std::fprintf(stderr, "prob opening file %s for output, aborting\n", run.options.html_path.c_str());
    return -1;
  }
  run.diag.commit();
  run.outlet->commit_dumps();
  return status;
}

int end_run(Run& run, const Plan& plan, int status) {
  if (run.options.profile)
    std::fprintf(stderr, "%f secs \n", platform::monotonic_seconds() - run.start_seconds);
  if (plan.mode != Mode::usage && !run.options.quiet) {
    run.tally.records_written = run.records_arrived;
    run.tally.with_anomalies = run.writer ? run.writer->records_with_anomalies() : 0;
    std::fputs(summary_line(run.tally).c_str(), stderr);
  }
  if (!run.options.event_name.empty()) platform::signal_named_event(run.options.event_name);
  return status;
}

}  // namespace

int run_rook(std::vector<std::string> args) {
  Run run;
  run.args = std::move(args);
  run.options.command_line_text = join_arguments(run.args, '"');

  if (run.args.size() <= 1) {
    print_usage(run.args.empty() ? std::string() : run.args[0]);
    return 0;
  }
  const CommandLineCheck check = check_command_line(run.args);
  const ArgList operands(run.args.begin() + static_cast<std::ptrdiff_t>(std::min(check.end_of_options + 1, run.args.size())),
                         run.args.end());
  const std::string header = build_run_header(run.args, kRookVersion);
  run.args.resize(check.end_of_options);
  errno = 0;
  if (is_help_request(run.args)) {
    print_usage(run.args[0], true);
    return standard_output_status();
  }
  if (is_version_request(run.args)) {
    std::fputs(version_text().c_str(), stdout);
    return standard_output_status();
  }
  if (!check.problem.empty()) {
    std::fputs(check.problem.c_str(), stderr);
    return -1;
  }

  run.administrator = platform::is_administrator();
  if (!run.administrator) std::fputs("... running w/o admin privileges ...\n", stderr);
  platform::disable_file_system_redirection();

  if (!parse_useropts(run.options, run.args)) return -1;
  set_decode_threads(run.options.thread_count);
  if (run.options.profile) run.start_seconds = platform::monotonic_seconds();
  run.progress = !run.options.quiet && platform::stderr_is_terminal();

  const Plan plan = make_plan(run, operands);
  for (const std::string& warning : unused_word_warnings(run.args, plan.mode == Mode::single_input || !plan.image.empty()))
    std::fputs(warning.c_str(), stderr);
  const std::vector<std::string> inputs = plan_inputs(plan);
  if (!outputs_spare_inputs(run.options, inputs)) return -1;

  // Without an input the command line was most likely mistyped (a forgotten
  // results-file name takes the input's place): the results file is left as
  // it is and only the usage is shown.
  const bool writes_results = run.options.output_path_given && plan.mode != Mode::usage;
  if (writes_results && !run.output.open_file(run.options.output_path)) {
    report_unwritten(run.output.name(), run.output.error());
    return -1;
  }
  if (plan.mode != Mode::usage && !run.options.diag_log_path.empty() &&
      !run.diag.open(run.options.diag_log_path, run.options.command_line_text)) {
    report_unwritten(run.options.diag_log_path, run.diag.error());
    return -1;
  }

  run.writer = std::make_unique<RecordWriter>(run.output, run.options);
  if (!run.options.html_path.empty() && plan.mode != Mode::usage) {
    run.html_output.open_file(run.options.html_path);
    run.html = std::make_unique<HtmlReport>(run.html_output.stream(), run.options);
    run.writer->also_write_html(*run.html);
  }
  // The CSV columns are chosen from every file of a -pipe list, not only
  // from the record that comes first.
  if (run.options.layout == Layout::csv && plan.mode == Mode::pipe && !run.options.rawscan &&
      any_file_holds_jump_list(plan.piped_names))
    run.writer->expect_jump_list_records();
  run.outlet = std::make_unique<RecordOutlet>(
      [&run](const LnkRecord& record, const SourceInfo& source) {
        const bool written = run.writer->write(record, source);
        run.check_output();
        if (written) ++run.records_arrived;
        else ++run.tally.left_out;
      },
      run.options.carve_dump_dir);
  run.outlet->set_progress(run.progress);

  // A write that fails ends the run there; a reader that went away (a
  // pipe into head) ends it without a word.
  Ending ending = abort_run();
  try {
    if (!run.options.output_path_given || writes_results) run.writer->begin_run(header);
    run.check_output();
    ending = run_plan(run, plan);
    if (ending.finish) {
      run.writer->end_run();
      run.check_output();
    }
  } catch (const OutputFailure& failure) {
    if (run.progress) status_line(kStatusLineWidth, " ");
    ending = {-1, failure.error != EPIPE};
    if (failure.error != EPIPE) report_unwritten(failure.output, failure.error);
  }
  if (!ending.finish) return settle_outputs(run, ending.status);

  std::fputs(run.writer->lost_fields_notice().c_str(), stderr);

  // Status 0 only when every input named was read; what was read is kept
  // all the same.
  const bool missed = run.tally.unreadable + run.tally.exceptions != 0 ||
                      (plan.mode != Mode::pipe && run.tally.directories != 0);
  const bool results_in_file = run.output.pending().active();
  const int settled = settle_outputs(run, missed && run.tally.sources_read == 0 ? -1 : ending.status);
  if (settled != 0 && results_in_file) run.records_arrived = 0;
  return end_run(run, plan, settled == 0 && missed ? -1 : settled);
}

}  // namespace lnk

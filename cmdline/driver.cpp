#include "cmdline/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "carve/process_file.h"
#include "carve/status_line.h"
#include "cmdline/option_check.h"
#include "cmdline/options.h"
#include "cmdline/partition_listing.h"
#include "cmdline/pipe_input.h"
#include "cmdline/road.h"
#include "cmdline/run_header.h"
#include "cmdline/usage.h"
#include "cmdline/version_text.h"
#include "ntfs/ntfs_volume.h"
#include "platform/folder_walk.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/text_report.h"
#include "storage/disk_source.h"
#include "storage/read_ahead.h"
#include "storage/vss_source.h"
#include "storage/window_source.h"

namespace lnk {

namespace {

constexpr int kStatusLineWidth = 60;
constexpr size_t kStatusNameChars = 30;

// The mode the command line asks for, with its inputs, settled before any
// output is created so that every output can be checked against them.
enum class Mode { shadow_copy, partition, vmdk, pipe, single_input, usage };

struct Plan {
  Mode mode = Mode::usage;
  std::string value;  // -vss index, -partition drive, single input
  std::vector<std::string> vmdk_paths;
  std::vector<std::string> piped_names;
  // The names came as operands (several, or a folder walked), not -pipe.
  bool operands = false;
  std::vector<std::string> unused_options;
  // Folders among them that could not be listed, with the system's reason.
  std::vector<std::pair<std::string, std::string>> unlisted;
  std::string image;  // -vss: the image whose volume's shadow copies are read
};

// What a mode opened before the outputs were checked, so that they are
// checked against the files it reads; opened once and read from there.
struct Opened {
  ImageOpenResult image;            // a disk image, told by its content
  std::unique_ptr<FileSource> file;  // a file examined as a file
  VmdkSetCheck vmdk_check;
  std::unique_ptr<DiskSource> vmdk_disk;
  VmdkProblem vmdk_problem;
  // Files the run opens only as it goes (a -pipe list, a device).
  std::vector<std::string> later;
};

// ---- Mode: a single input named on the command line -----------------

// The file as the run reads it: examined as a file, or the disk it holds.
void open_single_input(const useropts& o, const std::string& path, Opened& opened) {
  if (o.rawscan || o.ntfs_scan) {
    opened.image = open_image_by_content(path);
    opened.later = opened.image.files;
  } else if (!platform::is_directory(path)) {
    opened.file = FileSource::open(path);
  }
}

// The NTFS volume of an image file (raw, VMware, E01, VHD, QCOW, split).
Ending scan_image(Run& run, const std::string& path, const SourceInfo& info, ImageOpenResult image) {
  if (!image.ok()) {
    std::fputs(render_image_open_error(image, path).c_str(), stderr);
    return abort_run();
  }
  Source source;
  source.info = info;
  source.name = path;
  source.bytes = std::move(image.source);
  source.unreadable = "problem reading " + path + ", aborting\n";
  return read_volume(run, source);
}

Ending run_single_input(Run& run, const std::string& path, Opened& opened) {
  const useropts& o = run.options;
  SourceInfo info;
  errno = 0;
  if (!file_source_info(o, path, info)) {
    std::fprintf(stderr, "can't read specified file: %s: %s, aborting\n", path.c_str(),
                 platform::open_failure_text(errno).c_str());
    run.tally.count_unreadable(path);
    return finish_with(0);
  }
  if (o.layout == Layout::csv && o.rawscan) std::fprintf(stderr, "file: %s [using large file scan]\n", path.c_str());
  try {
    if (o.rawscan) {
      carve_file(run, path, info, std::move(opened.image));
    } else if (o.ntfs_scan) {
      if (const Ending ending = scan_image(run, path, info, std::move(opened.image)); !ending.finish) return ending;
    } else {
      examine_file(run, path, info, std::move(opened.file));
    }
    run.writer->end_input();
    run.outputs.check_writes();
  } catch (const OutputFailure&) {
    throw;
  } catch (...) {
    std::fprintf(stderr, "exception caught on file %s\n", path.c_str());
    ++run.tally.exceptions;
  }
  return finish_with(0);
}

// ---- Mode: shadow copies of an image's volume (-vss with an image) ---

// "-vss N" the Nth oldest copy, "-vss all" each in turn; empty (with the
// reason shown) when there is no such copy.
std::vector<uint32_t> shadow_copy_numbers(Run& run, const std::string& index, const std::string& path,
                                          uint32_t count) {
  std::vector<uint32_t> numbers;
  if (to_lower_ascii(index) == "all") {
    for (uint32_t n = 1; n <= count; ++n) numbers.push_back(n);
    return numbers;
  }
  uint64_t number = 0;
  if (!parse_number(index, number) || number == 0 || number > count) {
    std::fprintf(stderr, "shadow copy %s does not exist: %s holds %u (1 is the oldest)\n", index.c_str(),
                 path.c_str(), count);
    run.tally.count_unreadable("shadow copy " + index + " of " + path);
    return numbers;
  }
  numbers.push_back(static_cast<uint32_t>(number));
  return numbers;
}

// One shadow copy as a source of its own: its bytes are a volume that
// starts where the image's volume does.
void read_shadow_copy(Run& run, ShadowVolume& shadows, uint32_t number, const std::string& path,
                      const SourceInfo& image_info, uint64_t volume_offset) {
  const useropts& o = run.options;
  const std::string name = "shadow copy " + std::to_string(number) + " of " + path;
  ShadowStatus status;
  std::unique_ptr<ShadowStoreSource> store = shadows.open_store(number, status);
  if (!store) {
    std::fprintf(stderr, "%s\n", shadow_error_text(status).c_str());
    run.tally.count_unreadable(name);
    return;
  }
  Source source;
  source.info = image_info;
  source.info.shadow_copy = number;
  source.info.shadow_copy_created = store->info().creation_time;
  if (!o.quiet) {
    const std::string created = report_date_time(source.info.shadow_copy_created, o, false);
    std::fprintf(stderr, "shadow copy %u of %zu, created %s\n", number, shadows.stores().size(), created.c_str());
  }
  // Its view, or a later one it reads through, lost entries to damage:
  // the blocks they named read as a later copy or the live volume holds them.
  if (store->info().damaged)
    std::fprintf(stderr, "shadow copy %u of %s is damaged: blocks that damaged store lists no longer name read "
                 "as a later copy or the live volume holds them\n", number, path.c_str());
  if (o.rawscan) return carve_whole(run, *store, source.info);
  source.name = name;
  source.bytes = std::move(store);
  source.is_volume = true;
  source.disk_offset = volume_offset;
  source.unreadable = "prob validating " + name + " as a NTFS partition\n";
  source.abort_when_unreadable = false;
  read_volume(run, source);
}

// Linux has no shadow-copy devices; there -vss reads the copies an image's
// volume keeps.
Ending scan_image_shadow_copies(Run& run, const std::string& index, const std::string& path, Opened& opened) {
  SourceInfo info;
  errno = 0;
  if (!file_source_info(run.options, path, info)) {
    std::fprintf(stderr, "can't read specified file: %s: %s, aborting\n", path.c_str(),
                 platform::open_failure_text(errno).c_str());
    run.tally.count_unreadable(path);
    return finish_with(0);
  }
  if (!opened.image.ok()) {
    std::fputs(render_image_open_error(opened.image, path).c_str(), stderr);
    return abort_run();
  }
  uint64_t volume_offset = 0;
  if (!choose_volume(run, *opened.image.source, volume_offset)) return abort_run();
  WindowSource volume_bytes(*opened.image.source, volume_offset, UINT64_MAX);
  ShadowVolume shadows;
  const ShadowStatus status = shadows.open(volume_bytes);
  if (status.ok() && shadows.stores().empty()) {
    std::fprintf(stderr, "%s holds no shadow copies\n", path.c_str());
    return finish_with(-1);
  }
  if (!status.ok()) {
    std::fprintf(stderr, "%s\n", shadow_error_text(status).c_str());
    run.tally.count_unreadable(path);
    return finish_with(0);
  }
  if (shadows.catalog_damaged())
    std::fprintf(stderr, "the shadow-copy catalog of %s is damaged: copies listed past the damage are missing\n",
                 path.c_str());
  const uint32_t count = static_cast<uint32_t>(shadows.stores().size());
  const std::vector<uint32_t> numbers = shadow_copy_numbers(run, index, path, count);
  if (!numbers.empty() && !run.options.rawscan) default_to_ntfs_scan(run);
  for (uint32_t number : numbers) read_shadow_copy(run, shadows, number, path, info, volume_offset);
  return finish_with(0);
}

// ---- Modes: a device (-vss on Windows, -partition) -------------------

// The carver reads a device front to back, so it is opened for sequential
// access; the MFT scan jumps about and opens its own.
Ending carve_device(Run& run, const std::string& name, uint32_t kind) {
  SourceInfo info;
  info.volume_name = name;
  DiskSource disk;
  if (!disk.open_path(name, kind, true)) {
    std::fprintf(stderr, "problem reading %s, aborting\n", name.c_str());
    return abort_run();
  }
  std::fprintf(stderr, "partition: %s [using large file scan]\n", name.c_str());
  carve_whole(run, disk, info);
  return finish_with(0);
}

bool administrator_present(const Run& run) {
  if (run.administrator) return true;
  std::fputs("need to have admin privs for this option, aborting\n", stderr);
  return false;
}

// A device the road opens itself as a volume and scans through its MFT.
Ending scan_device(Run& run, const std::string& name, uint32_t mode, const std::string& unreadable,
                   bool abort_when_unreadable) {
  default_to_ntfs_scan(run);
  Source source;
  source.info.volume_name = source.name = name;
  source.device_mode = mode;
  source.unreadable = unreadable;
  source.abort_when_unreadable = abort_when_unreadable;
  return read_volume(run, source);
}

Ending run_shadow_copy(Run& run, const std::string& index, const std::string& image, Opened& opened) {
  if (!image.empty()) return scan_image_shadow_copies(run, index, image, opened);
  if (!administrator_present(run)) return abort_run();
  const std::string device = std::string(kShadowCopyPrefix) + index;
  if (run.options.rawscan) return carve_device(run, device, kSourceDevicePath);
  return scan_device(run, device, kOpenDevicePath,
                     "prob validating volume " + device + " as a NTFS partition, aborting...\n", false);
}

Ending run_partition(Run& run, const std::string& drive) {
  if (run.options.deepscan) {
    std::fputs("can't use option [-deepscan] with partitions\n", stderr);
    return abort_run();
  }
  if (!administrator_present(run)) return abort_run();
  if (run.options.rawscan) return carve_device(run, drive, kSourceVolumeLetter);
  return scan_device(run, drive, kOpenVolumeLetter, "problem reading " + drive + ", aborting\n", true);
}

// ---- Mode: a VMware disk set (-vmdk) ---------------------------------

std::vector<std::string> split_vmdk_list(const std::string& value) {
  char separator = 0;
  for (char c : {'|', ',', ';'}) {
    if (value.find(c) != std::string::npos) {
      separator = c;
      break;
    }
  }
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= value.size()) {
    size_t at = separator == 0 ? std::string::npos : value.find(separator, start);
    if (at == std::string::npos) at = value.size();
    if (std::string name = trim_blanks(value.substr(start, at - start)); !name.empty()) names.push_back(name);
    start = at + 1;
  }
  return names;
}

std::string join_with(const std::vector<std::string>& names, const char* separator) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) text += (i ? separator : "") + names[i];
  return text;
}

void open_vmdk_set(const useropts& o, const std::vector<std::string>& paths, Opened& opened) {
  if (o.deepscan) return;
  opened.vmdk_check = check_vmdk_set(paths);
  if (!opened.vmdk_check.ok) return;
  opened.vmdk_disk = std::make_unique<DiskSource>();
  if (!opened.vmdk_disk->attach_vmdk(paths, opened.vmdk_problem, std::move(opened.vmdk_check.files)))
    opened.vmdk_disk.reset();
}

Ending run_vmdk(Run& run, const std::vector<std::string>& paths, Opened& opened) {
  if (run.options.deepscan) {
    std::fputs("can't use option [-deepscan] with VMWare disks\n", stdout);
    std::fflush(stdout);
    return abort_run();
  }
  if (!opened.vmdk_check.ok) {
    std::fputs(render_vmdk_problem(opened.vmdk_check.problem).c_str(), stderr);
    const std::string suggestion = render_vmdk_suggestion(opened.vmdk_check);
    if (!suggestion.empty()) std::fprintf(stderr, "%s\n", suggestion.c_str());
    return abort_run();
  }
  Source source;
  source.info.vmdk_paths = paths;
  source.name = join_with(paths, "; ");
  if (run.options.rawscan) {
    if (!opened.vmdk_disk) {
      std::fputs("problem reading vmdk[s], aborting\n", stderr);
      std::fputs(render_vmdk_problem(opened.vmdk_problem).c_str(), stderr);
      return abort_run();
    }
    source.info.volume_name = source.name;
    run.writer->announce_disk_carve(source.name);
    carve_whole(run, *opened.vmdk_disk, source.info);
    return finish_with(0);
  }
  default_to_ntfs_scan(run);
  source.unreadable = "problem reading " + source.name + ", aborting\n";
  if (!opened.vmdk_disk) {
    std::fputs(source.unreadable.c_str(), stderr);
    return abort_run();
  }
  source.bytes = std::move(opened.vmdk_disk);
  return read_volume(run, source);
}

// ---- Mode: a file list on standard input (-pipe) ---------------------

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
  SourceInfo info;
  errno = 0;
  if (!split_path(name, directory, file_name) || !file_source_info(o, name, info)) {
    std::fprintf(stderr, "prob accessing file %s: %s\n", name.c_str(), platform::open_failure_text(errno).c_str());
    run.tally.count_unreadable(name);
    return;
  }
  if (first_file) {
    first_file = false;
    if (o.rawscan) run.writer->announce_list_carve(name);
  }
  if (!o.quiet) run.outputs.log().write(name);
  if (run.progress) status_line(kStatusLineWidth, "analyzing: %s", status_name(file_name).c_str());
  if (o.rawscan)
    carve_file(run, name, info, ImageOpenResult{});
  else
    examine_file(run, name, info, nullptr);
}

Ending run_pipe(Run& run, const Plan& plan) {
  const std::vector<std::string>& names = plan.piped_names;
  for (const auto& [folder, reason] : plan.unlisted) {
    std::fprintf(stderr, "prob accessing folder %s: %s\n", folder.c_str(), reason.c_str());
    run.tally.count_unreadable(folder);
  }
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

// ---- The run ---------------------------------------------------------

// Every operand is an input. One file alone is the single input, as ever;
// several, or a folder (walked as `find DIR -type f` lists it), are a list
// read as -pipe reads one, in byte order as `LC_ALL=C sort` puts names.
void plan_operands(const ArgList& args, const ArgList& after_options, Plan& plan) {
  std::vector<std::string> named;
  // An option word left over (one that needs another option) is no name.
  for (size_t i = 1; i < args.size(); ++i) {
    bool takes_value = false;
    if (known_option(to_lower_ascii(args[i]), takes_value)) plan.unused_options.push_back(args[i]);
    else named.push_back(expand_path(args[i], true));
  }
  for (const std::string& name : after_options) named.push_back(expand_path(name, true));
  if (named.empty()) return;
  if (named.size() == 1 && !platform::is_directory(named[0])) {
    plan.mode = Mode::single_input;
    plan.value = named[0];
    return;
  }
  plan.mode = Mode::pipe;
  plan.operands = true;
  for (const std::string& name : named) {
    if (!platform::is_directory(name)) {
      plan.piped_names.push_back(name);
      continue;
    }
    platform::FolderWalk walk = platform::walk_folder(name);
    plan.piped_names.insert(plan.piped_names.end(), walk.files.begin(), walk.files.end());
    plan.unlisted.insert(plan.unlisted.end(), walk.unlisted.begin(), walk.unlisted.end());
  }
  std::sort(plan.piped_names.begin(), plan.piped_names.end());
}

// Takes the mode's own options out of the argument list and reads the file
// list of -pipe, so every input is known before anything is written. The
// words after "--" are names only: they join the list once no option is
// left to take.
Plan make_plan(const useropts& o, ArgList& args, const ArgList& operands) {
  Plan plan;
  std::string value;
  if (take_value("-vss", value, args)) {
    plan.mode = Mode::shadow_copy;
    plan.value = value;
  } else if (take_value("-partition", value, args)) {
    plan.mode = Mode::partition;
    plan.value = value;
  } else if (take_value("-vmdk", value, args)) {
    plan.vmdk_paths = split_vmdk_list(value);
    while (take_value("-vmdk", value, args)) plan.vmdk_paths.push_back(value);
    if (!plan.vmdk_paths.empty()) plan.mode = Mode::vmdk;
  }
  if (plan.mode == Mode::usage && !o.pipe) plan_operands(args, operands, plan);
  args.insert(args.end(), operands.begin(), operands.end());
  if (plan.mode == Mode::shadow_copy && args.size() >= 2) plan.image = expand_path(args[1], true);
  if (plan.mode != Mode::usage || !o.pipe) return plan;
  plan.mode = Mode::pipe;
  LineReader reader(stdin);
  for (std::string name; next_pipe_name(reader, o, name);) plan.piped_names.push_back(name);
  return plan;
}

// Rights matter only where the run reads a device or a live volume.
bool needs_rights(const Plan& plan) {
  if (plan.mode == Mode::partition) return true;
  if (plan.mode == Mode::shadow_copy) return plan.image.empty();
  if (plan.mode != Mode::single_input) return false;
  const std::string& path = plan.value;
  return path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0 || path.rfind("/dev/", 0) == 0;
}

// Each mode opens what it reads now, saying nothing yet: the outputs are
// then checked against the files it opened.
void open_inputs(const useropts& o, const Plan& plan, Opened& opened) {
  switch (plan.mode) {
    case Mode::single_input: return open_single_input(o, plan.value, opened);
    case Mode::vmdk: return open_vmdk_set(o, plan.vmdk_paths, opened);
    case Mode::pipe: opened.later = plan.piped_names; return;
    case Mode::partition: opened.later = {plan.value}; return;
    case Mode::shadow_copy:
      if (plan.image.empty()) return;
      opened.image = open_image_by_content(plan.image);
      opened.later = opened.image.files;
      return;
    case Mode::usage: return;
  }
}

Ending run_plan(Run& run, const Plan& plan, Opened& opened, const std::string& program) {
  switch (plan.mode) {
    case Mode::shadow_copy: return run_shadow_copy(run, plan.value, plan.image, opened);
    case Mode::partition: return run_partition(run, plan.value);
    case Mode::vmdk: return run_vmdk(run, plan.vmdk_paths, opened);
    case Mode::pipe: return run_pipe(run, plan);
    case Mode::single_input: return run_single_input(run, plan.value, opened);
    case Mode::usage: break;
  }
  print_usage(program);
  return finish_with(-1);
}

// Text asked for on standard output (the usage, the version) that did not
// all arrive fails the run, unless its reader went away.
int standard_output_status() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  const int error = errno != 0 ? errno : EIO;
  if (error != EPIPE) report_unwritten("standard output", error);
  return -1;
}

// The writer, the HTML page and the outlet the producers put records in.
void build_writers(Run& run, const Plan& plan) {
  const useropts& o = run.options;
  run.writer = std::make_unique<RecordWriter>(run.outputs.results(), o);
  if (run.outputs.html_created()) {
    run.html = std::make_unique<HtmlReport>(run.outputs.html().stream(), o);
    run.writer->also_write_html(*run.html);
  }
  // The CSV columns are chosen from every file of a -pipe list, not only
  // from the record that comes first.
  if (o.layout == Layout::csv && plan.mode == Mode::pipe && !o.rawscan && any_file_holds_jump_list(plan.piped_names))
    run.writer->expect_jump_list_records();
  run.outlet = std::make_unique<RecordOutlet>(
      [&run](const LnkRecord& record, const SourceInfo& source) {
        const bool written = run.writer->write(record, source);
        run.outputs.check_writes();
        if (written) ++run.records_arrived;
        else ++run.tally.left_out;
      },
      run.outputs.dump_dir());
  run.outlet->set_progress(run.progress);
}

// A write that fails ends the run there; a reader that went away (a pipe
// into head) ends it without a word.
Ending write_run(Run& run, const Plan& plan, Opened& opened, const std::string& header, const std::string& program) {
  Ending ending = abort_run();
  try {
    if (!run.options.output_path_given || plan.mode != Mode::usage) run.writer->begin_run(header);
    run.outputs.check_writes();
    ending = run_plan(run, plan, opened, program);
    if (ending.finish) {
      run.writer->end_run();
      run.outputs.check_writes();
    }
  } catch (const OutputFailure& failure) {
    if (run.progress) status_line(kStatusLineWidth, " ");
    ending = {-1, failure.error != EPIPE};
    if (failure.error != EPIPE) report_unwritten(failure.output, failure.error);
  }
  return ending;
}

int end_run(Run& run, const Plan& plan, int status) {
  if (run.options.profile)
    std::fprintf(stderr, "%f secs \n", platform::monotonic_seconds() - run.start_seconds);
  if (plan.mode != Mode::usage && !run.options.quiet) {
    run.tally.records_written = run.records_arrived;
    run.tally.with_anomalies = run.writer->records_with_anomalies();
    std::fputs(summary_line(run.tally).c_str(), stderr);
  }
  if (!run.options.event_name.empty()) platform::signal_named_event(run.options.event_name);
  return status;
}

// From the parsed command line on: the plan, the inputs opened, every
// output checked and created, the mode, and the outputs settled.
int run_parsed(Run& run, ArgList& args, const ArgList& operands, const std::string& header) {
  const useropts& o = run.options;
  if (!run.outputs.check_targets(o)) return -1;
  if (o.profile) run.start_seconds = platform::monotonic_seconds();
  run.progress = !o.quiet && platform::stderr_is_terminal();
  const Plan plan = make_plan(o, args, operands);
  if (!run.administrator && needs_rights(plan)) std::fputs("... running w/o admin privileges ...\n", stderr);
  if (plan.operands && o.ntfs_scan) {
    std::fputs("-ntfs_scan reads one disk or volume image: name one file, not several or a folder\n", stderr);
    return -1;
  }
  run.listed = plan.mode == Mode::pipe;
  if (plan.operands || plan.mode == Mode::single_input)
    for (const std::string& word : plan.unused_options) std::fprintf(stderr, "unused argument: %s\n", word.c_str());
  else
    for (const std::string& warning : unused_word_warnings(args, !plan.image.empty())) std::fputs(warning.c_str(), stderr);
  Opened opened;
  open_inputs(o, plan, opened);
  // Without an input the command line was most likely mistyped (a forgotten
  // results-file name takes the input's place): nothing is created and
  // only the usage is shown.
  if (!run.outputs.check_evidence(o, opened.later) || !run.outputs.create(o, plan.mode != Mode::usage)) return -1;
  build_writers(run, plan);
  const Ending ending = write_run(run, plan, opened, header, args.empty() ? std::string() : args[0]);
  if (!ending.finish) return run.outputs.settle(ending.status, *run.outlet);
  std::fputs(run.writer->lost_fields_notice().c_str(), stderr);
  // Status 0 only when every input named was read; what was read is kept
  // all the same.
  const bool missed = run.tally.unreadable + run.tally.exceptions != 0 ||
                      (plan.mode != Mode::pipe && run.tally.directories != 0);
  const bool results_in_file = run.outputs.results_in_file();
  const int settled = run.outputs.settle(missed && run.tally.sources_read == 0 ? -1 : ending.status, *run.outlet);
  if (settled != 0 && results_in_file) run.records_arrived = 0;
  return end_run(run, plan, settled == 0 && missed ? -1 : settled);
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

}  // namespace

int run_rook(std::vector<std::string> args) {
  if (args.size() <= 1) {
    print_usage(args.empty() ? std::string() : args[0]);
    return 0;
  }
  const CommandLineCheck check = check_command_line(args);
  const ArgList operands(args.begin() + static_cast<std::ptrdiff_t>(std::min(check.end_of_options + 1, args.size())),
                         args.end());
  const std::string header = build_run_header(args, kRookVersion);
  args.resize(check.end_of_options);
  errno = 0;
  if (is_help_request(args)) {
    print_usage(args[0], true);
    return standard_output_status();
  }
  if (is_version_request(args)) {
    std::fputs(version_text().c_str(), stdout);
    return standard_output_status();
  }
  if (!check.problem.empty()) {
    std::fputs(check.problem.c_str(), stderr);
    return -1;
  }
  platform::disable_file_system_redirection();

  useropts parsed;
  if (!parse_useropts(parsed, args)) return -1;
  set_decode_threads(parsed.thread_count);
  Run run(parsed);
  run.administrator = platform::is_administrator();
  return run_parsed(run, args, operands, header);
}

}  // namespace lnk

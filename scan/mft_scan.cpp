#include "scan/mft_scan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "carve/carve_context.h"
#include "carve/status_line.h"
#include "carve/process_file.h"
#include "jumplist/appid_names.h"
#include "ntfs/file_data.h"
#include "ntfs/mft_entry.h"
#include "ntfs/mft_walk.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"
#include "ntfs/shadow_catalog.h"
#include "platform/text.h"
#include "storage/memory_source.h"
#include "storage/read_ahead.h"
#include "storage/wof_codec.h"

namespace lnk {
namespace {

constexpr int kProgressWidth = 60;
constexpr uint64_t kEntryProgressEvery = 53;
constexpr uint64_t kClusterProgressEvery = 753;
constexpr uint64_t kSmallestScannedRecord = 1024;
constexpr uint64_t kBitmapEntry = 6;
constexpr uint64_t kEntryNumberMask = 0x0000FFFFFFFFFFFFull;

struct Scan {
  NtfsVolume& volume;
  const SourceInfo& base;
  const useropts& options;
  RecordOutlet& outlet;
  ScanNotes& notes;
};

// The volume's start within its source plus a byte offset within the
// volume: where an examiner finds those bytes in the image or on the disk.
// A live volume reports its place on its physical disk instead of 0.
uint64_t disk_position(const NtfsVolume& volume, uint64_t offset_in_volume) {
  const uint64_t start = volume.mode() == kOpenImageFile || volume.mode() == kOpenAttached
                             ? volume.volume_start()
                             : volume.disk_offset() + volume.volume_start();
  return start + offset_in_volume;
}

// Provenance of one selected file: the volume's, with the file's own size,
// $STANDARD_INFORMATION times and MFT reference, and a jump list's AppID.
SourceInfo file_source(const Scan& scan, const RecordSummary& summary, uint64_t entry, uint64_t data_size,
                       const std::string& name) {
  SourceInfo source = scan.base;
  source.mft_scan = true;
  source.source_file_size = data_size;
  source.source_created = summary.standard_information.created;
  source.source_modified = summary.standard_information.modified;
  source.source_mft_changed = summary.standard_information.mft_changed;
  source.source_accessed = summary.standard_information.accessed;
  source.src_inode = entry & kEntryNumberMask;
  source.src_seq = summary.header.sequence;
  name_jump_list_application(name, source);
  return source;
}

// Where the byte at a file offset lies in the source the volume was opened
// on: through the data's runs, or, for data resident in its MFT record (or
// in no cluster at all), counted from the record's place.
uint64_t place_in_source(const NtfsVolume& volume, const DataStream& data, uint64_t record_position,
                         uint64_t offset) {
  uint64_t in_volume = 0;
  if (data.map(offset, in_volume)) return disk_position(volume, in_volume);
  return disk_position(volume, record_position) + offset;
}

// The names of a record with an attribute list, those in its extension
// records included.
bool names_through_attribute_list(NtfsVolume& volume, const MftRecordView& view, std::vector<FileName>& names) {
  mft_entries_ctx context(volume);
  if (view.bad || !parse_entry(context, view.entry, view.bytes)) return false;
  names = std::move(context.entry.names);
  return true;
}

// Every resident name a record holds, in record order.
std::vector<FileName> record_names(std::span<const uint8_t> record) {
  std::vector<FileName> names;
  AttributeWalker walker(record);
  AttributeView a;
  while (walker.next(a) && a.well_formed) {
    FileName name;
    if (a.type == kAttrFileName && !a.non_resident && decode_file_name(a.value, name)) names.push_back(std::move(name));
  }
  return names;
}

// The names a file is known by: every long name, and an 8.3 name only
// where it stands in a folder no long name does (the short form of a long
// name is the same link).
std::vector<FileName> distinct_links(std::vector<FileName> names) {
  std::vector<FileName> out;
  for (FileName& n : names) {
    if (n.name.empty()) continue;
    const bool shadowed = n.name_space == kNameSpaceDos &&
                          std::any_of(names.begin(), names.end(), [&n](const FileName& o) {
                            return o.name_space != kNameSpaceDos && o.parent_reference == n.parent_reference;
                          });
    if (!shadowed) out.push_back(std::move(n));
  }
  return out;
}

// The path of one name: its folders, or the bare name when the chain
// cannot be built.
std::string name_path(const Scan& scan, const FileName& name) {
  std::string parent;
  return build_parent_path(scan.volume, name.parent_reference, parent) ? parent + name.name : name.name;
}

// What the scan reads of one file: its data, a named stream of it, and the
// names it goes by.
struct Selected {
  std::string stream;          // empty: the unnamed data
  std::string name;            // the name (or stream) the AppID comes from
  std::string path;            // as fls writes it, the stream after a colon
  std::vector<std::string> other_paths;
};

// The file's bytes go where those of a file named by the user go, with
// what the volume says of it.
void handle_selected(const Scan& scan, const MftRecordView& view, const RecordSummary& summary,
                     const Selected& selected) {
  // The walk logged a damaged record once; its data cannot be read.
  if (view.bad) return;
  FileRequest request;
  request.entry = view.entry;
  request.record = view.bytes;
  request.stream = selected.stream;
  const bool read = read_file(scan.volume, request);
  if (request.gap == DataGap::wof_not_decoded) ++scan.notes.wof_not_decoded;
  if (request.gap == DataGap::compression_not_read) ++scan.notes.compression_not_read;
  if (!read) return;
  FileProvenance file;
  file.source = file_source(scan, summary, view.entry, request.data_size, selected.name);
  file.source.volume_path = selected.path;
  file.source.stream = selected.stream;
  file.source.other_paths = selected.other_paths;
  file.source.damaged_record = view.torn;
  file.source.deleted = !summary.in_use();
  file.source.data_attribute_id = request.data_attribute_id;
  file.place = [&scan, &request, &view](uint64_t offset) {
    return place_in_source(scan.volume, request.data_stream, view.volume_offset, offset);
  };
  MemorySource bytes(request.data);
  // The scan keeps one progress line; each file's own percentage would
  // start it again at 0 for every file read.
  struct ProgressPause {
    RecordOutlet& outlet;
    const bool was = outlet.progress();
    explicit ProgressPause(RecordOutlet& o) : outlet(o) { outlet.set_progress(false); }
    ~ProgressPause() { outlet.set_progress(was); }
  } pause(scan.outlet);
  process_file_bytes(bytes, file, scan.options, scan.outlet);
}

// Of the names that make the file one the scan reads, the first that
// carries a jump list's AppID, else the first; -1 when none does.
int chosen_name(const std::vector<FileName>& names) {
  int first = -1;
  for (size_t i = 0; i < names.size(); ++i) {
    const ScanFileKind kind = scan_file_kind(names[i].name);
    if (kind == ScanFileKind::none) continue;
    if (first < 0) first = static_cast<int>(i);
    if (kind != ScanFileKind::shortcut && !app_id_from_file_name(names[i].name).empty()) return static_cast<int>(i);
  }
  return first;
}

// Every named $DATA stream of a file or folder whose bytes start as a
// shortcut or a jump list does.
void handle_streams(const Scan& scan, const MftRecordView& view, const RecordSummary& summary,
                    const std::vector<std::string>& paths) {
  if (view.bad || paths.empty()) return;
  MftEntry entry;
  if (!categorize_attributes(scan.volume, view.entry, entry, view.bytes)) return;
  std::vector<std::string> seen;
  for (const ParsedAttribute& a : entry.attributes) {
    // A WOF-compressed file's bytes are its unnamed data's.
    if (a.type != kAttrData || a.name.empty() || a.lowest_vcn != 0 || to_lower_ascii(a.name) == "wofcompresseddata")
      continue;
    if (std::find(seen.begin(), seen.end(), a.name) != seen.end()) continue;
    seen.push_back(a.name);
    DataStream stream;
    std::array<uint8_t, kContentProbeBytes> head{};
    uint64_t count = 0;
    if (!open_attribute_data(scan.volume, a, stream) ||
        !read_available(*stream.source, 0, std::span(head).first(std::min<uint64_t>(head.size(), stream.size)), count) ||
        !may_hold_shortcut_or_jump_list(std::span(head).first(count)))
      continue;
    Selected selected;
    selected.stream = selected.name = a.name;
    selected.path = paths.front() + ":" + a.name;
    for (size_t i = 1; i < paths.size(); ++i) selected.other_paths.push_back(paths[i] + ":" + a.name);
    handle_selected(scan, view, summary, selected);
  }
}

// A file record that names a jump list under any of the names it holds
// itself, whether or not its data gives a record.
bool names_jump_list(const MftRecordView& view, const RecordSummary& summary) {
  if (view.bad || summary.is_directory() || !summary.has_name) return false;
  const std::vector<FileName> names =
      summary.name_count > 1 ? record_names(view.bytes) : std::vector<FileName>{summary.name};
  for (const FileName& name : names) {
    const ScanFileKind kind = scan_file_kind(name.name);
    if (kind == ScanFileKind::automatic_jump_list || kind == ScanFileKind::custom_jump_list) return true;
  }
  return false;
}

void handle_record(const Scan& scan, const MftRecordView& view) {
  if (view.torn) ++scan.notes.damaged_records;
  if (view.bad) ++scan.notes.bad_records;
  RecordSummary summary;
  if (view.bytes.size() < kSmallestScannedRecord || !summarize_record(view.bytes, summary)) return;
  if (summary.is_extension()) return;
  if (scan.outlet.watches_jump_lists() && names_jump_list(view, summary)) scan.outlet.jump_list_named();

  // A file of many names keeps some in extension records.
  std::vector<FileName> names;
  if (summary.has_attribute_list && !summary.is_directory()) {
    if (!names_through_attribute_list(scan.volume, view, names)) {
      if (!summary.has_name) return;
      names.push_back(summary.name);
    }
  } else if (summary.name_count > 1) {
    names = record_names(view.bytes);
  } else if (summary.has_name) {
    names.push_back(summary.name);
  }
  names = distinct_links(std::move(names));
  if (summary.is_directory()) {
    const FileName* name = nullptr;
    for (const FileName& n : names)
      if (n.name_space != kNameSpaceDos) name = name == nullptr ? &n : name;
    if (name == nullptr) return;
    PathCacheEntry cached;
    cached.name = name->name;
    cached.parent_reference = name->parent_reference;
    cached.flags = name->flags;
    cached.sequence = summary.header.sequence;
    cached.sequence_known = true;
    scan.volume.path_cache().remember(view.entry & kEntryNumberMask, std::move(cached));
    if (summary.has_named_data) handle_streams(scan, view, summary, {name_path(scan, *name)});
    return;
  }
  if (names.empty()) return;
  const int chosen = chosen_name(names);
  const bool streams = summary.has_named_data || summary.has_attribute_list;
  if (chosen < 0 && !streams) return;
  // The chosen name first; the other names after it, in record order.
  std::vector<std::string> paths;
  const size_t first = chosen < 0 ? 0 : static_cast<size_t>(chosen);
  paths.push_back(name_path(scan, names[first]));
  for (size_t i = 0; i < names.size(); ++i) {
    if (i == first) continue;
    std::string path = name_path(scan, names[i]);
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
  }
  if (chosen >= 0) {
    Selected selected;
    selected.name = names[first].name;
    selected.path = paths.front();
    selected.other_paths.assign(paths.begin() + 1, paths.end());
    handle_selected(scan, view, summary, selected);
  }
  if (streams) handle_streams(scan, view, summary, paths);
}

// The data of the files the scan will read from the walk's block of
// records, announced in entry order, so that a container decodes it on
// worker threads while the scan handles the records before them.
void announce_chosen_files(const Scan& scan, const MftWalk& walk) {
  uint64_t budget = kReadAheadWindow;
  walk.visit_block([&scan, &budget](const MftRecordView& view) {
    RecordSummary summary;
    if (budget == 0 || view.bad || view.bytes.size() < kSmallestScannedRecord ||
        !summarize_record(view.bytes, summary))
      return;
    if (summary.is_extension() || summary.is_directory() || !summary.has_name || !summary.has_data ||
        summary.data_resident || scan_file_kind(summary.name.name) == ScanFileKind::none)
      return;
    budget -= std::min(budget, announce_file_data(scan.volume, view.bytes, std::min(budget, kDefaultDataLimit)));
  });
}

void record_pass(const Scan& scan) {
  MftWalk walk(scan.volume);
  MftRecordView view;
  uint64_t next_progress = 0;
  const bool announce = scan.volume.volume_bytes().reads_ahead();
  uint64_t blocks_announced = 0;
  while (walk.next(view)) {
    if (announce && walk.blocks_read() != blocks_announced) {
      blocks_announced = walk.blocks_read();
      announce_chosen_files(scan, walk);
    }
    if (scan.outlet.progress() && view.entry >= next_progress) {
      const uint64_t shown = view.entry - view.entry % kEntryProgressEvery;
      status_line(kProgressWidth, "analyzing entry %lld of %lld", static_cast<long long>(shown),
                  static_cast<long long>(walk.end()));
      next_progress = shown + kEntryProgressEvery;
    }
    handle_record(scan, view);
  }
  if (scan.outlet.progress()) status_line(kProgressWidth, "\n");
}

// A carve context over the whole source the volume lies in; clusters are
// placed by the volume's start within it.
bool bind_pass_context(const Scan& scan, CarveContext& context) {
  if (!bind_carve_context(context, scan.volume.source())) return false;
  context.percent_display = false;
  return true;
}

// The volume's provenance, for the records one cluster pass carves.
SourceInfo pass_source(const Scan& scan, const std::string& label) {
  SourceInfo source = scan.base;
  source.carve_label = label;
  return source;
}

void carve_cluster_run(const Scan& scan, CarveContext& context, const DataRun& run, const SourceInfo& source) {
  if (run.sparse() || run.length == 0) return;
  uint64_t start = 0, length = 0, end = 0;
  const uint64_t cluster = scan.volume.cluster_size();
  if (!checked_mul(static_cast<uint64_t>(run.start_cluster), cluster, start) || !checked_add(start, scan.volume.volume_start(), start) ||
      !checked_mul(run.length, cluster, length) || !checked_add(start, length, end))
    return;
  end = std::min(end, context.source_size);
  if (start >= end) return;
  context.position = static_cast<int64_t>(start);
  context.range_end = static_cast<int64_t>(end);
  context.label = source.carve_label;
  carve_range(context, source, scan.outlet);
}

// The clusters of every attribute of one entry that has runs.
void carve_entry_runs(const Scan& scan, uint64_t entry, const std::string& label) {
  CarveContext context;
  if (!bind_pass_context(scan, context)) return;
  MftEntry parsed;
  if (!categorize_attributes(scan.volume, entry, parsed)) return;
  const SourceInfo source = pass_source(scan, label);
  for (const ParsedAttribute& attribute : parsed.attributes) {
    if (!attribute.non_resident) continue;
    for (const DataRun& run : attribute.runs) carve_cluster_run(scan, context, run, source);
  }
}

void unallocated_pass(const Scan& scan) {
  CarveContext context;
  if (!bind_pass_context(scan, context)) return;
  FileRequest bitmap;
  bitmap.entry = kBitmapEntry;
  bitmap.max_bytes = UINT64_MAX;
  if (!read_file(scan.volume, bitmap)) return;
  const uint64_t clusters = std::min<uint64_t>(bitmap.data.size() * 8, scan.volume.total_clusters());
  const bool progress = scan.outlet.progress();
  uint64_t counted = 0;
  bool in_free_run = false;
  bool announced = false;
  DataRun run;
  const SourceInfo source = pass_source(scan, "Unalloc");
  auto close_run = [&](uint64_t end) {
    run.length = end - static_cast<uint64_t>(run.start_cluster);
    carve_cluster_run(scan, context, run, source);
    in_free_run = false;
  };
  for (uint64_t cluster = 0; cluster < clusters; ++cluster) {
    const bool allocated = (bitmap.data[cluster / 8] >> (cluster % 8)) & 1;
    if (allocated) {
      if (progress && !announced) status_line(kProgressWidth, "looking for unalloc cluster");
      announced = true;
      if (in_free_run) close_run(cluster);
      continue;
    }
    if (!in_free_run) {
      run = DataRun{};
      run.start_cluster = static_cast<int64_t>(cluster);
      in_free_run = true;
      announced = false;
    }
    if (progress && ++counted % kClusterProgressEvery == 0)
      status_line(kProgressWidth, "analyzing cluster %lld of %lld", static_cast<long long>(cluster),
                  static_cast<long long>(clusters));
  }
  if (in_free_run) close_run(clusters);
  if (progress) status_line(kProgressWidth, "\n");
}

void pagefile_pass(const Scan& scan) {
  uint64_t entry = 0;
  if (!lookup_path(scan.volume, "pagefile.sys", entry)) return;
  carve_entry_runs(scan, entry, "Pagefile");
}

void shadow_copy_pass(const Scan& scan) {
  std::array<uint8_t, kCatalogHeaderSize> header{};
  std::vector<ShadowStore> stores;
  if (!read_shadow_catalog(scan.volume, header, stores)) return;
  for (size_t n = 0; n < stores.size(); ++n) {
    // A store file on another volume has no reference on this one.
    const uint64_t entry = stores[n].store_file_reference & kEntryNumberMask;
    if (entry == 0) continue;
    const std::string text = "VSS Store: " + stores[n].key;
    if (scan.outlet.progress()) {
      status_line(kProgressWidth, "\n");
      std::fprintf(stderr, "analyzing: %s\n", text.c_str());
    }
    carve_entry_runs(scan, entry, "VSS " + std::to_string(n));
  }
}

}  // namespace

ScanFileKind scan_file_kind(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return ScanFileKind::none;
  const std::string extension = to_lower_ascii(name.substr(dot + 1));
  if (extension == "lnk") return ScanFileKind::shortcut;
  if (extension.find("ions-ms") == std::string::npos) return ScanFileKind::none;
  if (extension.find("automatic") != std::string::npos) return ScanFileKind::automatic_jump_list;
  if (extension.find("custom") != std::string::npos) return ScanFileKind::custom_jump_list;
  return ScanFileKind::none;
}

std::vector<std::string> scan_note_lines(const ScanNotes& notes, bool log_given) {
  const std::string named = log_given ? "; the diagnostic log names them" : "; -diags FILE names them";
  std::vector<std::string> lines;
  auto add = [&](uint64_t count, const char* one, const char* many, const std::string& why) {
    if (count != 0) lines.push_back(std::to_string(count) + (count == 1 ? one : many) + why + named);
  };
  add(notes.wof_not_decoded, " file not decoded: ", " files not decoded: ",
      wof_codec_available() ? "WOF compression" : "WOF compression (this build lacks wimlib)");
  add(notes.compression_not_read, " file not decoded: ", " files not decoded: ",
      "NTFS compression without a usable compression unit");
  add(notes.damaged_records, " torn MFT record read as it is", " torn MFT records read as they are",
      " (update sequence mismatch; records from them say damaged_record)");
  add(notes.bad_records, " MFT record marked BAAD", " MFT records marked BAAD", " not read");
  return lines;
}

bool scan_volume(NtfsVolume& volume, const SourceInfo& source, const useropts& options, RecordOutlet& outlet,
                 ScanNotes* notes, bool records_by_default) {
  if (!volume.validate()) return false;
  SourceInfo base = source;
  base.mft_scan = true;
  ScanNotes counted;
  const Scan scan{volume, base, options, outlet, notes != nullptr ? *notes : counted};
  if (options.ntfs_scan || records_by_default) record_pass(scan);
  if (options.include_unalloc_clusters) unallocated_pass(scan);
  if (options.include_vss_clusters) shadow_copy_pass(scan);
  if (options.include_pagefile_clusters) pagefile_pass(scan);
  return true;
}

}  // namespace lnk

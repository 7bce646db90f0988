// What the NTFS layer finds on a volume, side by side with what sleuthkit
// (fls, istat, icat) reports for the same image, and the unpacking of the
// fixture and corpus images both are compared on.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "ntfs/file_data.h"
#include "ntfs/mft_entry.h"
#include "ntfs/mft_walk.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"
#include "platform/text.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"

namespace lnk::test {

namespace fs = std::filesystem;

// The committed fixture volumes (made by tests/data/make_ntfs_fixtures.sh).
inline bool unpack_ntfs_fixtures(const fs::path& dir) {
  for (const char* archive : {"ntfs_fixtures.tar.xz", "ntfs_compressed.tar.xz", "ntfs_hidden.tar.xz"}) {
    const std::string path = std::string(ROOK_SOURCE_DIR) + "/tests/data/" + archive;
    if (shell("tar -xJf " + q(path) + " -C " + q(dir)).status != 0) return false;
  }
  return fs::exists(dir / "ntfs_small.img") && fs::exists(dir / "ntfs_compressed.img");
}

// A corpus image as a raw file, unpacked once into a cache shared by the test
// processes (the 1 GiB images take seconds to inflate); empty when the corpus
// or a tool is missing. inner is the file name inside a tar archive.
inline fs::path corpus_raw_image(const std::string& relative, const std::string& inner) {
  const fs::path source = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / relative;
  if (!fs::exists(source)) return {};
  const fs::path cache = fs::temp_directory_path() / ("rook_ntfs_corpus_" + std::to_string(::getuid()));
  const fs::path target = cache / inner;
  if (fs::exists(target)) return target;
  fs::create_directories(cache);
  const fs::path part = cache / (inner + ".part" + std::to_string(::getpid()));
  const std::string name = source.filename().string();
  std::string command;
  if (name.ends_with(".qcow2")) {
    command = "qemu-img convert -O raw " + q(source) + " " + q(part);
  } else if (name.ends_with(".raw.gz")) {
    command = "gzip -dc " + q(source) + " | dd of=" + q(part) + " bs=1M conv=sparse iflag=fullblock status=none";
  } else {
    fs::create_directories(part);
    const std::string file = q(part.string() + ".file");
    command = "tar -xzf " + q(source) + " -C " + q(part) + " && mv " + q(part / inner) + " " + file + " && rmdir " +
              q(part) + " && mv " + file + " " + q(part);
  }
  if (shell(command).status != 0) {
    fs::remove_all(part);
    return {};
  }
  fs::rename(part, target);
  return target;
}

// One name as fls -r -p lists it.
struct FlsName {
  uint64_t entry = 0;
  std::string id;    // ENTRY-TYPE-ID
  std::string path;  // "[root]\dir\name"
  bool deleted = false;
  bool reallocated = false;
  bool directory = false;
};

inline std::vector<FlsName> fls_names(const std::string& image, uint64_t sector_offset) {
  std::vector<FlsName> names;
  const std::string text = shell("fls -r -p -o " + std::to_string(sector_offset) + " " + q(image)).out;
  static const std::regex line(R"(^(\S)/(\S) (\* )?(\d+)(-\d+-\d+)?(\(realloc\))?:\t(.*)$)");
  for (const std::string& row : split_lines(text)) {
    std::smatch m;
    if (!std::regex_match(row, m, line)) continue;
    std::string path = m[7];
    const std::string last = path.substr(path.rfind('/') + 1);
    // Named streams and names whose record is gone (the orphan folder's own
    // entries among them).
    if (last.find(':') != std::string::npos || !m[5].matched) continue;
    // What sleuthkit files under its orphan folder is what the path
    // builder marks as a chain it cannot follow.
    const std::string orphans = "$OrphanFiles/";
    if (path.starts_with(orphans)) path = "<path corrupted>/" + path.substr(orphans.size());
    FlsName n;
    n.entry = std::stoull(m[4]);
    n.id = m[4].str() + m[5].str();
    for (char& c : path)
      if (c == '/') c = '\\';
    n.path = "[root]\\" + path;
    n.deleted = m[3].matched;
    n.reallocated = m[6].matched;
    n.directory = m[1] == "d" || m[2] == "d";
    names.push_back(n);
  }
  return names;
}

// FILETIME from istat's "2021-05-06 07:08:09.123456700 (UTC)".
inline uint64_t istat_filetime(const std::string& text) {
  int y, mo, d, h, mi, s;
  long nanos;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &nanos) != 7) return 0;
  const int64_t days = std::chrono::sys_days{std::chrono::year{y} / mo / d}.time_since_epoch().count();
  const int64_t seconds = days * 86400LL + h * 3600 + mi * 60 + s + 11644473600LL;
  return static_cast<uint64_t>(seconds) * 10000000ULL + static_cast<uint64_t>(nanos / 100);
}

struct IstatFacts {
  uint16_t sequence = 0;
  uint64_t created = 0, modified = 0, mft_changed = 0, accessed = 0;
  bool has_data = false;
  uint64_t data_size = 0;
  uint64_t first_cluster = 0;  // of non-resident data; 0 when resident or sparse there
};

inline bool istat_facts(const std::string& image, uint64_t sector_offset, uint64_t entry, IstatFacts& out) {
  const std::string text =
      shell("istat -z UTC -o " + std::to_string(sector_offset) + " " + q(image) + " " + std::to_string(entry)).out;
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(R"(Sequence: (\d+))"))) return false;
  out.sequence = static_cast<uint16_t>(std::stoul(m[1]));
  const size_t si = text.find("$STANDARD_INFORMATION Attribute Values:");
  if (si == std::string::npos) return false;
  const std::string block = text.substr(si, text.find("\n\n", si) - si);
  const std::pair<const char*, uint64_t*> times[] = {{"Created:\t", &out.created},
                                                     {"File Modified:\t", &out.modified},
                                                     {"MFT Modified:\t", &out.mft_changed},
                                                     {"Accessed:\t", &out.accessed}};
  for (const auto& [label, field] : times) {
    const size_t at = block.find(label);
    if (at == std::string::npos) return false;
    *field = istat_filetime(block.substr(at + std::strlen(label)));
  }
  if (std::regex_search(text, m, std::regex(R"(Type: \$DATA \(128-\d+\)   Name: N/A   [^\n]*?size: (\d+))"))) {
    out.has_data = true;
    out.data_size = std::stoull(m[1]);
  }
  if (std::regex_search(text, m, std::regex(R"(Type: \$DATA \(128-\d+\)   Name: N/A   Non-Resident[^\n]*\n(\d+))")))
    out.first_cluster = std::stoull(m[1]);
  return true;
}

inline std::vector<uint8_t> icat_bytes(const std::string& image, uint64_t sector_offset, uint64_t entry) {
  const std::string text = shell("icat -o " + std::to_string(sector_offset) + " " + q(image) + " " +
                                 std::to_string(entry)).out;
  return std::vector<uint8_t>(text.begin(), text.end());
}

// One named base entry as the NTFS layer sees it.
struct LayerEntry {
  uint64_t entry = 0;
  uint16_t sequence = 0;
  std::string path;  // parent path + name
  bool deleted = false;
  bool directory = false;
  StandardInformation times;
  bool has_data = false;
  uint64_t data_size = 0;
  uint16_t data_flags = 0;
};

// Every base record with a long name (found through its attribute list when
// the base holds none), in MFT order; the root itself is left out.
inline std::vector<LayerEntry> layer_entries(NtfsVolume& volume) {
  std::vector<LayerEntry> out;
  MftWalk walk(volume);
  MftRecordView view;
  while (walk.next(view)) {
    RecordSummary s;
    if (view.bad || !summarize_record(view.bytes, s) || s.is_extension() || view.entry == kRootDirectoryEntry)
      continue;
    LayerEntry e;
    e.entry = view.entry;
    e.sequence = s.header.sequence;
    e.deleted = !s.in_use();
    e.directory = s.is_directory();
    e.times = s.standard_information;
    e.has_data = s.has_data;
    e.data_size = s.data_size;
    e.data_flags = s.data_flags;
    FileName name = s.name;
    if (!s.has_name) {
      mft_entries_ctx context(volume);
      if (!s.has_attribute_list || !parse_entry(context, view.entry) || context.entry.preferred_name() == nullptr ||
          context.entry.preferred_name()->name_space == kNameSpaceDos)
        continue;
      name = *context.entry.preferred_name();
      if (const ParsedAttribute* data = context.entry.find(kAttrData); data != nullptr && !e.has_data) {
        e.has_data = true;
        e.data_size = data->data_size();
        e.data_flags = data->flags;
      }
    }
    std::string parent;
    if (!build_parent_path(volume, name.parent_reference, parent)) parent.clear();
    e.path = parent + name.name;
    out.push_back(e);
  }
  return out;
}

// Shortcuts and the two jump-list kinds, by the extension after the last dot.
inline bool selected_name(const std::string& path) {
  const std::string lower = to_lower_ascii(path);
  for (const char* extension : {".lnk", ".automaticdestinations-ms", ".customdestinations-ms"})
    if (lower.ends_with(extension)) return true;
  return false;
}

// One shortcut or jump list as sleuthkit sees it: every name fls gives it
// (" (deleted)" added), istat's facts and icat's bytes.
struct SelectedFile {
  std::vector<std::string> names;
  IstatFacts facts;
  std::vector<uint8_t> data;
};

struct Comparison {
  size_t layer_names = 0;     // named base entries the layer found
  size_t fls_names = 0;       // names fls listed (streams and orphans left out)
  size_t selected_deleted = 0;
  size_t istat_checked = 0;   // entries whose sequence, times and size matched istat
  size_t data_checked = 0;    // entries whose data matched icat
  size_t compressed_checked = 0;  // of them, compressed ones
  std::map<uint64_t, SelectedFile> selected;  // by MFT entry, both sides agreeing
};

// The bytes the layer reads for an entry's unnamed data, cut where icat
// stops reading the clusters: at the initialized size.
inline bool layer_data(NtfsVolume& volume, uint64_t entry, std::vector<uint8_t>& out) {
  mft_entries_ctx context(volume);
  if (!parse_entry(context, entry)) return false;
  const ParsedAttribute* data = context.entry.find(kAttrData);
  DataStream stream;
  if (data == nullptr || !copy_attribute_data(volume, *data, out, UINT64_MAX, stream)) return false;
  if (data->non_resident && data->initialized_size < out.size())
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(data->initialized_size), out.end(), uint8_t{0});
  return true;
}

// Compares the layer's view of a volume with fls -r -p, istat and icat:
// every name both ways, the shortcuts and jump lists in full, and istat and
// icat on up to sample_limit other files.
inline Comparison compare_with_sleuthkit(NtfsVolume& volume, const std::string& image, uint64_t sector_offset,
                                         size_t sample_limit = 25) {
  Comparison result;
  const std::vector<LayerEntry> layer = layer_entries(volume);
  const std::vector<FlsName> fls = fls_names(image, sector_offset);
  result.layer_names = layer.size();
  result.fls_names = fls.size();
  std::set<std::tuple<uint64_t, std::string, bool>> fls_set;
  std::set<uint64_t> layer_numbers, fls_selected, layer_selected;
  for (const LayerEntry& e : layer) layer_numbers.insert(e.entry);
  for (const FlsName& n : fls) {
    if (n.reallocated) continue;
    fls_set.insert({n.entry, n.path, n.deleted});
    EXPECT_TRUE(layer_numbers.count(n.entry)) << "fls lists " << n.path << " (" << n.entry << ")";
    if (selected_name(n.path) && !n.directory) {
      fls_selected.insert(n.entry);
      result.selected[n.entry].names.push_back(n.path + (n.deleted ? " (deleted)" : ""));
    }
  }
  size_t sampled = 0;
  for (const LayerEntry& e : layer) {
    const bool selected = selected_name(e.path) && !e.directory;
    // Entries with only named streams ($Secure, $UsnJrnl) are listed by fls
    // under their stream names alone.
    if (selected || e.has_data || e.directory) {
      EXPECT_TRUE(fls_set.count({e.entry, e.path, e.deleted}))
          << "fls does not list " << e.path << (e.deleted ? " (deleted)" : "") << " (" << e.entry << ")";
    }
    if (selected) {
      layer_selected.insert(e.entry);
      result.selected_deleted += e.deleted;
    } else if (e.directory || !e.has_data || e.entry < 16 || sampled++ >= sample_limit) {
      continue;
    }
    IstatFacts facts;
    if (!istat_facts(image, sector_offset, e.entry, facts)) {
      ADD_FAILURE() << "istat cannot read " << e.path;
      continue;
    }
    EXPECT_EQ(e.sequence, facts.sequence) << e.path;
    EXPECT_EQ(e.times.created, facts.created) << e.path;
    EXPECT_EQ(e.times.modified, facts.modified) << e.path;
    EXPECT_EQ(e.times.mft_changed, facts.mft_changed) << e.path;
    EXPECT_EQ(e.times.accessed, facts.accessed) << e.path;
    EXPECT_EQ(e.has_data, facts.has_data) << e.path;
    EXPECT_EQ(e.data_size, facts.data_size) << e.path;
    ++result.istat_checked;
    std::vector<uint8_t> theirs;
    // Empty data has no attribute value to read.
    if (e.has_data && e.data_size > 0 && e.data_size <= (4u << 20)) {
      result.compressed_checked += (e.data_flags & kAttrFlagCompressed) != 0;
      std::vector<uint8_t> mine;
      EXPECT_TRUE(layer_data(volume, e.entry, mine)) << e.path;
      theirs = icat_bytes(image, sector_offset, e.entry);
      EXPECT_TRUE(mine == theirs) << "data of " << e.path;
      ++result.data_checked;
    }
    if (const auto found = result.selected.find(e.entry); selected && found != result.selected.end()) {
      found->second.facts = facts;
      found->second.data = std::move(theirs);
    }
  }
  EXPECT_EQ(layer_selected, fls_selected);
  return result;
}

inline std::ostream& operator<<(std::ostream& out, const Comparison& c) {
  return out << "layer names " << c.layer_names << ", fls names " << c.fls_names << ", shortcuts and jump lists "
             << c.selected.size() << " (" << c.selected_deleted << " deleted), istat checks " << c.istat_checked
             << ", icat checks " << c.data_checked << " (" << c.compressed_checked << " compressed)";
}

}  // namespace lnk::test

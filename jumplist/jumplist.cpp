#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <vector>

#include "jumplist/compound_file.h"
#include "jumplist/custom_destinations.h"
#include "jumplist/destlist.h"
#include "jumplist/jumplist_records.h"
#include "lnk/parse_lnk.h"
#include "lnk/signature_search.h"
#include "lnk/tracker_block.h"
#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kSmallestCompoundFile = 512;
// Smaller buffers are not read as automatic-destinations lists; the file
// scan hands over a list padded to what its FAT can address.
constexpr uint64_t kSmallestJumpList = 4096;
// The index the writers take for "the DestList has no entry for this one".
constexpr uint32_t kNoMruIndex = 99999;
constexpr uint64_t kMostStreamNameDigits = 16;
constexpr const char* kDestListName = "destlist";
constexpr const char* kDestListPropertyStoreName = "destlistpropertystore";

bool stream_number_from_name(const std::string& name, uint64_t& number) {
  if (name.empty() || name.size() > kMostStreamNameDigits) return false;
  number = 0;
  for (char c : name) {
    const char d = c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    if (d >= '0' && d <= '9') number = number * 16 + static_cast<uint64_t>(d - '0');
    else if (d >= 'a' && d <= 'f') number = number * 16 + static_cast<uint64_t>(d - 'a' + 10);
    else return false;
  }
  return true;
}

bool is_jump_list_stream_name(const std::string& name) {
  uint64_t number = 0;
  const std::string lower = to_lower_ascii(name);
  return stream_number_from_name(name, number) || lower == kDestListName || lower == kDestListPropertyStoreName;
}

// Bytes gathered from pieces of the file, each still knowing its file offset.
class Gathered {
 public:
  Gathered(const std::vector<FileRun>& runs, const ByteReader& file) : runs_(runs) {
    // Each piece was cut to the file by whoever made the runs.
    for (const FileRun& run : runs_) {
      starts_.push_back(bytes_.size());
      const auto piece = file.span().subspan(run.offset, run.length);
      bytes_.insert(bytes_.end(), piece.begin(), piece.end());
    }
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint64_t file_offset(uint64_t position) const {
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), position);
    if (after == starts_.begin()) return 0;
    const size_t slot = static_cast<size_t>(after - starts_.begin()) - 1;
    return runs_[slot].offset + (position - starts_[slot]);
  }

 private:
  std::vector<FileRun> runs_;
  std::vector<uint64_t> starts_;
  std::vector<uint8_t> bytes_;
};

// One thing to report, in most-recently-used order: a stream (joined to
// its DestList entry when it has one) or an entry whose stream is gone.
struct Item {
  uint32_t mru_index = kNoMruIndex;
  uint64_t stream_number = 0;
  const CfbDirectoryEntry* stream = nullptr;
  const DestListEntry* entry = nullptr;
  uint64_t entry_file_offset = 0;
};

struct Carve {
  const CompoundFile& file;
  const ByteReader bytes;
  const JumpListPlacement& placement;
  const RecordSink& sink;
  JumplistKind kind = JumplistKind::without_destlist;
  std::string label;
  std::set<uint64_t> reported;  // file offsets of the records already reported
  bool found = false;
};

std::string guid_or_empty(const Guid& g) { return guid_is_zero(g) ? std::string() : guid_text(g); }

void join_entry(LnkRecord& record, const Item& item) {
  record.stream_number = item.stream_number;
  record.mru_index = item.mru_index;
  if (item.entry == nullptr) return;
  const DestListEntry& entry = *item.entry;
  record.mru_time = entry.last_access_time;
  record.destlist_netbios = entry.netbios_name;
  record.destlist_path = entry.path;
  record.destlist = {true,
                     entry.pin_status,
                     entry.has_access_count,
                     entry.access_count,
                     guid_or_empty(entry.droid_volume_id),
                     guid_or_empty(entry.droid_file_id),
                     guid_or_empty(entry.birth_droid_volume_id),
                     guid_or_empty(entry.birth_droid_file_id)};
}

// The entry alone: what the DestList says about a shortcut no stream holds.
void report_entry_only(Carve& carve, const Item& item) {
  const DestListEntry& entry = *item.entry;
  LnkRecord record;
  record.artifact = "LNK";
  record.source_type = carve.label + " (DestList entry only)";
  record.jumplist_kind = carve.kind;
  record.destlist_only = true;
  record.lnk_offset = carve.placement.place ? carve.placement.place(item.entry_file_offset) : item.entry_file_offset;
  join_entry(record, item);
  // The entry keeps the same object identifiers as a TrackerDataBlock.
  record.droid_volume_id = guid_or_empty(entry.droid_volume_id);
  record.droid_object_id = guid_or_empty(entry.droid_file_id);
  record.birth_droid_volume_id = guid_or_empty(entry.birth_droid_volume_id);
  record.birth_droid_object_id = guid_or_empty(entry.birth_droid_file_id);
  record.droid_object_id_raw = entry.droid_file_id;
  record.droid_time = uuid_filetime(entry.droid_file_id);
  record.birth_droid_time = uuid_filetime(entry.birth_droid_file_id);
  record.droid_mac = guid_is_zero(entry.droid_file_id) ? std::string() : uuid_node_text(entry.droid_file_id);
  record.birth_droid_mac =
      guid_is_zero(entry.birth_droid_file_id) ? std::string() : uuid_node_text(entry.birth_droid_file_id);
  carve.sink(record, ParsedBytes{{}, record.lnk_offset, {}});
  carve.found = true;
}

// Parses every signature of gathered bytes, each up to the next one; a
// record that starts where one was already reported is skipped.
size_t parse_hits(Carve& carve, const Gathered& gathered, const LnkRecord& base, bool from_slack) {
  static const SignatureSearch search;
  std::vector<uint64_t> hits;
  search.find_all(gathered.bytes(), hits);
  const std::span<const uint8_t> all(gathered.bytes());
  size_t parsed = 0;
  for (size_t i = 0; i < hits.size(); ++i) {
    const uint64_t file_offset = gathered.file_offset(hits[i]);
    if (carve.reported.count(file_offset) != 0) continue;
    const uint64_t end = i + 1 < hits.size() ? hits[i + 1] : all.size();
    const std::span<const uint8_t> piece = all.subspan(hits[i], end - hits[i]);
    LnkRecord record = base;
    // Records are placed by their offset in the file (a position in the
    // gathered bytes would point nowhere an examiner can look); slack
    // records of a file named by the user report none.
    const uint64_t offset = carve.placement.place ? carve.placement.place(file_offset) : file_offset;
    if (!from_slack || carve.placement.place) record.lnk_offset = offset;
    if (!parse_lnk_record(record, piece, offset)) continue;
    carve.reported.insert(file_offset);
    carve.sink(record, ParsedBytes{piece.first(record.parsed_size), offset, {}});
    carve.found = true;
    ++parsed;
  }
  return parsed;
}

void report_stream(Carve& carve, const Item& item) {
  Gathered gathered(stream_runs(carve.file, *item.stream, carve.bytes.size()), carve.bytes);
  LnkRecord base;
  base.artifact = "LNK";
  base.source_type = carve.label + " (carved allocated)";
  base.jumplist_kind = carve.kind;
  join_entry(base, item);
  // An entry whose stream holds no readable shortcut is still reported.
  if (parse_hits(carve, gathered, base, false) == 0 && item.entry != nullptr) report_entry_only(carve, item);
}

// Mini-sector slack first (in mini stream order), then sector slack (in file
// order), as one sequence.
void report_slack(Carve& carve, const CfbSlack& slack) {
  std::vector<FileRun> runs = slack.mini_sectors;
  runs.insert(runs.end(), slack.sectors.begin(), slack.sectors.end());
  if (runs.empty()) return;
  Gathered gathered(runs, carve.bytes);
  LnkRecord base;
  base.artifact = "LNK";
  base.source_type = carve.label + " (carved slack)";
  base.jumplist_kind = carve.kind;
  base.from_slack = true;
  parse_hits(carve, gathered, base, true);
}

const CfbDirectoryEntry* find_destlist(const CompoundFile& file) {
  for (const CfbDirectoryEntry& entry : file.entries)
    if (entry.object_type == kCfbStreamObject && to_lower_ascii(entry.name) == kDestListName) return &entry;
  return nullptr;
}

// Streams and orphaned entries in most-recently-used order; streams without
// an entry follow by number, other streams last.
std::vector<Item> order_items(const CompoundFile& file, const DestList& destlist, const Gathered& destlist_bytes) {
  std::map<uint32_t, size_t> position_of;  // entry number -> first entry with it
  for (size_t i = 0; i < destlist.entries.size(); ++i) position_of.emplace(destlist.entries[i].entry_number, i);
  std::vector<bool> joined(destlist.entries.size(), false);
  std::vector<Item> items;
  for (size_t i = 0; i < file.entries.size(); ++i) {
    const CfbDirectoryEntry& entry = file.entries[i];
    if (entry.object_type != kCfbStreamObject || entry.stream_size == 0 ||
        static_cast<int64_t>(i) == file.root_index)
      continue;
    Item item;
    item.stream = &entry;
    if (stream_number_from_name(entry.name, item.stream_number) && item.stream_number <= UINT32_MAX) {
      const auto hit = position_of.find(static_cast<uint32_t>(item.stream_number));
      if (hit != position_of.end()) {
        item.entry = &destlist.entries[hit->second];
        item.entry_file_offset = destlist_bytes.file_offset(item.entry->stream_offset);
        item.mru_index = static_cast<uint32_t>(hit->second + 1);
        joined[hit->second] = true;
      }
    }
    items.push_back(item);
  }
  for (size_t i = 0; i < destlist.entries.size(); ++i) {
    if (joined[i]) continue;
    Item item;
    item.entry = &destlist.entries[i];
    item.entry_file_offset = destlist_bytes.file_offset(item.entry->stream_offset);
    item.stream_number = item.entry->entry_number;
    item.mru_index = static_cast<uint32_t>(i + 1);
    items.push_back(item);
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.mru_index != b.mru_index) return a.mru_index < b.mru_index;
    return a.stream_number < b.stream_number;
  });
  return items;
}

JumpListFormat classify_compound_file(const CompoundFile& file) {
  if (!file.has_directory) return JumpListFormat::none;
  for (const CfbDirectoryEntry& entry : file.entries) {
    if (entry.object_type == kCfbStreamObject && !is_jump_list_stream_name(entry.name))
      return JumpListFormat::none;
    if (entry.object_type != kCfbStreamObject && entry.object_type != kCfbRootObject && entry.object_type != 0)
      return JumpListFormat::none;
  }
  return JumpListFormat::automatic;
}

}  // namespace

JumpListFormat classify_jump_list(std::span<const uint8_t> bytes) {
  if (looks_like_custom_destinations(ByteReader(bytes))) return JumpListFormat::custom;
  CompoundFile file;
  if (bytes.size() < kSmallestCompoundFile || !parse_compound_file(file, bytes.data(), bytes.size()))
    return JumpListFormat::none;
  return classify_compound_file(file);
}

bool carve_jump_list_records(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                             const RecordSink& sink) {
  if (bytes.size() < kSmallestJumpList) return false;
  const uint64_t size = bytes.size();
  CompoundFile file;
  if (!parse_compound_file(file, bytes.data(), size) || classify_compound_file(file) != JumpListFormat::automatic)
    return false;

  Carve carve{file,
              ByteReader(bytes),
              placement,
              sink,
              JumplistKind::without_destlist,
              placement.label.empty() ? "JMPLIST" : placement.label,
              {},
              false};
  DestList destlist;
  const CfbDirectoryEntry* destlist_stream = find_destlist(file);
  Gathered destlist_bytes(destlist_stream ? stream_runs(file, *destlist_stream, size) : std::vector<FileRun>{},
                          carve.bytes);
  // A DestList of a version not known yet has a header but no entries.
  if (destlist_stream && decode_destlist(ByteReader(destlist_bytes.bytes()), destlist) && destlist.known_version)
    carve.kind = JumplistKind::with_destlist;

  const std::vector<Item> items = order_items(file, destlist, destlist_bytes);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].stream != nullptr) report_stream(carve, items[i]);
    else report_entry_only(carve, items[i]);
    if (placement.progress) placement.progress(i, items.size());
  }
  report_slack(carve, find_slack(file, size));
  return carve.found;
}

}  // namespace lnk

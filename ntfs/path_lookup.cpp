#include "ntfs/path_lookup.h"

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <vector>

#include "ntfs/file_data.h"
#include "ntfs/mft_entry.h"
#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {
namespace {

// Index node header and entry fields.
constexpr uint64_t kNodeFirstEntryField = 0;
constexpr uint64_t kNodeInUseField = 4;
constexpr uint64_t kEntryReferenceField = 0;
constexpr uint64_t kEntryLengthField = 8;
constexpr uint64_t kEntryKeyLengthField = 10;
constexpr uint64_t kEntryFlagsField = 12;
constexpr uint16_t kEntryLast = 0x02;
constexpr uint64_t kEntryMinimum = 16;
constexpr uint32_t kNodeInUseLimit = 4096;
constexpr uint16_t kEntryLengthLimit = 768;

constexpr uint64_t kRootNodeHeaderOffset = 16;
constexpr uint64_t kRootBlockSizeField = 8;
constexpr uint64_t kBlockNodeHeaderOffset = 24;
constexpr uint32_t kDefaultIndexBlockSize = 4096;
constexpr uint32_t kMaxIndexBlockSize = 64u << 10;
// 1 GiB of 4 KiB blocks: the index of a directory with millions of entries.
constexpr uint64_t kMaxIndexBlocks = 1u << 18;

constexpr char kShadowCopyPrefix[] = "\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy";
constexpr char kCorrupted[] = "<path corrupted>";
// Deeper than any path Windows can make (32,767 characters).
constexpr size_t kMaxPathDepth = 16384;

std::string hex(uint64_t value) { return "0x" + hex_lower(value, 1); }

// NTFS raises a record's sequence number by one when it frees the record,
// skipping 0 on the way round.
uint16_t sequence_after_free(uint16_t sequence) { return sequence == 0xFFFF ? 1 : sequence + 1; }

// Whether a directory's record is free; read from the record when the scan
// that cached the directory did not say.
bool record_free(NtfsVolume& volume, uint64_t entry, const PathCacheEntry& cached) {
  if (cached.usage_known) return !cached.in_use;
  std::vector<uint8_t> record;
  RecordHeader header;
  if (volume.read_record(entry, record) != RecordRead::fixed || !decode_record_header(record, header)) return false;
  PathCacheEntry known = cached;
  known.usage_known = true;
  known.in_use = header.flags & kRecordInUse;
  volume.path_cache().remember(entry, known);
  return !known.in_use;
}

// A reference whose sequence is one behind a free record names that
// record's directory, deleted; any other difference is a reused record.
bool same_directory(NtfsVolume& volume, uint64_t entry, uint16_t sequence, const PathCacheEntry& cached) {
  if (sequence == 0 || !cached.sequence_known || sequence == cached.sequence) return true;
  return cached.sequence == sequence_after_free(sequence) && record_free(volume, entry, cached);
}

// The index block size a directory's root declares; 4,096 (what Windows
// always writes) when the value is not a plausible block size.
uint32_t index_block_size(const ParsedAttribute* root) {
  if (root == nullptr) return kDefaultIndexBlockSize;
  const uint32_t size = ByteReader(root->value).u32(kRootBlockSizeField);
  const bool plausible = size >= 512 && size <= kMaxIndexBlockSize && (size & (size - 1)) == 0;
  return plausible ? size : kDefaultIndexBlockSize;
}

// Only the mapped stretches of the allocation are read, block by block: a
// sparse or looping run list could otherwise claim far more blocks than
// the volume holds.
void walk_allocation(NtfsVolume& volume, const ParsedAttribute& allocation, uint32_t block_size,
                     std::set<uint64_t>& children) {
  DataStream stream;
  if (!open_attribute_data(volume, allocation, stream) || stream.mapped == nullptr) return;
  std::vector<uint8_t> block(block_size);
  uint64_t next = 0;  // first block not looked at yet
  uint64_t read = 0;
  for (const Extent& extent : stream.mapped->extents()) {
    if (extent.sparse) continue;
    const uint64_t end = std::min(extent.file_offset + extent.length, stream.size);
    for (uint64_t at = std::max(next, extent.file_offset / block_size * block_size);
         at < end && at + block_size <= stream.size && read < kMaxIndexBlocks; at += block_size) {
      next = at + block_size;
      ++read;
      if (!read_exact(*stream.source, at, block)) continue;
      if (record_kind(block) != RecordKind::index || !apply_fixups(block, volume.sector_size())) continue;
      walk_index_node(std::span(block).subspan(kBlockNodeHeaderOffset), children);
    }
  }
}

std::vector<std::string> split_path(const std::string& path, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(separator, start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Fills a listing's name map from its children's records. Only names whose
// parent is this directory count: a hard link elsewhere is not a child here.
void load_child_names(NtfsVolume& volume, uint64_t directory, DirectoryListing& listing) {
  volume.diag("info: get children names");
  mft_entries_ctx context(volume);
  for (uint64_t child : listing.children) {
    if (child == directory) continue;
    if (!parse_entry(context, child)) {
      volume.diag("err: readFR: inode " + hex(child));
      continue;
    }
    if (context.entry.names.empty()) volume.diag("err: namelookup: inode " + hex(child));
    for (const FileName& name : context.entry.names) {
      if (reference_entry(name.parent_reference) != directory) continue;
      listing.names.emplace(to_lower_ascii(name.name), make_reference(child, context.entry.header.sequence));
    }
  }
  listing.names_loaded = true;
}

}  // namespace

void walk_index_node(std::span<const uint8_t> node, std::set<uint64_t>& children) {
  const ByteReader header(node);
  const uint32_t first = header.u32(kNodeFirstEntryField);
  const uint32_t in_use = header.u32(kNodeInUseField);
  if (header.failed() || in_use < 1 || in_use > kNodeInUseLimit) return;
  const ByteReader entries = header.sub(0, in_use);
  uint64_t position = first;
  // Each step moves at least kEntryMinimum bytes inside in_use.
  while (entries.has(position, kEntryMinimum)) {
    const uint64_t reference = entries.u64(position + kEntryReferenceField);
    const uint16_t length = entries.u16(position + kEntryLengthField);
    const uint16_t key_length = entries.u16(position + kEntryKeyLengthField);
    const uint16_t flags = entries.u16(position + kEntryFlagsField);
    if (length < kEntryMinimum || length > in_use || key_length > in_use || key_length > length ||
        reference == 0 || (flags & kEntryLast))
      return;
    children.insert(reference_entry(reference));
    position += length;
    const uint16_t next_length = entries.u16(position + kEntryLengthField);
    if (entries.failed() || next_length == 0 || next_length > kEntryLengthLimit) return;
  }
}

bool list_children(NtfsVolume& volume, uint64_t directory, std::set<uint64_t>& children) {
  if (!volume.validate()) return false;
  mft_entries_ctx context(volume);
  if (!parse_entry(context, directory)) return false;
  const MftEntry& entry = context.entry;
  const ParsedAttribute* root = entry.find(kAttrIndexRoot, "$I30");
  if (root != nullptr && root->value.size() > kRootNodeHeaderOffset)
    walk_index_node(std::span(root->value).subspan(kRootNodeHeaderOffset), children);
  const ParsedAttribute* allocation = entry.find(kAttrIndexAllocation, "$I30");
  if (allocation != nullptr) walk_allocation(volume, *allocation, index_block_size(root), children);
  return true;
}

std::string strip_shadow_copy_prefix(const std::string& path) {
  const std::string prefix = kShadowCopyPrefix;
  if (path.rfind("\\\\?\\", 0) != 0 || to_lower_ascii(path.substr(0, prefix.size())) != prefix) return path;
  const size_t next = path.find('\\', prefix.size());
  return next == std::string::npos ? std::string() : path.substr(next);
}

bool lookup_path(NtfsVolume& volume, const std::string& given, uint64_t& entry) {
  entry = 0;
  if (!volume.validate() || given.empty()) return false;
  const std::string path = strip_shadow_copy_prefix(given);
  volume.diag("anal: " + path);
  const char separator = path.find('/') != std::string::npos ? '/' : '\\';
  if (!path.empty() && path[0] == separator) volume.diag("root dir");
  std::vector<std::string> segments = split_path(path, separator);
  if (!segments.empty() && segments[0].size() >= 2 && segments[0][1] == ':') segments.erase(segments.begin());
  uint64_t current = kRootDirectoryEntry;
  for (std::string segment : segments) {
    segment = to_lower_ascii(segment);
    if (const size_t colon = segment.find(':'); colon != std::string::npos) segment.resize(colon);
    volume.diag("seg: " + segment);
    DirectoryListing* listing = volume.directory_cache().find(current);
    if (listing != nullptr && listing->names_loaded) {
      volume.diag("info: cache lookup");
    } else {
      if (listing == nullptr) {
        volume.diag("info: get children nodes");
        std::set<uint64_t> children;
        if (!list_children(volume, current, children) || children.empty()) {
          volume.diag("info: none found");
          volume.diag("inode not found for " + given);
          return false;
        }
        listing = &volume.directory_cache().add(current);
        listing->children = std::move(children);
        volume.diag("info: # children [" + std::to_string(listing->children.size()) + "]");
      }
      load_child_names(volume, current, *listing);
    }
    if (listing->names.empty()) {
      volume.diag("err: no child names");
      volume.diag("inode not found for " + given);
      return false;
    }
    const auto found = listing->names.find(segment);
    if (found == listing->names.end()) {
      volume.diag("err: no child nodes");
      volume.diag("inode not found for " + given);
      return false;
    }
    volume.diag("info: inode found for seg: " + segment + " : " + hex(reference_entry(found->second)));
    current = reference_entry(found->second);
  }
  entry = current;
  return true;
}

bool build_parent_path(NtfsVolume& volume, uint64_t parent_reference, std::string& out) {
  out.clear();
  if (!volume.validate()) return false;
  std::vector<std::string> segments;
  // The stops the format gives (the root, a reused parent, a nameless or
  // self-naming parent) miss a loop through two or more directories, which
  // a damaged or hostile MFT can hold; the first entry met twice ends the
  // walk as a broken chain, so the path still shows the names below it.
  std::unordered_set<uint64_t> visited;
  mft_entries_ctx context(volume);
  uint64_t reference = parent_reference;
  while (true) {
    const uint64_t p = reference_entry(reference);
    const uint16_t s = reference_sequence(reference);
    if (p == kRootDirectoryEntry) break;
    if (!visited.insert(p).second || segments.size() >= kMaxPathDepth) {
      segments.push_back(kCorrupted);
      break;
    }
    PathCacheEntry cached;
    if (const PathCacheEntry* known = volume.path_cache().find(p)) {
      cached = *known;
    } else {
      if (!parse_entry(context, p)) return false;
      const FileName* name = context.entry.preferred_name();
      cached.sequence = context.entry.header.sequence;
      cached.sequence_known = true;
      cached.in_use = context.entry.in_use();
      cached.usage_known = true;
      if (name != nullptr) {
        cached.name = name->name;
        cached.parent_reference = name->parent_reference;
        cached.flags = name->flags;
      }
      volume.path_cache().remember(p, cached);
    }
    // Checked for cached directories too: one the scan passed may have
    // been deleted since and its record reused.
    if (!same_directory(volume, p, s, cached)) {
      segments.push_back(kCorrupted);
      break;
    }
    if (cached.name.empty()) {
      segments.push_back(kCorrupted);
      break;
    }
    segments.push_back(cached.name);
    if (cached.parent_reference == reference) {
      segments.push_back(kCorrupted);
      break;
    }
    reference = cached.parent_reference;
  }
  out = "[root]\\";
  for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
    if (*it != ".") out += *it;
    out += "\\";
  }
  return true;
}

}  // namespace lnk

#include "ntfs/mft_entry.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kMaxAttributeList = 4u << 20;
// Distinct attributes and extension records one list may bring in: far
// above what a real file needs (a file of a million fragments has a few
// thousand extension records), and a bound on what a hostile list costs.
constexpr size_t kMaxListedAttributes = 65536;
constexpr size_t kMaxExtensionRecords = 4096;

// Joins the pieces of a non-resident attribute that an attribute list
// spread over several records into one run list, in VCN order. The first
// piece carries the sizes; a piece that does not continue where the runs
// so far end is dropped, so a gap ends the data there.
void merge_pieces(std::vector<ParsedAttribute>& attributes) {
  std::map<std::pair<uint32_t, std::string>, size_t> first_piece;
  std::vector<size_t> pieces(attributes.size());
  for (size_t i = 0; i < attributes.size(); ++i) pieces[i] = i;
  std::stable_sort(pieces.begin(), pieces.end(), [&](size_t a, size_t b) {
    return attributes[a].lowest_vcn < attributes[b].lowest_vcn;
  });
  std::vector<bool> keep(attributes.size(), true);
  std::map<std::pair<uint32_t, std::string>, uint64_t> next_vcn;
  for (size_t i : pieces) {
    ParsedAttribute& a = attributes[i];
    if (!a.non_resident) continue;
    const auto key = std::make_pair(a.type, a.name);
    auto found = first_piece.find(key);
    if (found == first_piece.end()) {
      if (a.lowest_vcn != 0) continue;  // a stray piece with no start stays as it is
      first_piece[key] = i;
      uint64_t vcn = 0;
      for (const DataRun& run : a.runs) vcn += run.length;
      next_vcn[key] = vcn;
      continue;
    }
    keep[i] = false;
    if (a.lowest_vcn != next_vcn[key]) continue;
    ParsedAttribute& head = attributes[found->second];
    for (const DataRun& run : a.runs) next_vcn[key] += run.length;
    head.runs.insert(head.runs.end(), a.runs.begin(), a.runs.end());
    head.highest_vcn = a.highest_vcn;
  }
  std::vector<ParsedAttribute> merged;
  for (size_t i = 0; i < attributes.size(); ++i)
    if (keep[i]) merged.push_back(std::move(attributes[i]));
  attributes = std::move(merged);
}

}  // namespace

const ParsedAttribute* MftEntry::find(uint32_t type, const std::string& name) const {
  const std::string wanted = to_lower_ascii(name);
  for (const ParsedAttribute& a : attributes)
    if (a.type == type && to_lower_ascii(a.name) == wanted) return &a;
  return nullptr;
}

const FileName* MftEntry::preferred_name() const {
  for (const FileName& n : names)
    if (n.name_space != kNameSpaceDos) return &n;
  return names.empty() ? nullptr : &names.front();
}

bool read_entry_record(mft_entries_ctx& context, uint64_t n) {
  context.bad_record = false;
  if (!context.volume->validate()) return false;
  const RecordRead read = context.volume->read_record(n, context.record);
  context.bad_record = read == RecordRead::bad;
  return read != RecordRead::absent;
}

bool parse_attribute(const AttributeView& a, uint64_t holder, MftEntry& entry) {
  if (!a.well_formed) return false;
  if (!a.non_resident && a.value.empty()) return true;
  ParsedAttribute p;
  p.type = a.type;
  p.name = a.name();
  p.label = attribute_label(a.type, p.name);
  p.flags = a.flags;
  p.id = a.id;
  p.holder_entry = holder;
  p.non_resident = a.non_resident;
  if (a.non_resident) {
    p.lowest_vcn = a.lowest_vcn;
    p.highest_vcn = a.highest_vcn;
    p.allocated_size = a.allocated_size;
    p.real_size = a.real_size;
    p.initialized_size = a.initialized_size;
    p.compression_unit = a.compression_unit;
    // Runs decoded before a malformed one still describe the data's start.
    decode_data_runs(a.run_bytes, p.runs);
  } else {
    p.value.assign(a.value.begin(), a.value.end());
    if (a.type == kAttrStandardInformation && !entry.has_standard_information)
      entry.has_standard_information = decode_standard_information(a.value, entry.standard_information);
    FileName name;
    if (a.type == kAttrFileName && decode_file_name(a.value, name)) entry.names.push_back(std::move(name));
  }
  if (a.type == kAttrAttributeList) entry.has_attribute_list = true;
  entry.attributes.push_back(std::move(p));
  return true;
}

std::vector<uint8_t> attribute_list_bytes(NtfsVolume& volume, const ParsedAttribute& list) {
  if (!list.non_resident) return list.value;
  std::vector<uint8_t> bytes;
  auto source = volume.runs_source(list.runs, std::min(list.real_size, kMaxAttributeList), UINT64_MAX);
  if (!source) return bytes;
  bytes.assign(source->size(), 0);
  // A cluster that cannot be read ends the list there.
  const uint64_t step = volume.cluster_size();
  uint64_t done = 0;
  while (done < bytes.size()) {
    const uint64_t piece = std::min<uint64_t>(step, bytes.size() - done);
    if (!read_exact(*source, done, std::span(bytes).subspan(done, piece))) break;
    done += piece;
  }
  bytes.resize(done);
  return bytes;
}

bool load_attribute_list(mft_entries_ctx& context, const ParsedAttribute& list) {
  MftEntry& entry = context.entry;
  const std::vector<uint8_t> bytes = attribute_list_bytes(*context.volume, list);
  std::set<std::pair<uint64_t, uint16_t>> loaded;
  std::set<uint64_t> holders;
  std::vector<uint8_t> holder_record;
  uint64_t holder_read = UINT64_MAX;
  bool holder_usable = false;
  AttributeListWalker walker(bytes);
  AttributeListEntry item;
  while (walker.next(item) && loaded.size() < kMaxListedAttributes) {
    const uint64_t holder = reference_entry(item.reference);
    // The base record's own attributes were parsed already; an entry that
    // names it (or a list that names its own record) is not read again.
    if (holder == entry.entry || !loaded.insert({holder, item.id}).second) continue;
    if (holder != holder_read) {
      if (!holders.count(holder) && holders.size() >= kMaxExtensionRecords) continue;
      holders.insert(holder);
      holder_read = holder;
      RecordHeader header;
      holder_usable = context.volume->read_record(holder, holder_record) == RecordRead::fixed &&
                      record_kind(holder_record) == RecordKind::file &&
                      decode_record_header(holder_record, header) &&
                      reference_entry(header.base_reference) == entry.entry;
    }
    if (!holder_usable) continue;
    AttributeWalker attributes(holder_record);
    AttributeView a;
    while (attributes.next(a)) {
      if (a.id != item.id || a.type != item.type) continue;
      parse_attribute(a, holder, entry);
      break;
    }
  }
  merge_pieces(entry.attributes);
  return true;
}

bool parse_entry(mft_entries_ctx& context, uint64_t n, std::span<const uint8_t> record) {
  NtfsVolume& volume = *context.volume;
  context.entry = MftEntry{};
  context.entry.entry = n;
  if (!record.empty()) {
    context.record.assign(record.begin(), record.end());
    context.bad_record = false;
  } else if (!read_entry_record(context, n)) {
    volume.diag("err: mftfixup " + hex_lower(n, 1));
    return false;
  }
  if (context.bad_record) {
    volume.diag("err: recd bad " + hex_lower(n, 1));
    return false;
  }
  if (!decode_record_header(context.record, context.entry.header)) return false;
  AttributeWalker walker(context.record);
  AttributeView a;
  while (walker.next(a)) {
    if (!parse_attribute(a, n, context.entry)) break;
  }
  // The list is copied: loading it adds to the attribute vector.
  const ParsedAttribute* list = context.entry.find(kAttrAttributeList);
  if (list != nullptr) {
    const ParsedAttribute copy = *list;
    load_attribute_list(context, copy);
  }
  return true;
}

bool categorize_attributes(NtfsVolume& volume, uint64_t n, MftEntry& entry, std::span<const uint8_t> record) {
  mft_entries_ctx context(volume);
  const bool parsed = parse_entry(context, n, record);
  entry = std::move(context.entry);
  if (!parsed) volume.diag("err: fixup: 0x" + hex_lower(n, 1));
  return parsed;
}

}  // namespace lnk

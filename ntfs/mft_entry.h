// A whole MFT entry: its base record's attributes and those its attribute
// list places in extension records, decoded into plain values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"

namespace lnk {

struct ParsedAttribute {
  uint32_t type = 0;
  std::string name;
  std::string label;
  uint16_t flags = 0;
  uint16_t id = 0;
  uint64_t holder_entry = 0;  // the record it was read from
  bool non_resident = false;
  uint64_t lowest_vcn = 0;
  uint64_t highest_vcn = 0;
  uint64_t allocated_size = 0;
  uint64_t real_size = 0;
  uint64_t initialized_size = 0;
  uint8_t compression_unit = 0;
  std::vector<DataRun> runs;
  std::vector<uint8_t> value;  // resident only

  // Real size for a non-resident attribute, the value length otherwise.
  uint64_t data_size() const { return non_resident ? real_size : value.size(); }
};

struct MftEntry {
  uint64_t entry = 0;
  RecordHeader header;
  bool has_attribute_list = false;
  bool has_standard_information = false;
  StandardInformation standard_information;
  std::vector<FileName> names;
  std::vector<ParsedAttribute> attributes;

  bool in_use() const { return header.flags & kRecordInUse; }
  bool is_directory() const { return header.flags & kRecordDirectory; }
  // The first attribute of type whose name equals name (lower-case ASCII
  // comparison; "" for the unnamed one); null when there is none.
  const ParsedAttribute* find(uint32_t type, const std::string& name = "") const;
  // The first name that is not a DOS 8.3 name, else the first name.
  const FileName* preferred_name() const;
};

// The walking context: one volume, one reused record buffer, the entry
// being parsed.
struct mft_entries_ctx {
  explicit mft_entries_ctx(NtfsVolume& v) : volume(&v) {}
  NtfsVolume* volume;
  bool bad_record = false;
  std::vector<uint8_t> record;
  MftEntry entry;
};

// Reads record n into the context's buffer (fixups applied). A "BAAD"
// record is handed back with bad_record set; absent records fail.
bool read_entry_record(mft_entries_ctx& context, uint64_t n);
// Parses entry n into context.entry: the header, every attribute up to the
// first malformed one, and the attributes its list places elsewhere.
// Fails (and logs) for an absent or "BAAD" record. A record the caller has
// already read and fixed is taken as given instead of being read again.
bool parse_entry(mft_entries_ctx& context, uint64_t n, std::span<const uint8_t> record = {});
// Every attribute of entry n, those in extension records included; logs
// "err: fixup: 0x<n>" when the record cannot be read.
bool categorize_attributes(NtfsVolume& volume, uint64_t n, MftEntry& entry, std::span<const uint8_t> record = {});
// Adds one attribute of a record to entry. False when it is malformed.
bool parse_attribute(const AttributeView& attribute, uint64_t holder, MftEntry& entry);
// Loads the attributes that entry's list (an $ATTRIBUTE_LIST attribute
// already parsed into it) places in other records.
bool load_attribute_list(mft_entries_ctx& context, const ParsedAttribute& list);
// The bytes of an $ATTRIBUTE_LIST, resident or not; cut at a size no list
// NTFS writes exceeds.
std::vector<uint8_t> attribute_list_bytes(NtfsVolume& volume, const ParsedAttribute& list);

}  // namespace lnk

// One MFT record: update-sequence fixups, the record header, the attribute
// walk, data runs and the two attribute values every caller needs
// ($STANDARD_INFORMATION and $FILE_NAME). Views point into the caller's
// record bytes and live no longer than they do.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/byte_reader.h"

namespace lnk {

// Attribute types.
constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrObjectId = 0x40;
constexpr uint32_t kAttrSecurityDescriptor = 0x50;
constexpr uint32_t kAttrVolumeName = 0x60;
constexpr uint32_t kAttrVolumeInformation = 0x70;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrIndexRoot = 0x90;
constexpr uint32_t kAttrIndexAllocation = 0xA0;
constexpr uint32_t kAttrBitmap = 0xB0;
constexpr uint32_t kAttrReparsePoint = 0xC0;
constexpr uint32_t kAttrEaInformation = 0xD0;
constexpr uint32_t kAttrEa = 0xE0;
constexpr uint32_t kAttrPropertySet = 0xF0;
constexpr uint32_t kAttrLoggedUtilityStream = 0x100;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// Record header flags.
constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint16_t kRecordDirectory = 0x0002;

// Attribute header flags.
constexpr uint16_t kAttrFlagCompressed = 0x0001;
constexpr uint16_t kAttrFlagEncrypted = 0x4000;
constexpr uint16_t kAttrFlagSparse = 0x8000;

// $FILE_NAME name spaces.
constexpr uint8_t kNameSpacePosix = 0;
constexpr uint8_t kNameSpaceWin32 = 1;
constexpr uint8_t kNameSpaceDos = 2;
constexpr uint8_t kNameSpaceWin32AndDos = 3;

constexpr uint64_t kRootDirectoryEntry = 5;
constexpr uint64_t kMftEntry = 0;
constexpr uint64_t kBitmapEntry = 6;

// A file reference: entry number in the low 48 bits, sequence number above.
constexpr uint64_t reference_entry(uint64_t reference) { return reference & 0x0000FFFFFFFFFFFFull; }
constexpr uint16_t reference_sequence(uint64_t reference) { return static_cast<uint16_t>(reference >> 48); }
constexpr uint64_t make_reference(uint64_t entry, uint16_t sequence) {
  return reference_entry(entry) | (uint64_t{sequence} << 48);
}

enum class RecordKind { file, index, bad, other };
RecordKind record_kind(std::span<const uint8_t> record);

// Puts the sector-end words of a "FILE" record (update sequence offset at
// most 48, count at most 9) or an "INDX" block back from its update
// sequence array: every record length / (count - 1) bytes when that is an
// even power of two, else every sector_size bytes. The words being replaced
// are replaced even where they differ from the sequence value: a torn
// write still yields the bytes the record last held; torn, when given, says
// whether any differed. False, with the bytes untouched, for any other
// record ("BAAD" included) or a sector size under 2.
bool apply_fixups(std::span<uint8_t> record, uint32_t sector_size, bool* torn = nullptr);

// For bytes carved from raw clusters: a copy of the "FILE" record that
// starts them, as long as its update sequence says ((count - 1) x 512
// bytes: 1,024 or 4,096), with its fixups applied, so that resident data
// inside it reads without the sequence value at each sector end. False
// when the bytes do not start with such a record or end before it does.
bool fixed_file_record(std::span<const uint8_t> bytes, uint32_t sector_size, std::vector<uint8_t>& out);

struct RecordHeader {
  uint16_t update_sequence_offset = 0;
  uint16_t update_sequence_count = 0;
  uint64_t log_sequence = 0;
  uint16_t sequence = 0;
  uint16_t link_count = 0;
  uint16_t first_attribute = 0;
  uint16_t flags = 0;
  uint32_t used_size = 0;
  uint32_t allocated_size = 0;
  uint64_t base_reference = 0;
};
// Needs the 42 bytes every record version has; does not test the signature.
bool decode_record_header(std::span<const uint8_t> record, RecordHeader& out);

// One attribute as it lies in its record.
struct AttributeView {
  uint32_t type = 0;
  uint32_t length = 0;
  bool non_resident = false;
  uint16_t flags = 0;
  uint16_t id = 0;
  uint32_t record_offset = 0;            // where the attribute starts in its record
  std::span<const uint8_t> name_utf16;   // empty when unnamed
  // Resident.
  std::span<const uint8_t> value;
  // Non-resident.
  uint64_t lowest_vcn = 0;
  uint64_t highest_vcn = 0;
  uint64_t allocated_size = 0;
  uint64_t real_size = 0;
  uint64_t initialized_size = 0;
  uint8_t compression_unit = 0;  // log2 of the clusters per compression unit
  std::span<const uint8_t> run_bytes;
  // Header and value (or run list) lie inside the attribute.
  bool well_formed = false;

  bool named() const { return !name_utf16.empty(); }
  std::string name() const;
  // Lower-case ASCII comparison with the attribute's name.
  bool name_is(const char* ascii) const;
};

// Walks a record's attributes from its first-attribute offset. Ends at the
// end marker, at a length too small to hold a header, or at an attribute
// that would reach past the record. Each step moves at least 16 bytes.
class AttributeWalker {
 public:
  explicit AttributeWalker(std::span<const uint8_t> record);
  // The next attribute; false at the end. A malformed attribute is returned
  // once with well_formed clear, and the walk ends after it.
  bool next(AttributeView& out);

 private:
  ByteReader record_;
  uint64_t position_ = 0;
  bool done_ = false;
};

struct DataRun {
  int64_t start_cluster = 0;  // -1: sparse
  uint64_t length = 0;        // clusters
  bool sparse() const { return start_cluster < 0; }
};
// Decodes a run list up to its zero header byte (or the end of the bytes).
// Fails on a length field of 0 or more than 8 bytes, an offset field of more
// than 8 bytes, a run of 0 clusters, a cluster number that leaves
// [0, 2^63), or a total length that overflows. Runs decoded before a
// failure stay in runs.
bool decode_data_runs(std::span<const uint8_t> bytes, std::vector<DataRun>& runs);

struct StandardInformation {
  uint64_t created = 0;
  uint64_t modified = 0;
  uint64_t mft_changed = 0;
  uint64_t accessed = 0;
  uint32_t file_attributes = 0;
};
bool decode_standard_information(std::span<const uint8_t> value, StandardInformation& out);

struct FileName {
  uint64_t parent_reference = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  uint64_t mft_changed = 0;
  uint64_t accessed = 0;
  uint64_t allocated_size = 0;
  uint64_t real_size = 0;
  uint32_t flags = 0;
  uint8_t name_space = 0;
  std::string name;  // UTF-8
};
// The name must fit in the value; an empty name fails.
bool decode_file_name(std::span<const uint8_t> value, FileName& out);

// The category text of an attribute type ("indx root", "bitmap", ... "unk").
std::string attribute_label(uint32_t type, const std::string& stream_name);
// "ver: 3.1 (WinXP)" from a $VOLUME_INFORMATION value.
std::string volume_version_text(std::span<const uint8_t> value);

}  // namespace lnk

namespace lnk {

// One entry of an $ATTRIBUTE_LIST value.
struct AttributeListEntry {
  uint32_t type = 0;
  uint16_t length = 0;
  uint64_t starting_vcn = 0;
  uint64_t reference = 0;  // the record that holds the attribute
  uint16_t id = 0;
  std::span<const uint8_t> name_utf16;
};

// Walks the entries of a list value; ends at an entry length too small for
// the fixed part (0 included) or one that reaches past the value.
class AttributeListWalker {
 public:
  explicit AttributeListWalker(std::span<const uint8_t> list) : list_(list) {}
  bool next(AttributeListEntry& out);

 private:
  ByteReader list_;
  uint64_t position_ = 0;
};

}  // namespace lnk

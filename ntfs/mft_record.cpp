#include "ntfs/mft_record.h"

#include <cstring>

#include "platform/text.h"

namespace lnk {
namespace {

// Record header fields.
constexpr uint64_t kUpdateSequenceOffsetField = 4;
constexpr uint64_t kUpdateSequenceCountField = 6;
constexpr uint64_t kLogSequenceField = 8;
constexpr uint64_t kSequenceField = 16;
constexpr uint64_t kLinkCountField = 18;
constexpr uint64_t kFirstAttributeField = 20;
constexpr uint64_t kFlagsField = 22;
constexpr uint64_t kUsedSizeField = 24;
constexpr uint64_t kAllocatedSizeField = 28;
constexpr uint64_t kBaseReferenceField = 32;
constexpr uint64_t kRecordHeaderSize = 42;

// A FILE record's update sequence array must sit in the header and be short
// enough for a 4,096-byte record of 512-byte sectors.
constexpr uint16_t kFileSequenceOffsetLimit = 48;
constexpr uint16_t kFileSequenceCountLimit = 9;
constexpr uint64_t kMinimumStride = 256;
constexpr uint64_t kSequenceStride = 512;

// Attribute header fields.
constexpr uint64_t kAttrTypeField = 0;
constexpr uint64_t kAttrLengthField = 4;
constexpr uint64_t kAttrNonResidentField = 8;
constexpr uint64_t kAttrNameLengthField = 9;
constexpr uint64_t kAttrNameOffsetField = 10;
constexpr uint64_t kAttrFlagsField = 12;
constexpr uint64_t kAttrIdField = 14;
constexpr uint64_t kAttrValueLengthField = 16;
constexpr uint64_t kAttrValueOffsetField = 20;
constexpr uint64_t kAttrLowestVcnField = 16;
constexpr uint64_t kAttrHighestVcnField = 24;
constexpr uint64_t kAttrRunsOffsetField = 32;
constexpr uint64_t kAttrCompressionUnitField = 34;
constexpr uint64_t kAttrAllocatedSizeField = 40;
constexpr uint64_t kAttrRealSizeField = 48;
constexpr uint64_t kAttrInitializedSizeField = 56;
constexpr uint64_t kResidentHeaderSize = 24;
constexpr uint64_t kNonResidentHeaderSize = 64;
constexpr uint64_t kAttrMinimumLength = 16;

// $STANDARD_INFORMATION and $FILE_NAME value fields.
constexpr uint64_t kSiCreatedField = 0;
constexpr uint64_t kSiModifiedField = 8;
constexpr uint64_t kSiMftChangedField = 16;
constexpr uint64_t kSiAccessedField = 24;
constexpr uint64_t kSiAttributesField = 32;
constexpr uint64_t kSiMinimumSize = 36;
constexpr uint64_t kFnParentField = 0;
constexpr uint64_t kFnCreatedField = 8;
constexpr uint64_t kFnModifiedField = 16;
constexpr uint64_t kFnMftChangedField = 24;
constexpr uint64_t kFnAccessedField = 32;
constexpr uint64_t kFnAllocatedSizeField = 40;
constexpr uint64_t kFnRealSizeField = 48;
constexpr uint64_t kFnFlagsField = 56;
constexpr uint64_t kFnNameLengthField = 64;
constexpr uint64_t kFnNameSpaceField = 65;
constexpr uint64_t kFnNameField = 66;

// $VOLUME_INFORMATION.
constexpr uint64_t kVolumeMajorField = 8;
constexpr uint64_t kVolumeMinorField = 9;

bool signature_is(std::span<const uint8_t> record, const char (&text)[5]) {
  return record.size() >= 4 && std::memcmp(record.data(), text, 4) == 0;
}

}  // namespace

RecordKind record_kind(std::span<const uint8_t> record) {
  if (signature_is(record, "FILE")) return RecordKind::file;
  if (signature_is(record, "INDX")) return RecordKind::index;
  if (signature_is(record, "BAAD")) return RecordKind::bad;
  return RecordKind::other;
}

bool apply_fixups(std::span<uint8_t> record, uint32_t sector_size, bool* torn) {
  if (torn != nullptr) *torn = false;
  const ByteReader reader(record);
  const RecordKind kind = record_kind(record);
  const uint16_t offset = reader.u16(kUpdateSequenceOffsetField);
  const uint16_t count = reader.u16(kUpdateSequenceCountField);
  if (sector_size < 2 || reader.failed()) return false;
  if (kind == RecordKind::file) {
    if (offset > kFileSequenceOffsetLimit || count > kFileSequenceCountLimit) return false;
  } else if (kind != RecordKind::index) {
    return false;
  }
  // NTFS protects every 512 bytes whatever the device's sector size, so a
  // record from a 4,096-byte-sector volume still carries nine entries for
  // 4,096 bytes: an array that divides the record evenly gives the stride,
  // anything else falls back to the sector size.
  uint64_t stride = sector_size;
  if (count >= 2 && record.size() % (count - 1u) == 0) {
    const uint64_t even = record.size() / (count - 1u);
    if (even >= kMinimumStride && (even & (even - 1)) == 0) stride = even;
  }
  const uint64_t sectors = record.size() / stride;
  // The array is read whole before any word is replaced: in a record whose
  // array runs into a sector end, a replaced word must not feed a later one.
  std::vector<uint16_t> words;
  for (uint64_t i = 1; i < count && i <= sectors; ++i) {
    const uint16_t word = reader.u16(uint64_t{offset} + 2 * i);
    if (reader.failed()) break;
    words.push_back(word);
  }
  const uint16_t sequence = reader.u16(offset);
  for (uint64_t i = 1; i <= words.size(); ++i) {
    const uint64_t at = i * stride - 2;
    if (torn != nullptr && reader.u16(at) != sequence) *torn = true;
    record[at] = static_cast<uint8_t>(words[i - 1] & 0xFF);
    record[at + 1] = static_cast<uint8_t>(words[i - 1] >> 8);
  }
  return true;
}

bool fixed_file_record(std::span<const uint8_t> bytes, uint32_t sector_size, std::vector<uint8_t>& out) {
  out.clear();
  const ByteReader r(bytes);
  const uint16_t count = r.u16(kUpdateSequenceCountField);
  if (r.failed() || record_kind(bytes) != RecordKind::file || count < 2 || count > kFileSequenceCountLimit) return false;
  const uint64_t length = (count - 1u) * kSequenceStride;
  if (!r.has(0, length)) return false;
  out.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  if (apply_fixups(out, sector_size)) return true;
  out.clear();
  return false;
}

bool decode_record_header(std::span<const uint8_t> record, RecordHeader& out) {
  const ByteReader r(record);
  if (!r.has(0, kRecordHeaderSize)) return false;
  out.update_sequence_offset = r.u16(kUpdateSequenceOffsetField);
  out.update_sequence_count = r.u16(kUpdateSequenceCountField);
  out.log_sequence = r.u64(kLogSequenceField);
  out.sequence = r.u16(kSequenceField);
  out.link_count = r.u16(kLinkCountField);
  out.first_attribute = r.u16(kFirstAttributeField);
  out.flags = r.u16(kFlagsField);
  out.used_size = r.u32(kUsedSizeField);
  out.allocated_size = r.u32(kAllocatedSizeField);
  out.base_reference = r.u64(kBaseReferenceField);
  return true;
}

std::string AttributeView::name() const { return utf16le_to_utf8(name_utf16); }

bool AttributeView::name_is(const char* ascii) const {
  const size_t length = std::strlen(ascii);
  if (name_utf16.size() != 2 * length) return false;
  for (size_t i = 0; i < length; ++i) {
    const uint16_t unit = static_cast<uint16_t>(name_utf16[2 * i] | (name_utf16[2 * i + 1] << 8));
    const char c = ascii[i];
    const uint16_t lower = unit >= 'A' && unit <= 'Z' ? unit + ('a' - 'A') : unit;
    const uint16_t wanted = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (lower != wanted) return false;
  }
  return true;
}

AttributeWalker::AttributeWalker(std::span<const uint8_t> record) : record_(record) {
  position_ = ByteReader(record).u16(kFirstAttributeField);
  done_ = !record_.has(0, kRecordHeaderSize) || position_ < kRecordHeaderSize;
}

bool AttributeWalker::next(AttributeView& out) {
  if (done_) return false;
  const uint32_t type = record_.u32(position_ + kAttrTypeField);
  const uint32_t length = record_.u32(position_ + kAttrLengthField);
  if (record_.failed() || type == kAttrEnd || length < kAttrMinimumLength ||
      !record_.has(position_, length)) {
    done_ = true;
    return false;
  }
  out = AttributeView{};
  out.type = type;
  out.length = length;
  out.record_offset = static_cast<uint32_t>(position_);
  const ByteReader a = record_.sub(position_, length);
  position_ += length;

  out.non_resident = a.u8(kAttrNonResidentField) != 0;
  out.flags = a.u16(kAttrFlagsField);
  out.id = a.u16(kAttrIdField);
  const uint8_t name_length = a.u8(kAttrNameLengthField);
  const uint16_t name_offset = a.u16(kAttrNameOffsetField);
  bool sound = true;
  if (name_length != 0) {
    const uint64_t bytes = uint64_t{name_length} * 2;
    sound = a.has(name_offset, bytes);
    if (sound) out.name_utf16 = a.span().subspan(name_offset, bytes);
  }
  if (!out.non_resident) {
    const uint32_t value_length = a.u32(kAttrValueLengthField);
    const uint16_t value_offset = a.u16(kAttrValueOffsetField);
    sound = sound && a.has(0, kResidentHeaderSize) && a.has(value_offset, value_length);
    if (sound) out.value = a.span().subspan(value_offset, value_length);
  } else {
    out.lowest_vcn = a.u64(kAttrLowestVcnField);
    out.highest_vcn = a.u64(kAttrHighestVcnField);
    const uint16_t runs_offset = a.u16(kAttrRunsOffsetField);
    out.compression_unit = a.u8(kAttrCompressionUnitField);
    out.allocated_size = a.u64(kAttrAllocatedSizeField);
    out.real_size = a.u64(kAttrRealSizeField);
    out.initialized_size = a.u64(kAttrInitializedSizeField);
    // Lowest VCN > 0 marks a piece of an attribute split over records; only
    // the first piece carries the sizes, but every piece has the full header.
    sound = sound && a.has(0, kNonResidentHeaderSize) && runs_offset <= length;
    if (sound) out.run_bytes = a.span().subspan(runs_offset);
  }
  out.well_formed = sound;
  if (!sound) done_ = true;
  return true;
}

bool decode_data_runs(std::span<const uint8_t> bytes, std::vector<DataRun>& runs) {
  const ByteReader r(bytes);
  uint64_t position = 0;
  int64_t cluster = 0;
  uint64_t total = 0;
  // Every run takes at least two bytes, so the walk ends with the bytes.
  while (position < r.size()) {
    const uint8_t header = r.u8(position);
    if (header == 0) return true;
    const uint8_t length_size = header & 0x0F;
    const uint8_t offset_size = header >> 4;
    if (length_size == 0 || length_size > 8 || offset_size > 8 ||
        !r.has(position + 1, uint64_t{length_size} + offset_size))
      return false;
    uint64_t length = 0;
    for (uint8_t i = length_size; i > 0; --i) length = (length << 8) | r.u8(position + i);
    if (length == 0 || !checked_add(total, length, total)) return false;
    DataRun run;
    run.length = length;
    if (offset_size == 0) {
      run.start_cluster = -1;
    } else {
      uint64_t raw = 0;
      for (uint8_t i = offset_size; i > 0; --i) raw = (raw << 8) | r.u8(position + length_size + i);
      // Sign-extend from the top bit of the last byte.
      if (offset_size < 8 && (raw >> (offset_size * 8 - 1)) & 1) raw |= ~uint64_t{0} << (offset_size * 8);
      const int64_t delta = static_cast<int64_t>(raw);
      if ((delta > 0 && cluster > INT64_MAX - delta) || cluster + delta < 0) return false;
      cluster += delta;
      run.start_cluster = cluster;
    }
    runs.push_back(run);
    position += 1 + uint64_t{length_size} + offset_size;
  }
  return true;
}

bool decode_standard_information(std::span<const uint8_t> value, StandardInformation& out) {
  const ByteReader r(value);
  if (!r.has(0, kSiMinimumSize)) return false;
  out.created = r.u64(kSiCreatedField);
  out.modified = r.u64(kSiModifiedField);
  out.mft_changed = r.u64(kSiMftChangedField);
  out.accessed = r.u64(kSiAccessedField);
  out.file_attributes = r.u32(kSiAttributesField);
  return true;
}

bool decode_file_name(std::span<const uint8_t> value, FileName& out) {
  const ByteReader r(value);
  const uint8_t length = r.u8(kFnNameLengthField);
  if (r.failed() || length == 0 || !r.has(kFnNameField, uint64_t{length} * 2)) return false;
  out.parent_reference = r.u64(kFnParentField);
  out.created = r.u64(kFnCreatedField);
  out.modified = r.u64(kFnModifiedField);
  out.mft_changed = r.u64(kFnMftChangedField);
  out.accessed = r.u64(kFnAccessedField);
  out.allocated_size = r.u64(kFnAllocatedSizeField);
  out.real_size = r.u64(kFnRealSizeField);
  out.flags = r.u32(kFnFlagsField);
  out.name_space = r.u8(kFnNameSpaceField);
  out.name = utf16le_to_utf8(value.subspan(kFnNameField, uint64_t{length} * 2));
  return true;
}

std::string attribute_label(uint32_t type, const std::string& stream_name) {
  switch (type) {
    case kAttrObjectId: return "obj id";
    case kAttrSecurityDescriptor: return "security descr";
    case kAttrVolumeName: return "vol name";
    case kAttrVolumeInformation: return "vol info";
    case kAttrData: return stream_name.empty() ? "unnamed data" : stream_name;
    case kAttrIndexRoot: return "indx root";
    case kAttrIndexAllocation: return "indx alloc";
    case kAttrBitmap: return "bitmap";
    case kAttrReparsePoint: return "reparse point";
    case kAttrEaInformation: return "extended attribs info";
    case kAttrEa: return "extended attribs";
    case kAttrPropertySet: return "property set";
    case kAttrLoggedUtilityStream: return "logged stream";
    default: return "unk";
  }
}

std::string volume_version_text(std::span<const uint8_t> value) {
  const ByteReader r(value);
  const uint8_t major = r.u8(kVolumeMajorField);
  const uint8_t minor = r.u8(kVolumeMinorField);
  std::string text = "ver: " + std::to_string(major) + "." + std::to_string(minor);
  if (major == 1 && minor == 2) return text + " (WinNT)";
  if (major == 3 && minor == 0) return text + " (Win2k)";
  if (major == 3 && minor == 1) return text + " (WinXP)";
  if (major > 3 || (major == 3 && minor >= 2)) return text + " (Windows)";
  return text + "(Unk version)";
}

}  // namespace lnk

namespace lnk {
namespace {

constexpr uint64_t kListTypeField = 0;
constexpr uint64_t kListLengthField = 4;
constexpr uint64_t kListNameLengthField = 6;
constexpr uint64_t kListNameOffsetField = 7;
constexpr uint64_t kListStartingVcnField = 8;
constexpr uint64_t kListReferenceField = 16;
constexpr uint64_t kListIdField = 24;
constexpr uint64_t kListEntryMinimum = 26;

}  // namespace

bool AttributeListWalker::next(AttributeListEntry& out) {
  const uint16_t length = list_.u16(position_ + kListLengthField);
  if (list_.failed() || length < kListEntryMinimum || !list_.has(position_, length)) return false;
  const ByteReader e = list_.sub(position_, length);
  position_ += length;
  out = AttributeListEntry{};
  out.type = e.u32(kListTypeField);
  out.length = length;
  out.starting_vcn = e.u64(kListStartingVcnField);
  out.reference = e.u64(kListReferenceField);
  out.id = e.u16(kListIdField);
  const uint8_t name_length = e.u8(kListNameLengthField);
  const uint8_t name_offset = e.u8(kListNameOffsetField);
  if (name_length != 0 && e.has(name_offset, uint64_t{name_length} * 2))
    out.name_utf16 = e.span().subspan(name_offset, uint64_t{name_length} * 2);
  return true;
}

}  // namespace lnk

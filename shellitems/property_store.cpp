#include "shellitems/property_store.h"

#include <cstdio>

#include "platform/text.h"
#include "shellitems/property_embedded.h"
#include "shellitems/property_names.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

// Serialized property storage (MS-PROPSTORE).
constexpr uint64_t kStorageSizeOffset = 0;
constexpr uint64_t kStorageVersionOffset = 4;
constexpr uint64_t kStorageFormatIdOffset = 8;
constexpr uint64_t kStorageValuesOffset = 24;
constexpr uint64_t kStorageHeaderSize = 24;
constexpr uint64_t kMaxStorages = 4096;
constexpr uint64_t kMaxValuesPerStorage = 65536;

// String-named value: size, name size, reserved byte, name, VARTYPE.
constexpr uint64_t kNamedValueNameSizeOffset = 4;
constexpr uint64_t kNamedValueReservedOffset = 8;
constexpr uint64_t kNamedValueNameOffset = 9;
constexpr uint64_t kNamedSetMinimum = 35;
constexpr uint64_t kNamedValueMinimum = 11;
constexpr uint32_t kNamedValueMaximum = 32768;

// Integer-identified value: size, PID, reserved byte, VARTYPE at +9.
constexpr uint64_t kIdValuePidOffset = 4;
constexpr uint64_t kIdValueTypeOffset = 9;
constexpr uint64_t kIdValueHeaderSize = 13;
constexpr uint64_t kIdSetMinimum = 37;
constexpr uint64_t kIdSetMinimumBare = 28;
constexpr uint32_t kIdValueMaximum = 0x10000;
constexpr uint16_t kHighestVarType = 73;

constexpr uint64_t kNextStorageMinimum = 37;
constexpr uint64_t kContinueMinimum = 38;


struct StorageWalk {
  PropertyMap& out;
  DecodeContext& context;
  uint64_t base_position;  // of the store's first byte
};

bool is_nested_structure(const Property& p) {
  if (p.name != "prop4294967295") return false;
  std::string value = to_lower_ascii(p.text);
  return value.find("autolist") != std::string::npos || value.find("condition") != std::string::npos;
}

// value covers one property value from its VARTYPE to its end; value_position
// is the absolute position of the VARTYPE.
void decode_and_keep(StorageWalk& walk, Property&& property, ByteReader value,
                     uint64_t value_position) {
  if (!decode_property_value(property, value)) return;
  if (!property.bytes.empty()) {
    uint64_t bytes_position = value_position + property.bytes_offset;
    if (is_nested_structure(property)) {
      attach_nested_idlists(property, bytes_position, walk.context);
    } else {
      attach_embedded_idlist(property, bytes_position, walk.context);
    }
  }
  add_property(walk.out, std::move(property));
}

void walk_string_named_set(StorageWalk& walk, const ByteReader& storage, const Guid& fmtid,
                           uint64_t storage_position) {
  uint64_t size = storage.size();
  if (size < kNamedSetMinimum) return;
  uint64_t first_size = storage.u32(kStorageValuesOffset);
  uint64_t first_name_size = storage.u32(kStorageValuesOffset + kNamedValueNameSizeOffset);
  if (first_size > size || first_name_size + 5 > first_size) return;

  uint64_t pos = kStorageValuesOffset;
  for (uint64_t n = 0; n < kMaxValuesPerStorage && size - pos >= 12; ++n) {
    uint32_t value_size = storage.u32(pos);
    uint32_t name_size = storage.u32(pos + kNamedValueNameSizeOffset);
    if (value_size < kNamedValueMinimum || value_size > size - pos ||
        value_size > kNamedValueMaximum || value_size < name_size ||
        storage.u8(pos + kNamedValueReservedOffset) != 0) {
      return;
    }
    ByteReader value = storage.sub(pos, value_size);
    Property property;
    property.fmtid = fmtid;
    property.string_named = true;
    property.name = value.utf16z(kNamedValueNameOffset, name_size);
    uint64_t type_at = kNamedValueNameOffset + uint64_t{name_size};
    while (type_at < value.size() && value.u8(type_at) == 0) ++type_at;
    if (!value.has(type_at, 8)) return;
    decode_and_keep(walk, std::move(property), value.tail(type_at),
                    storage_position + pos + type_at);
    pos += value_size;
  }
}

void keep_id_value(StorageWalk& walk, const ByteReader& value, const Guid& fmtid,
                   uint64_t value_position) {
  Property property;
  property.fmtid = fmtid;
  property.pid = value.u32(kIdValuePidOffset);
  name_property(property);
  decode_and_keep(walk, std::move(property), value.tail(kIdValueTypeOffset),
                  value_position + kIdValueTypeOffset);
}

void walk_id_set(StorageWalk& walk, const ByteReader& storage, const Guid& fmtid,
                 uint64_t storage_position) {
  uint64_t size = storage.size();
  if (size < kIdSetMinimumBare) return;
  uint32_t first_size = storage.u32(kStorageValuesOffset);
  if (first_size == 0) {
    Property bare;
    bare.fmtid = fmtid;
    bare.vartype = kVtEmpty;
    bare.name = "unk";
    add_property(walk.out, std::move(bare));
    return;
  }
  if (size < kIdSetMinimum) return;
  uint16_t first_type = storage.u16(kStorageValuesOffset + kIdValueTypeOffset);
  if ((first_type & 0x8000) != 0 || (first_type & 0x0FFF) > kHighestVarType) return;

  uint64_t pos = kStorageValuesOffset;
  for (uint64_t n = 0; n < kMaxValuesPerStorage; ++n) {
    if (n > 0) {
      if (size - pos <= kIdValueHeaderSize) return;
      while (storage.has(pos, 2) && storage.u16(pos) == 0) pos += 2;
      if (size - pos < kIdValueHeaderSize) return;
    }
    uint32_t value_size = storage.u32(pos);
    if (value_size == 0 || value_size > kIdValueMaximum || value_size > size - pos) return;
    keep_id_value(walk, storage.sub(pos, value_size), fmtid, storage_position + pos);
    pos += value_size;
  }
}

}  // namespace

void add_property(PropertyMap& out, Property&& property) {
  char key[24];
  std::snprintf(key, sizeof key, "%010zu", out.size());
  out.emplace(key, std::move(property));
}

bool parse_property_store(PropertyMap& out, ByteReader bytes, DecodeContext& context) {
  StorageWalk walk{out, context, context.position};
  bool accepted = false;
  uint64_t pos = 0;
  for (uint64_t n = 0; n < kMaxStorages; ++n) {
    uint64_t left = bytes.size() - pos;
    if (left < kStorageHeaderSize) break;
    uint32_t storage_size = bytes.u32(pos + kStorageSizeOffset);
    if (storage_size < kStorageHeaderSize || storage_size > left ||
        bytes.u32(pos + kStorageVersionOffset) != kPropertyStorageVersion) {
      break;
    }
    accepted = true;
    ByteReader storage = bytes.sub(pos, storage_size);
    Guid fmtid = storage.guid(kStorageFormatIdOffset);
    if (fmtid == kStringNamedSetId) {
      walk_string_named_set(walk, storage, fmtid, walk.base_position + pos);
    } else {
      walk_id_set(walk, storage, fmtid, walk.base_position + pos);
    }

    if (storage.u32(kStorageValuesOffset) > kNamedValueMaximum) break;
    pos += storage_size;
    if (bytes.size() - pos < kNextStorageMinimum) break;
    // Some writers pad between storages with zero words.
    while (bytes.size() - pos >= kNextStorageMinimum && bytes.u32(pos) == 0) pos += 2;
    if (bytes.size() - pos < kContinueMinimum) break;
  }
  return accepted;
}

}  // namespace lnk

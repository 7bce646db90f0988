#include "lnk/tracker_block.h"

#include "platform/text.h"
#include "core/time_value.h"

namespace lnk {
namespace {

constexpr uint64_t kMachineIdOffset = 16;
constexpr uint64_t kMachineIdSize = 16;
constexpr uint64_t kDroidVolumeOffset = 32;
constexpr uint64_t kDroidObjectOffset = 48;
constexpr uint64_t kBirthDroidVolumeOffset = 64;
constexpr uint64_t kBirthDroidObjectOffset = 80;

constexpr size_t kUuidNodeOffset = 10;

std::string guid_or_empty(const Guid& g) { return guid_is_zero(g) ? std::string() : guid_text(g); }

}  // namespace

uint64_t uuid_filetime(const Guid& uuid) {
  uint64_t filetime = 0;
  uuid_filetime(uuid, filetime);
  return filetime;
}

std::string uuid_node_text(const Guid& uuid) { return mac_text(uuid.data() + kUuidNodeOffset); }

void decode_tracker_block(LnkRecord& record, const ByteReader& block) {
  // The Length and Version fields are not trusted: writers vary.
  record.machine_id = block.ansiz(kMachineIdOffset, kMachineIdSize);
  record.ansi_texts |= kAnsiMachineId;
  Guid droid_object = block.guid(kDroidObjectOffset);
  Guid birth_object = block.guid(kBirthDroidObjectOffset);
  record.droid_mac = guid_is_zero(droid_object) ? std::string() : uuid_node_text(droid_object);
  record.birth_droid_mac = guid_is_zero(birth_object) ? std::string() : uuid_node_text(birth_object);
  record.droid_time = uuid_filetime(droid_object);
  record.birth_droid_time = uuid_filetime(birth_object);
  record.droid_object_id = guid_or_empty(droid_object);
  record.droid_volume_id = guid_or_empty(block.guid(kDroidVolumeOffset));
  record.birth_droid_volume_id = guid_or_empty(block.guid(kBirthDroidVolumeOffset));
  record.birth_droid_object_id = guid_or_empty(birth_object);
  record.droid_object_id_raw = droid_object;
}

}  // namespace lnk

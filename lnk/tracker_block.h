// TrackerDataBlock: the machine and the object identifiers of the target.
#pragma once

#include <cstdint>
#include <string>

#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// FILETIME of a version-1 UUID's time field; 0 when the UUID is not
// version 1 or its time lies before 1601.
uint64_t uuid_filetime(const Guid& uuid);
// Node bytes (the MAC address) as "xx:xx:xx:xx:xx:xx".
std::string uuid_node_text(const Guid& uuid);

// block holds the 96 bytes of the TrackerDataBlock.
void decode_tracker_block(LnkRecord& record, const ByteReader& block);

}  // namespace lnk

// The log of a VHDX file: metadata writes that reached the log but maybe
// not their place in the file. A header that names a log asks for them to
// be replayed; rook replays them over the file in memory, never on disk.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/byte_reader.h"
#include "storage/byte_source.h"

namespace lnk {

// CRC-32C of bytes, the 4 bytes at checksum_at counted as zeros.
uint32_t vhdx_checksum(std::span<const uint8_t> bytes, uint64_t checksum_at);
// The checksum matches the one stored at checksum_at.
bool vhdx_checksum_ok(std::span<const uint8_t> bytes, uint64_t checksum_at);

// The file as it reads with the log's active sequence applied; null with
// why set when the log cannot be replayed.
std::shared_ptr<ByteSource> replay_vhdx_log(std::shared_ptr<ByteSource> file, const Guid& log_guid, uint64_t log_at,
                                            uint64_t log_bytes, std::string& why);

}  // namespace lnk

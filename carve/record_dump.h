// Copies of accepted records written to the -outdir folder.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "lnk/record_sink.h"
#include "platform/pending_file.h"

namespace lnk {

// "carvelnk_0003_0x00001f400_0x01a4.bin" for record 3 at 0x1f400, 0x1a4 bytes.
std::string record_dump_name(uint32_t count, uint64_t record_offset, uint32_t parsed_size);

// Counts the record and writes its parsed bytes into a new file in dir that
// takes its name only when committed (never over a file already there).
// path: the dump's name. A dump that cannot be written is removed: the
// result is inactive and error holds the system's errno value.
platform::PendingFile dump_record(const std::string& dir, uint32_t& count, uint64_t record_offset,
                                  std::span<const uint8_t> record_bytes, std::string& path, int& error);

// Writes the bytes a shortcut file carries after its record beside the
// record's dump (record_path): "..._0x01a4.bin" gets "..._0x01a4_appended.bin".
// path and error as above.
platform::PendingFile dump_appended(const std::string& record_path, const ByteFeed& appended, std::string& path,
                                   int& error);

}  // namespace lnk

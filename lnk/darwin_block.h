// DarwinDataBlock: the Windows Installer descriptor of an advertised shortcut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// GUID text of a Windows Installer packed GUID (20 base-85 characters);
// decoding stops at the first character outside the alphabet, leaving the
// rest of the GUID zero.
std::string packed_guid_text(const std::vector<uint16_t>& characters, size_t start);

// block holds the 788 bytes of the DarwinDataBlock.
void decode_darwin_block(LnkRecord& record, const ByteReader& block);

}  // namespace lnk

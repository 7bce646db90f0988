// ANSI texts of a record, decoded by Windows code page: -codepage, else
// the platform's default, so that every layout writes UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "core/options.h"
#include "lnk/lnk_record.h"

namespace lnk {

// The code page the run's layouts decode ANSI texts with.
uint32_t layout_code_page(const cmd_params& options);

// ANSI bytes as UTF-8. The one place the conversion is asked for.
std::string decode_ansi(const std::string& bytes, uint32_t codepage);

// True when a text the record holds as ANSI has a byte above 0x7F, so that
// decoding changes it.
bool has_ansi_beyond_ascii(const LnkRecord& record);

// Decodes in place every ANSI text of the record: its flagged fields and
// the ANSI texts of every shell item, nested ones included.
void decode_ansi_texts(LnkRecord& record, uint32_t codepage);

}  // namespace lnk

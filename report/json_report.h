// The -json layout: one JSON object per record on one line (JSON Lines),
// every decoded field named and nested; docs/json.md is its schema.
#pragma once

#include <cstdint>
#include <string>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/record_values.h"

namespace lnk {

// The run's date and time formats do not shape JSON: the notes it carries
// are rendered with these (numbers in hexadecimal), and instants are ISO 8601.
inline constexpr const char* kJsonNoteDateFormat = "yyyy-mm-dd";
inline constexpr const char* kJsonNoteTimeFormat = "hh:mm:ss.xxxxxxx";

class JsonWriter;

// A DestList entry's own fields (pin status, access count, path, droid IDs),
// with the entry's NetBIOS name after its path when with_netbios is set.
void destlist_entry_fields(JsonWriter& w, const LnkRecord& record, bool with_netbios);

// Appends the record's line, newline included. values must be derived from
// this very record (its item names are keyed by item address), with the
// note formats above; codepage is the one the ANSI texts were decoded with.
void append_json_record(std::string& line, const LnkRecord& record, const SourceInfo& source,
                        const useropts& options, const RecordValues& values, uint32_t codepage);

}  // namespace lnk

// Carving shortcut records out of the raw bytes of a source, 64 KiB at a
// time, by their ShellLinkHeader signature.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "carve/record_outlet.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "lnk/signature_search.h"
#include "storage/byte_source.h"

namespace lnk {

// One signature hit of a chunk; the kind says which quick pattern matched.
struct CarveHit {
  uint64_t position = 0;
  uint32_t pattern = 0;
};

struct CarveContext {
  ByteSource* source = nullptr;
  uint64_t source_size = 0;
  std::vector<uint8_t> buffer;
  uint32_t chunk_size = 65536;
  // Bytes re-read for the last hit of a chunk, so a record that runs past
  // the chunk's end is still whole.
  uint32_t tail_size = 16384;
  int64_t range_end = 0;
  std::vector<std::vector<uint8_t>> quick_patterns;
  std::vector<uint8_t> record_pattern;
  LnkRecord record;
  uint64_t chunk_counter = 0;
  int64_t position = 0;
  int64_t hit_position = 0;
  bool ready = false;
  // Only the first quick_run positions of each sector are tested unless a
  // chunk shows an unaligned shortcut or an MFT record.
  uint32_t quick_run = 64;
  uint32_t sector = 512;
  std::string label;
  bool percent_display = true;

  // A record carved from inside an MFT record is parsed from a fixed copy.
  std::vector<uint8_t> record_window = std::vector<uint8_t>(4096);
  std::vector<uint8_t> fixed_record;

  // Progress counts the bytes a carve reads, not the size a container
  // claims: stretches that hold no data are passed over.
  uint64_t bytes_to_read = 0;
  uint64_t bytes_read = 0;
  // Stretches a container claims but does not store, told on standard error.
  uint32_t unstored_told = 0;

  // Working lists kept across chunks so a chunk allocates nothing.
  std::vector<CarveHit> hits;
  std::vector<uint64_t> full_hits;
  SignatureSearch search;
};

// Resets the context and, when the source holds bytes, binds it to the whole source.
bool bind_carve_context(CarveContext& context, ByteSource* source);

// Carves from the context's position to its range end; true when a record
// was put to the outlet. Whole chunks the source knows hold no data are
// passed over; where the source stores nothing more up to the range end,
// the carve says so and ends.
bool carve_range(CarveContext& context, const SourceInfo& source, RecordOutlet& outlet);

// Carves the whole source.
bool carve_source(ByteSource& bytes, const SourceInfo& source, RecordOutlet& outlet);

}  // namespace lnk

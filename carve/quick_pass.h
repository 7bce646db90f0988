// The quick pass of the raw carver: only the first positions of every sector
// are tested, and a chunk is searched at every position only when they show
// an unaligned shortcut or an MFT record.
#pragma once

#include <span>
#include <vector>

#include "carve/carve_context.h"

namespace lnk {

// Hits of the quick patterns in the first quick_run positions of every
// sector, in position order; at each position the first pattern that matches
// and fits in the chunk counts.
void quick_pass(const CarveContext& context, std::span<const uint8_t> chunk, std::vector<CarveHit>& hits);

// Whether the quick hits call for the search at every position: a shortcut
// off a sector boundary, or an MFT record on one.
bool needs_full_search(const CarveContext& context, const std::vector<CarveHit>& hits);

}  // namespace lnk

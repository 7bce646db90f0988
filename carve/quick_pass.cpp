#include "carve/quick_pass.h"

#include <algorithm>
#include <array>
#include <bit>

#include "platform/byte_reader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lnk {
namespace {

constexpr uint32_t kDefaultSector = 512;
constexpr uint32_t kShortcutPattern = 0;
constexpr uint32_t kMftRecordPattern = 1;
// Positions are tested in blocks of 64, one bit each.
constexpr uint64_t kBlock = 64;
constexpr size_t kMaxLeads = 4;

// The distinct first two bytes of the patterns (the first alone for a
// one-byte pattern). Two bytes keep random data from making candidates that
// the pattern compare then rejects. With more than four, every position is a
// candidate.
struct Leads {
  std::array<uint8_t, kMaxLeads> first{};
  std::array<uint8_t, kMaxLeads> second{};
  std::array<bool, kMaxLeads> first_only{};
  size_t count = 0;
  bool every_position = false;
#if defined(__SSE2__)
  __m128i first_vector[kMaxLeads] = {};
  __m128i second_vector[kMaxLeads] = {};
  __m128i any_second[kMaxLeads] = {};
#endif
};

Leads pattern_leads(const std::vector<std::vector<uint8_t>>& patterns) {
  Leads leads;
  for (const auto& pattern : patterns) {
    if (pattern.empty()) continue;
    const bool first_only = pattern.size() == 1;
    const uint8_t second = first_only ? 0 : pattern[1];
    bool known = false;
    for (size_t i = 0; i < leads.count; ++i)
      known |= leads.first[i] == pattern[0] && leads.first_only[i] == first_only && leads.second[i] == second;
    if (known) continue;
    if (leads.count == kMaxLeads) {
      leads.every_position = true;
      break;
    }
    leads.first[leads.count] = pattern[0];
    leads.second[leads.count] = second;
    leads.first_only[leads.count] = first_only;
    ++leads.count;
  }
#if defined(__SSE2__)
  for (size_t i = 0; i < kMaxLeads; ++i) {
    leads.first_vector[i] = _mm_set1_epi8(static_cast<char>(leads.first[i]));
    leads.second_vector[i] = _mm_set1_epi8(static_cast<char>(leads.second[i]));
    leads.any_second[i] = leads.first_only[i] ? _mm_set1_epi8(-1) : _mm_setzero_si128();
  }
#endif
  return leads;
}

// Bit i is set when a pattern may start at block + i; the block holds count
// (at most 64) positions, all inside chunk. Slots is leads.count, fixed at
// compile time so the compares unroll.
template <size_t Slots>
uint64_t candidate_mask(std::span<const uint8_t> chunk, uint64_t block, uint64_t count, const Leads& leads) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  // The second bytes are loaded one further on.
  if (count == kBlock && fits(block, kBlock + 1, chunk.size())) {
    const uint8_t* data = chunk.data() + block;
    for (uint64_t part = 0; part < kBlock; part += 16) {
      const __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + part));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + part + 1));
      __m128i any = _mm_setzero_si128();
      for (size_t i = 0; i < Slots; ++i) {
        const __m128i second = _mm_or_si128(_mm_cmpeq_epi8(next, leads.second_vector[i]), leads.any_second[i]);
        any = _mm_or_si128(any, _mm_and_si128(_mm_cmpeq_epi8(at, leads.first_vector[i]), second));
      }
      mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(any))) << part;
    }
    return mask;
  }
#endif
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t position = block + i;
    for (size_t j = 0; j < Slots; ++j) {
      if (chunk[position] != leads.first[j]) continue;
      if (leads.first_only[j] || (position + 1 < chunk.size() && chunk[position + 1] == leads.second[j]))
        mask |= uint64_t{1} << i;
    }
  }
  return mask;
}

// Testing the first and last bytes inline rejects nearly every candidate
// before a compare is called.
bool pattern_at(std::span<const uint8_t> chunk, uint64_t position, const std::vector<uint8_t>& pattern) {
  return !pattern.empty() && fits(position, pattern.size(), chunk.size()) && chunk[position] == pattern.front() &&
         chunk[position + pattern.size() - 1] == pattern.back() && std::ranges::equal(pattern, chunk.subspan(position, pattern.size()));
}

// Slots 0 stands for every position being a candidate.
template <size_t Slots>
void scan_sectors(const CarveContext& context, std::span<const uint8_t> chunk, const Leads& leads,
                  std::vector<CarveHit>& hits) {
  const uint64_t size = chunk.size();
  const uint64_t sector = context.sector == 0 ? kDefaultSector : context.sector;
  for (uint64_t start = 0; start < size; start += sector) {
    const uint64_t end = start + std::min<uint64_t>(context.quick_run, size - start);
    for (uint64_t block = start; block < end; block += kBlock) {
      const uint64_t count = std::min(kBlock, end - block);
      uint64_t mask = count == kBlock ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
      if constexpr (Slots > 0) mask = candidate_mask<Slots>(chunk, block, count, leads);
      for (; mask != 0; mask &= mask - 1) {
        const uint64_t position = block + static_cast<uint64_t>(std::countr_zero(mask));
        for (uint32_t kind = 0; kind < context.quick_patterns.size(); ++kind) {
          if (pattern_at(chunk, position, context.quick_patterns[kind])) {
            hits.push_back({position, kind});
            break;
          }
        }
      }
    }
    if (size - start <= sector) break;
  }
}

}  // namespace

void quick_pass(const CarveContext& context, std::span<const uint8_t> chunk, std::vector<CarveHit>& hits) {
  hits.clear();
  const Leads leads = pattern_leads(context.quick_patterns);
  if (leads.every_position) return scan_sectors<0>(context, chunk, leads, hits);
  switch (leads.count) {
    case 1: return scan_sectors<1>(context, chunk, leads, hits);
    case 2: return scan_sectors<2>(context, chunk, leads, hits);
    case 3: return scan_sectors<3>(context, chunk, leads, hits);
    case 4: return scan_sectors<4>(context, chunk, leads, hits);
    default: return;
  }
}

bool needs_full_search(const CarveContext& context, const std::vector<CarveHit>& hits) {
  const uint64_t sector = context.sector == 0 ? kDefaultSector : context.sector;
  for (const CarveHit& hit : hits) {
    const bool aligned = hit.position % sector == 0;
    if (hit.pattern == kShortcutPattern && !aligned) return true;
    if (hit.pattern == kMftRecordPattern && aligned) return true;
  }
  return false;
}

}  // namespace lnk

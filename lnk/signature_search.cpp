#include "lnk/signature_search.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ROOK_X86_KERNELS 1
#endif

namespace lnk {
namespace {

constexpr uint64_t kSignatureSize = kLnkHeaderSignature.size();
constexpr uint64_t kHeaderBytes = 76;
// Steps at or above this test their few positions directly; smaller ones
// filter the hits of the vector search by their distance from the start.
constexpr uint32_t kDirectStepFrom = 32;

// The vector loops test two signature bytes 19 apart before the whole
// compare: zeros are everywhere, but 0x4C followed 19 bytes on by 0x46 is
// rare even in text, and a third probe costs more than the compares it saves.
constexpr uint64_t kProbeFirst = 0;
constexpr uint64_t kProbeLast = 19;
static_assert(kLnkHeaderSignature[kProbeFirst] == 0x4C);
static_assert(kLnkHeaderSignature[kProbeLast] == 0x46);

// The callers have checked that position + 20 lies inside the bytes.
bool whole_signature_at(const uint8_t* data, uint64_t position) {
  return std::memcmp(data + position, kLnkHeaderSignature.data(), kSignatureSize) == 0;
}

// Positions from limit - 19 on cannot hold a whole signature.
uint64_t clamp_limit(std::span<const uint8_t> bytes, uint64_t limit) {
  if (bytes.size() < kSignatureSize) return 0;
  return std::min<uint64_t>(limit, bytes.size() - kSignatureSize + 1);
}

// 0x80 in every byte of v that is zero, 0 in every other; no carry crosses
// a byte, so the mask is exact.
constexpr uint64_t zero_bytes(uint64_t v) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((v & kLow7) + kLow7) | v | kLow7);
}

uint64_t load_word(const uint8_t* data, uint64_t at) {
  uint64_t word = 0;
  std::memcpy(&word, data + at, sizeof word);
  return word;
}

// The portable loop tests eight positions per word on little-endian
// machines, one at a time elsewhere and in the last few.
uint64_t scalar_from(const uint8_t* data, uint64_t p, uint64_t limit) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kFirst = kOnes * kLnkHeaderSignature[kProbeFirst];
    constexpr uint64_t kLast = kOnes * kLnkHeaderSignature[kProbeLast];
    // Loads reach p + 7 + 19, inside the bytes while p + 7 is below limit.
    for (; limit - p >= 8; p += 8) {
      uint64_t mask = zero_bytes(load_word(data, p) ^ kFirst) & zero_bytes(load_word(data, p + kProbeLast) ^ kLast);
      for (; mask != 0; mask &= mask - 1) {
        const uint64_t candidate = p + static_cast<uint64_t>(std::countr_zero(mask)) / 8;
        if (whole_signature_at(data, candidate)) return candidate;
      }
    }
  }
  for (; p < limit; ++p) {
    if (data[p + kProbeLast] == kLnkHeaderSignature[kProbeLast] &&
        data[p] == kLnkHeaderSignature[kProbeFirst] && whole_signature_at(data, p))
      return p;
  }
  return limit;
}

uint64_t find_scalar(std::span<const uint8_t> bytes, uint64_t from, uint64_t end) {
  const uint64_t limit = clamp_limit(bytes, end);
  if (from >= limit) return end;
  const uint64_t found = scalar_from(bytes.data(), from, limit);
  return found < limit ? found : end;
}

#ifdef ROOK_X86_KERNELS

// A block of 64 positions loads up to 19 bytes past its last position; the
// loops run only while limit, which keeps 19 bytes behind it, covers the
// whole block, so no load leaves the bytes.
constexpr uint64_t kBlock = 64;

// Bit i set: the probe bytes match at position p + i.
inline uint64_t probe_mask_sse2(const uint8_t* data, uint64_t p) {
  const __m128i first = _mm_set1_epi8(static_cast<char>(kLnkHeaderSignature[kProbeFirst]));
  const __m128i last = _mm_set1_epi8(static_cast<char>(kLnkHeaderSignature[kProbeLast]));
  uint64_t mask = 0;
  for (uint64_t part = 0; part < kBlock; part += 16) {
    const __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + part));
    const __m128i on = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + part + kProbeLast));
    const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(at, first), _mm_cmpeq_epi8(on, last));
    mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(hit))) << part;
  }
  return mask;
}

__attribute__((target("avx2"), always_inline)) inline uint64_t probe_mask_avx2(const uint8_t* data, uint64_t p) {
  const __m256i first = _mm256_set1_epi8(static_cast<char>(kLnkHeaderSignature[kProbeFirst]));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(kLnkHeaderSignature[kProbeLast]));
  uint64_t mask = 0;
  for (uint64_t part = 0; part < kBlock; part += 32) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p + part));
    const __m256i on = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p + part + kProbeLast));
    const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(at, first), _mm256_cmpeq_epi8(on, last));
    mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hit))) << part;
  }
  return mask;
}

// Inlined whole into each kernel, so the AVX2 compares are compiled inside
// the one function built for AVX2.
template <class ProbeMask>
__attribute__((always_inline)) inline uint64_t find_in_blocks(std::span<const uint8_t> bytes, uint64_t from,
                                                              uint64_t end, ProbeMask probe_mask) {
  const uint64_t limit = clamp_limit(bytes, end);
  if (from >= limit) return end;
  const uint8_t* data = bytes.data();
  uint64_t p = from;
  for (; limit - p >= kBlock; p += kBlock) {
    for (uint64_t mask = probe_mask(data, p); mask != 0; mask &= mask - 1) {
      const uint64_t candidate = p + static_cast<uint64_t>(std::countr_zero(mask));
      if (whole_signature_at(data, candidate)) return candidate;
    }
  }
  const uint64_t found = scalar_from(data, p, limit);
  return found < limit ? found : end;
}

uint64_t find_sse2(std::span<const uint8_t> bytes, uint64_t from, uint64_t end) {
  return find_in_blocks(bytes, from, end, probe_mask_sse2);
}

__attribute__((target("avx2"))) uint64_t find_avx2(std::span<const uint8_t> bytes, uint64_t from, uint64_t end) {
  return find_in_blocks(bytes, from, end, [](const uint8_t* data, uint64_t p) __attribute__((target("avx2"))) {
    return probe_mask_avx2(data, p);
  });
}

std::vector<SignatureKernel> available_kernels() {
  std::vector<SignatureKernel> kernels;
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) kernels.push_back({"avx2", find_avx2});
  kernels.push_back({"sse2", find_sse2});
  kernels.push_back({"scalar", find_scalar});
  return kernels;
}

#else

std::vector<SignatureKernel> available_kernels() { return {{"scalar", find_scalar}}; }

#endif

const std::vector<SignatureKernel>& kernels() {
  static const std::vector<SignatureKernel> list = available_kernels();
  return list;
}

}  // namespace

std::span<const SignatureKernel> signature_kernels() { return kernels(); }

uint64_t find_signature(std::span<const uint8_t> bytes, uint64_t from, uint64_t limit) {
  static const auto find = kernels().front().find;
  return find(bytes, from, limit);
}

void SignatureSearch::find_all(std::span<const uint8_t> bytes, std::vector<uint64_t>& hits) const {
  const uint64_t end = bytes.size();
  for (uint64_t at = find_signature(bytes, 0, end); at < end; at = find_signature(bytes, at + 1, end))
    hits.push_back(at);
}

bool find_lnk_signature(uint64_t& pos, const uint8_t* buffer, uint64_t length, uint32_t step) {
  if (buffer == nullptr || length < kHeaderBytes) return false;
  // A hit must leave a whole header after it: p + 76 < length.
  const uint64_t limit = length - kHeaderBytes;
  if (pos >= limit) return false;
  const std::span<const uint8_t> bytes(buffer, length);
  const uint64_t stride = step == 0 ? 1 : step;
  if (stride < kDirectStepFrom) {
    for (uint64_t at = find_signature(bytes, pos, limit); at < limit; at = find_signature(bytes, at + 1, limit)) {
      if ((at - pos) % stride == 0) {
        pos = at;
        return true;
      }
    }
    return false;
  }
  for (uint64_t p = pos;; p += stride) {
    if (buffer[p] == kLnkHeaderSignature[0] && whole_signature_at(buffer, p)) {
      pos = p;
      return true;
    }
    if (limit - p <= stride) return false;
  }
}

}  // namespace lnk

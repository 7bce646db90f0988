// libFuzzer target: every compare loop of the signature search and the quick
// pass must agree with the plain position-by-position test on any bytes.
// Signatures are rare in random input, so the first byte of the input
// chooses positions to plant some at.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "carve/quick_pass.h"
#include "lnk/signature_search.h"

namespace {

bool signature_at(const std::vector<uint8_t>& bytes, uint64_t p) {
  return p + lnk::kLnkHeaderSignature.size() <= bytes.size() &&
         std::equal(lnk::kLnkHeaderSignature.begin(), lnk::kLnkHeaderSignature.end(), bytes.begin() + p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 0x20000) return 0;
  std::vector<uint8_t> bytes(data + 1, data + size);
  // Plant a signature every `spacing` bytes; a byte below 20 makes them overlap
  // the way partial copies do.
  if (data[0] != 0 && !bytes.empty()) {
    const size_t spacing = data[0];
    for (size_t at = data[0] / 3; at < bytes.size(); at += spacing)
      std::copy_n(lnk::kLnkHeaderSignature.begin(), std::min<size_t>(20, bytes.size() - at), bytes.begin() + at);
  }

  std::vector<uint64_t> expected;
  for (uint64_t p = 0; p < bytes.size(); ++p)
    if (signature_at(bytes, p)) expected.push_back(p);
  for (const lnk::SignatureKernel& kernel : lnk::signature_kernels()) {
    std::vector<uint64_t> found;
    const uint64_t end = bytes.size();
    for (uint64_t at = kernel.find(bytes, 0, end); at < end; at = kernel.find(bytes, at + 1, end)) found.push_back(at);
    if (found != expected) std::abort();
  }

  for (uint32_t step : {1u, 4u, 512u}) {
    uint64_t pos = 0;
    const bool hit = lnk::find_lnk_signature(pos, bytes.data(), bytes.size(), step);
    uint64_t want = UINT64_MAX;
    for (uint64_t p = 0; bytes.size() >= 76 && p + 76 < bytes.size(); p += step)
      if (signature_at(bytes, p)) {
        want = p;
        break;
      }
    if (hit != (want != UINT64_MAX) || (hit && pos != want)) std::abort();
  }

  lnk::CarveContext context;
  context.quick_patterns = {std::vector<uint8_t>(lnk::kLnkHeaderSignature.begin(), lnk::kLnkHeaderSignature.end()),
                            {'F', 'I', 'L', 'E'}};
  std::vector<lnk::CarveHit> hits;
  lnk::quick_pass(context, bytes, hits);
  size_t next = 0;
  for (uint64_t start = 0; start < bytes.size(); start += 512) {
    for (uint64_t p = start; p < std::min<uint64_t>(start + 64, bytes.size()); ++p) {
      uint32_t kind = 2;
      if (signature_at(bytes, p)) kind = 0;
      else if (p + 4 <= bytes.size() && std::equal(bytes.begin() + p, bytes.begin() + p + 4, "FILE")) kind = 1;
      if (kind == 2) continue;
      if (next >= hits.size() || hits[next].position != p || hits[next].pattern != kind) std::abort();
      ++next;
    }
  }
  if (next != hits.size()) std::abort();
  return 0;
}

#include "lnk/signature_search.h"

#include <algorithm>

namespace lnk {

SignatureSearch::SignatureSearch()
    : searcher_(kLnkHeaderSignature.begin(), kLnkHeaderSignature.end()) {}

void SignatureSearch::find_all(std::span<const uint8_t> bytes, std::vector<uint64_t>& hits) const {
  auto from = bytes.begin();
  while (from != bytes.end()) {
    auto found = searcher_(from, bytes.end()).first;
    if (found == bytes.end()) return;
    hits.push_back(static_cast<uint64_t>(found - bytes.begin()));
    from = found + 1;
  }
}

}  // namespace lnk

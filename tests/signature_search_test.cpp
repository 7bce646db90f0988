#include "lnk/signature_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "carve/quick_pass.h"

namespace lnk {
namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kSignature(kLnkHeaderSignature.begin(), kLnkHeaderSignature.end());
const Bytes kFile = {'F', 'I', 'L', 'E'};

bool signature_at(const Bytes& bytes, uint64_t p, uint64_t length) {
  return p + kSignature.size() <= length && std::equal(kSignature.begin(), kSignature.end(), bytes.begin() + p);
}

// The references test every position the plain way.
std::vector<uint64_t> naive_all(const Bytes& bytes, uint64_t from, uint64_t limit) {
  std::vector<uint64_t> hits;
  for (uint64_t p = from; p < limit; ++p)
    if (signature_at(bytes, p, bytes.size())) hits.push_back(p);
  return hits;
}

bool naive_find_lnk(uint64_t& pos, const Bytes& bytes, uint64_t length, uint32_t step) {
  if (length < 76) return false;
  for (uint64_t p = pos; p + 76 < length; p += step == 0 ? 1 : step) {
    if (signature_at(bytes, p, length)) {
      pos = p;
      return true;
    }
  }
  return false;
}

Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

void put(Bytes& bytes, uint64_t at, const Bytes& piece, size_t count = SIZE_MAX) {
  count = std::min({count, piece.size(), bytes.size() - at});
  std::copy_n(piece.begin(), count, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A signature with one byte changed: the probes may still all match.
Bytes near_miss(size_t changed) {
  Bytes bytes = kSignature;
  bytes[changed] ^= 0x01;
  return bytes;
}

struct Layout {
  std::string name;
  Bytes bytes;
};

std::vector<Layout> layouts() {
  std::vector<Layout> list;
  Bytes planted = random_bytes(200000, 1);
  for (uint64_t at : {0, 512, 1025, 4095, 32768 - 10, 32768 - 76, 32768 - 77, 65536 - 7, 65536 + 200})
    put(planted, at, kSignature);
  put(planted, planted.size() - 20, kSignature);  // the last position that holds one
  list.push_back({"planted in random bytes", planted});

  Bytes partial = random_bytes(4096, 2);
  put(partial, 100, kSignature, 19);  // a prefix, then the whole one right after it
  put(partial, 119, kSignature);
  put(partial, 300, kSignature, 4);
  put(partial, 304, kSignature);
  for (size_t changed : {1, 5, 11, 13, 18}) put(partial, 600 + 40 * changed, near_miss(changed));
  put(partial, partial.size() - 19, kSignature);  // cut by the end
  list.push_back({"partial and near-miss signatures", partial});

  Bytes repeated;
  while (repeated.size() < 70000) repeated.insert(repeated.end(), kSignature.begin(), kSignature.end());
  list.push_back({"nothing but signatures", repeated});
  list.push_back({"nothing but signatures, off by 7", Bytes(repeated.begin() + 7, repeated.end())});
  list.push_back({"nothing but 0x4C", Bytes(70000, 0x4C)});

  Bytes probes(5000, 0);
  for (uint64_t at = 0; at + 20 <= probes.size(); at += 33) {
    probes[at] = 0x4C;
    probes[at + 12] = 0xC0;
    probes[at + 19] = 0x46;
  }
  list.push_back({"zeros holding the probe bytes only", probes});
  return list;
}

TEST(SignatureSearch, EveryKernelFindsWhatTheNaiveSearchFinds) {
  ASSERT_FALSE(signature_kernels().empty());
  EXPECT_STREQ(signature_kernels().back().name, "scalar");
  for (const Layout& layout : layouts()) {
    const Bytes& bytes = layout.bytes;
    const uint64_t size = bytes.size();
    for (const SignatureKernel& kernel : signature_kernels()) {
      SCOPED_TRACE(layout.name + " / " + kernel.name);
      std::vector<uint64_t> found;
      for (uint64_t at = kernel.find(bytes, 0, size); at < size; at = kernel.find(bytes, at + 1, size))
        found.push_back(at);
      EXPECT_EQ(found, naive_all(bytes, 0, size));
      // A limit past the last whole signature.
      for (uint64_t limit : {size - 21, size - 20, size - 19, size + 100}) {
        const auto expected = naive_all(bytes, size / 2, std::min(limit, size));
        EXPECT_EQ(kernel.find(bytes, size / 2, limit), expected.empty() ? limit : expected.front()) << limit;
      }
    }
    std::vector<uint64_t> hits = {12345};  // find_all appends
    SignatureSearch().find_all(bytes, hits);
    auto expected = naive_all(bytes, 0, size);
    expected.insert(expected.begin(), 12345);
    EXPECT_EQ(hits, expected) << layout.name;
  }
}

// Every buffer length and hit position around the vector widths, in bytes
// that make a candidate of every position.
TEST(SignatureSearch, EveryLengthAndPositionNearTheBlockEdges) {
  for (uint64_t length = 0; length <= 100; ++length) {
    for (const SignatureKernel& kernel : signature_kernels()) {
      const Bytes none(length, 0x4C);
      EXPECT_EQ(kernel.find(none, 0, length), length) << kernel.name << " " << length;
      for (uint64_t at = 0; at + 20 <= length; ++at) {
        Bytes bytes = none;
        put(bytes, at, kSignature);
        SCOPED_TRACE(std::string(kernel.name) + " length " + std::to_string(length) + " at " + std::to_string(at));
        EXPECT_EQ(kernel.find(bytes, 0, length), at);
        EXPECT_EQ(kernel.find(bytes, at, at + 1), at);
        EXPECT_EQ(kernel.find(bytes, 0, at), at);  // limit is exclusive
        EXPECT_EQ(kernel.find(bytes, at + 1, length), length);
      }
    }
  }
  EXPECT_EQ(find_signature({}, 0, 10), 10u);
}

// Steps 1 (-deepscan), 4 (the MFT scan) and 512 (plain files), from several
// starts and over lengths that put a hit on either side of the last tested
// position of a chunk.
TEST(FindLnkSignature, EveryStepMatchesTheNaiveStepSearch) {
  for (const Layout& layout : layouts()) {
    const Bytes& bytes = layout.bytes;
    std::vector<uint64_t> lengths;
    for (uint64_t length : {uint64_t{0}, uint64_t{75}, uint64_t{76}, uint64_t{77}, uint64_t{96}, uint64_t{97},
                            uint64_t{32768}, bytes.size() - 1, bytes.size()})
      if (length <= bytes.size()) lengths.push_back(length);
    for (uint64_t hit : naive_all(bytes, 0, std::min<uint64_t>(bytes.size(), 40000)))
      for (uint64_t extra : {19, 20, 76, 77})
        if (hit + extra <= bytes.size() && lengths.size() < 200) lengths.push_back(hit + extra);
    for (uint32_t step : {1u, 4u, 512u}) {
      for (uint64_t start : {0, 1, 7, 300, 512}) {
        for (uint64_t length : lengths) {
          uint64_t expected = start, got = start;
          const bool want = naive_find_lnk(expected, bytes, length, step);
          ASSERT_EQ(find_lnk_signature(got, bytes.data(), length, step), want)
              << layout.name << " step " << step << " start " << start << " length " << length;
          EXPECT_EQ(got, want ? expected : start);
        }
      }
    }
  }
  uint64_t pos = 0;
  EXPECT_FALSE(find_lnk_signature(pos, nullptr, 1000, 1));
}

struct QuickCase {
  std::string name;
  uint32_t quick_run = 64;
  uint32_t sector = 512;
  std::vector<Bytes> patterns = {kSignature, kFile};
};

// Straight from the rule: the first quick_run positions of every sector, the
// first pattern that fits and matches.
std::vector<CarveHit> naive_quick(const QuickCase& c, const Bytes& chunk) {
  std::vector<CarveHit> hits;
  const uint64_t sector = c.sector == 0 ? 512 : c.sector;
  for (uint64_t start = 0; start < chunk.size(); start += sector) {
    for (uint64_t p = start; p < std::min<uint64_t>(start + c.quick_run, chunk.size()); ++p) {
      for (uint32_t kind = 0; kind < c.patterns.size(); ++kind) {
        const Bytes& pattern = c.patterns[kind];
        if (!pattern.empty() && p + pattern.size() <= chunk.size() &&
            std::equal(pattern.begin(), pattern.end(), chunk.begin() + static_cast<std::ptrdiff_t>(p))) {
          hits.push_back({p, kind});
          break;
        }
      }
    }
  }
  return hits;
}

std::vector<Bytes> quick_chunks() {
  std::vector<Bytes> chunks;
  Bytes planted = random_bytes(65536, 3);
  for (uint64_t at : {0, 40, 63, 64, 512 + 1, 1024 + 62, 4096 + 300}) put(planted, at, kSignature);
  for (uint64_t at : {2048, 2560 + 10, 3072 + 60, 3584 + 61}) put(planted, at, kFile);
  put(planted, 65536 - 512 + 10, kSignature);  // runs past the chunk end: not whole, no hit
  put(planted, 65536 - 512 + 30, kSignature, 12);
  chunks.push_back(planted);
  chunks.emplace_back(planted.begin(), planted.begin() + 65536 - 500);  // the last sector is short
  chunks.emplace_back(planted.begin(), planted.begin() + 75);
  chunks.emplace_back(planted.begin(), planted.begin() + 64);
  chunks.emplace_back();
  Bytes repeated;
  while (repeated.size() < 9000) repeated.insert(repeated.end(), kSignature.begin(), kSignature.end());
  chunks.push_back(repeated);
  chunks.emplace_back(9000, 0x4C);
  Bytes files;
  while (files.size() < 9000) files.insert(files.end(), kFile.begin(), kFile.end());
  chunks.push_back(files);
  return chunks;
}

TEST(QuickPass, MatchesTheNaiveRuleForEverySetting) {
  const Bytes short_header(kSignature.begin(), kSignature.begin() + 4);
  const std::vector<QuickCase> cases = {
      {"defaults"},
      {"no quick run", 0},
      {"run of 100", 100},
      {"run longer than a sector", 600},
      {"sector 0 means 512", 64, 0},
      {"sector 4096", 64, 4096},
      {"a pattern that starts like the other", 64, 512, {short_header, kSignature, kFile}},
      {"one-byte and empty patterns", 64, 512, {Bytes{}, Bytes{0x46}, kSignature}},
      {"five patterns", 64, 512, {Bytes{1}, Bytes{2}, Bytes{3}, kFile, kSignature}},
  };
  for (const QuickCase& c : cases) {
    CarveContext context;
    context.quick_run = c.quick_run;
    context.sector = c.sector;
    context.quick_patterns = c.patterns;
    std::vector<CarveHit> hits = {{1, 1}};  // stale hits are dropped
    for (const Bytes& chunk : quick_chunks()) {
      quick_pass(context, chunk, hits);
      const auto expected = naive_quick(c, chunk);
      ASSERT_EQ(hits.size(), expected.size()) << c.name << ", chunk of " << chunk.size();
      for (size_t i = 0; i < hits.size(); ++i) {
        EXPECT_EQ(hits[i].position, expected[i].position) << c.name << " hit " << i;
        EXPECT_EQ(hits[i].pattern, expected[i].pattern) << c.name << " hit " << i;
      }
    }
  }
}

}  // namespace
}  // namespace lnk

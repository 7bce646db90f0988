// A guard between a volume and libvshadow. libvshadow follows the chains of
// shadow-copy blocks (catalog, store block lists, block range lists,
// bitmaps) until a next offset of zero, with no check for a loop or a
// length, so a damaged store would hang it or exhaust memory; and some of
// its error paths leak or read past a block. The guard walks every chain
// first and presents the volume with the next-offset field read as zero
// where a chain loops, runs too long or reaches a block libvshadow would
// refuse; what comes before the cut is still read. Block-list entries it
// would free twice read as empty. A store whose header or first block is
// unusable is hidden from libvshadow altogether.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/byte_reader.h"
#include "storage/byte_source.h"
#include "storage/shadow_layout.h"

namespace lnk {

// The catalog of a volume with the most copies Windows keeps (512) fills
// nine blocks.
constexpr uint32_t kShadowCatalogBlockLimit = 16;

// True when the bytes start with the shadow-copy identifier
// 3808876b-c176-4e48-b7ae-04046e6cc752.
bool is_shadow_block(std::span<const uint8_t> bytes);

struct ShadowGuardPlan {
  // Volume offsets of the 8-byte fields to read as zero: next offsets where
  // chains are cut, the entry types of stores hidden from libvshadow, the
  // fields of block-list entries hidden from it.
  std::vector<uint64_t> cut_fields;
  // Stores (catalog GUID) one of whose chains was cut or entries hidden.
  std::vector<Guid> cut_stores;
  // Stores whose header or a chain's first block is unusable: their views
  // cannot be rebuilt, and libvshadow is not shown them.
  std::vector<Guid> refused_stores;
  bool catalog_cut = false;
  // The catalog's first block is unusable.
  bool catalog_refused = false;
};

// Walks the catalog named by the volume header and the chains of every
// store-location entry. A volume without the header gives an empty plan.
ShadowGuardPlan plan_shadow_guard(ByteSource& volume);

// The volume as libvshadow may see it: the plan's fields read as zero.
class GuardedShadowVolume : public ByteSource {
 public:
  GuardedShadowVolume(ByteSource& volume, const std::vector<uint64_t>& cut_fields);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return volume_.size(); }
  uint32_t sector_size() const override { return volume_.sector_size(); }

 private:
  ByteSource& volume_;
  std::vector<uint64_t> cut_fields_;  // sorted
};

}  // namespace lnk

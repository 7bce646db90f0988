#include "shellitems/property_embedded.h"

#include <vector>

#include "platform/text.h"
#include "shellitems/idlist.h"

namespace lnk {
namespace {

constexpr uint32_t kMaxEmbeddingDepth = 8;
constexpr uint64_t kMaxChainItems = 256;
constexpr size_t kMaxNestedLists = 64;
// An autolist starts with a fixed header before its entries.
constexpr uint64_t kAutolistHeaderSize = 58;

constexpr Guid kAutolistId = guid_literal("384EA5AE-ADE1-4E8A-8A9B-7BEA78FFF1E9");

constexpr Guid kConditionId = guid_literal("116F8D13-101E-4FA5-84D4-FF8279381935");

// Length of the chain of ItemIDs at off up to and including its zero
// terminator; 0 when the bytes there do not look like an IDList.
uint64_t idlist_chain_length(const ByteReader& r, uint64_t off, bool terminator_required) {
  uint64_t pos = off;
  for (uint64_t items = 0; items < kMaxChainItems; ++items) {
    if (!r.has(pos, 2)) return (!terminator_required && items > 0 && pos == r.size()) ? pos - off : 0;
    uint16_t size = r.u16(pos);
    if (size == 0) return items > 0 ? pos + 2 - off : 0;
    if (size < 3 || !r.has(pos, size)) return 0;
    pos += size;
  }
  return 0;
}

// Item classes a shell writes as the first item of a stored IDList.
bool plausible_first_class(uint8_t class_type) {
  switch (class_type >> 4) {
    case 0x1: case 0x2: case 0x3: case 0x4: case 0x6: case 0x7: return true;
    default: return false;
  }
}

bool walk_into(std::vector<ShellItem>& items, const ByteReader& r, uint64_t off, uint64_t length,
               uint64_t position, DecodeContext& context) {
  if (context.depth >= kMaxEmbeddingDepth || length > UINT32_MAX) return false;
  DecodeContext nested = context;
  nested.position = position + off;
  nested.depth = context.depth + 1;
  return walk_idlist(items, r.sub(off, length), nested);
}

// Index of the first occurrence of id in r at or after from; r.size() when none.
uint64_t find_guid(const ByteReader& r, const Guid& id) {
  for (uint64_t off = 0; r.has(off, 16); ++off) {
    if (r.matches(off, id)) return off;
  }
  return r.size();
}

}  // namespace

void attach_embedded_idlist(Property& property, uint64_t position, DecodeContext& context) {
  if (property.bytes.size() <= 2) return;
  ByteReader r(property.bytes.data(), property.bytes.size());
  uint64_t length = idlist_chain_length(r, 2, false);
  if (length == 0 || !plausible_first_class(r.u8(4))) return;
  std::vector<ShellItem> items;
  if (walk_into(items, r, 2, r.size() - 2, position, context) && !items.empty()) {
    property.idlists.push_back(std::move(items));
  }
}

void attach_nested_idlists(Property& property, uint64_t position, DecodeContext& context) {
  ByteReader r(property.bytes.data(), property.bytes.size());
  uint64_t start = find_guid(r, kAutolistId);
  if (start < r.size()) {
    start += kAutolistHeaderSize;
  } else {
    start = find_guid(r, kConditionId);
    if (start >= r.size()) return;
    start += 16;
  }
  // Entries and item records vary in layout; the IDLists inside them are
  // found by their shape.
  for (uint64_t off = start; r.has(off, 6) && property.idlists.size() < kMaxNestedLists;) {
    uint64_t length = idlist_chain_length(r, off, true);
    if (length >= 20 && plausible_first_class(r.u8(off + 2))) {
      std::vector<ShellItem> items;
      if (walk_into(items, r, off, length, position, context) && !items.empty()) {
        property.idlists.push_back(std::move(items));
        off += length;
        continue;
      }
    }
    ++off;
  }
}

}  // namespace lnk

// Decoding one ItemID into a ShellItem, and folding decoded pieces together.
#pragma once

#include <cstdint>

#include "platform/byte_reader.h"
#include "shellitems/idlist.h"
#include "shellitems/shell_item.h"

namespace lnk {

// Flags a decoder sets on an item.
enum ItemFlag : uint64_t {
  kFlagLayout94 = 0x02,
  kFlagNamedFolder = 0x10,
  kFlagGuidRecord = 0x20,
  kFlagAugm = 0x40,
  kFlagCfsf = 0x80,
  kFlagText0719 = 0x100,
  kFlagText1031 = 0x200,
  kFlagMarker4517 = 0x400,
  kFlagText0831 = 0x800,
  kFlagNamedRecord = 0x1000,
  kFlagMarker0A29 = 0x2000,
  kFlagItemHolder = 0x4000,
  kFlagEmbeddedItem = 0x18000,
};

// Nesting beyond this many levels is not decoded: an item that contains
// itself must not exhaust the stack.
constexpr uint32_t kMaxDecodeDepth = 24;
// Items and lists one top-level decode may visit in all.
constexpr uint32_t kMaxDecodeWork = 5000;

// Counts one nesting level for as long as it lives; allowed() is false when
// the depth or the work budget is exhausted.
class DepthGuard {
 public:
  explicit DepthGuard(DecodeContext& context) : context_(context) {
    ++context_.depth;
    ++context_.work;
  }
  ~DepthGuard() { --context_.depth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  bool allowed() const {
    return context_.depth <= kMaxDecodeDepth && context_.work <= kMaxDecodeWork;
  }

 private:
  DecodeContext& context_;
};

// Moves the context position for the life of a nested decode.
class PositionScope {
 public:
  PositionScope(DecodeContext& context, uint64_t position)
      : context_(context), saved_(context.position) {
    context_.position = position;
  }
  ~PositionScope() { context_.position = saved_; }
  PositionScope(const PositionScope&) = delete;
  PositionScope& operator=(const PositionScope&) = delete;

 private:
  DecodeContext& context_;
  uint64_t saved_;
};

// Decodes the item at the start of bytes; bytes runs to the end of the
// IDList (the remaining length). Returns 0 when nothing could be decoded,
// otherwise non-zero and the item is to be kept.
uint32_t decode_shell_item(ShellItem& item, ByteReader bytes, bool keep_raw, bool nested,
                           uint64_t initial_flags, DecodeContext& context);

// True when decoding left anything an examiner can see in the item.
inline bool has_content(const ShellItem& item) {
  return !item.name.empty() || !item.short_name.empty() || !item.names.empty() ||
         !item.guids.empty() || !item.children.empty() || !item.embedded_idlists.empty() ||
         !item.property_map_first.empty() || !item.property_map_second.empty();
}

// Appends a non-zero GUID and, when the name table knows it, its name.
void add_guid(ShellItem& item, const Guid& guid);

// Folds a temporary item into the real one.
void merge_item(ShellItem& target, const ShellItem& source);

}  // namespace lnk

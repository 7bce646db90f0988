// One VMware disk file as a layer of a snapshot chain: a sparse extent with
// its embedded descriptor, or a descriptor file and the extents it names
// (sparse, flat or zero).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_files.h"
#include "storage/vmdk_sparse.h"

namespace lnk {

struct VmdkExtent {
  enum class Kind { sparse, flat, zero };
  Kind kind = Kind::zero;
  uint64_t start = 0;   // virtual byte offset in the layer
  uint64_t length = 0;  // bytes
  std::string path;
  uint64_t file_offset = 0;  // flat: where the extent's bytes start in its file
  // Held by pointer: its address keys the grain cache.
  std::unique_ptr<VmdkSparseExtent> sparse;
};

// What a layer says about one virtual offset.
struct LayerLookup {
  // The layer answers for the offset: with data, zeros, or a read error.
  bool held = false;
  // The answer stays the same up to here (exclusive).
  uint64_t end = 0;
  const VmdkExtent* extent = nullptr;
  GrainLocation where;
};

// What a layer holds from one virtual offset on; not held: the offset is
// left to the parent layer, up to run.end.
struct LayerHolding {
  bool held = false;
  HoldingRun run;
};

class VmdkLayer {
 public:
  VmdkOpenStatus open(const std::string& path, VmdkFiles& files);

  const std::string& path() const { return path_; }
  const VmdkDescriptor& descriptor() const { return descriptor_; }
  uint64_t capacity() const { return capacity_; }
  const std::vector<VmdkExtent>& extents() const { return extents_; }

  LayerLookup lookup(uint64_t offset, VmdkFiles& files);
  // Reads [offset, offset + buffer.size()), which lies before lookup.end.
  bool read(const LayerLookup& lookup, uint64_t offset, std::span<uint8_t> buffer, VmdkFiles& files);

  LayerHolding holding(uint64_t offset, VmdkFiles& files);
  // Queues what lookup found for decoding ahead; false when there was no room.
  bool will_read(const LayerLookup& lookup, VmdkFiles& files);
  // Some extent holds compressed grains.
  bool compressed() const;

  // Chain links, set by the chain.
  VmdkLayer* parent = nullptr;
  VmdkLayer* child = nullptr;

 private:
  VmdkOpenStatus open_sparse_file(ByteSource& file);
  VmdkOpenStatus open_descriptor_file(ByteSource& file, VmdkFiles& files);
  VmdkOpenStatus add_extent(const VmdkExtentLine& line, VmdkFiles& files);

  std::string path_;
  VmdkDescriptor descriptor_;
  std::vector<VmdkExtent> extents_;
  uint64_t capacity_ = 0;
};

}  // namespace lnk

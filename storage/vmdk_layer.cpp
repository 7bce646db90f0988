#include "storage/vmdk_layer.h"

#include <algorithm>
#include <array>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

constexpr uint64_t kHeadBytes = 512;

VmdkOpenStatus fail(VmdkOpenError error, std::string detail = {}, std::string extent = {}) {
  return {error, std::move(detail), std::move(extent)};
}

// Layouts whose extents are host devices or raw device mappings: their
// bytes are not in the evidence files.
bool layout_reads_devices(const std::string& create_type) {
  return create_type == "fulldevice" || create_type == "partitioneddevice" || create_type == "vmfsraw" ||
         create_type == "vmfsrawdevicemap" || create_type == "vmfspassthroughrawdevicemap";
}

}  // namespace

VmdkOpenStatus VmdkLayer::open(const std::string& path, VmdkFiles& files) {
  path_ = path;
  ByteSource* file = files.get(path);
  if (file == nullptr) return fail(VmdkOpenError::unreadable);
  std::array<uint8_t, kHeadBytes> head{};
  uint64_t got = 0;
  if (!read_available(*file, 0, head, got)) return fail(VmdkOpenError::unreadable);
  const auto start = std::span<const uint8_t>(head).first(got);
  if (has_vmdk_sparse_magic(start)) return open_sparse_file(*file);
  if (has_vmdk_cowd_magic(start)) return fail(VmdkOpenError::unsupported_layout, "vmfsSparse");
  if (looks_like_vmdk_descriptor(start)) return open_descriptor_file(*file, files);
  return fail(VmdkOpenError::not_vmdk);
}

VmdkOpenStatus VmdkLayer::open_sparse_file(ByteSource& file) {
  auto sparse = std::make_unique<VmdkSparseExtent>();
  if (VmdkOpenStatus status = sparse->open(file); !status.ok()) return status;
  std::vector<uint8_t> text;
  if (!read_embedded_descriptor(file, sparse->header(), text)) return fail(VmdkOpenError::extent_without_descriptor);
  parse_vmdk_descriptor(text, descriptor_);
  // The sparse file is its own only extent, whatever name the descriptor
  // gives it: disks get renamed.
  VmdkExtent extent;
  extent.kind = VmdkExtent::Kind::sparse;
  extent.length = sparse->capacity_bytes();
  extent.path = path_;
  extent.sparse = std::move(sparse);
  capacity_ = extent.length;
  extents_.push_back(std::move(extent));
  return {};
}

VmdkOpenStatus VmdkLayer::open_descriptor_file(ByteSource& file, VmdkFiles& files) {
  if (file.size() > kVmdkDescriptorMaxBytes) return fail(VmdkOpenError::not_vmdk);
  std::vector<uint8_t> text(file.size());
  if (!read_exact(file, 0, text)) return fail(VmdkOpenError::unreadable);
  parse_vmdk_descriptor(text, descriptor_);
  if (layout_reads_devices(descriptor_.create_type))
    return fail(VmdkOpenError::unsupported_layout, descriptor_.create_type);
  if (descriptor_.extents_unreadable || descriptor_.extents.empty())
    return fail(VmdkOpenError::bad_header, "extent lines");
  for (const VmdkExtentLine& line : descriptor_.extents) {
    if (VmdkOpenStatus status = add_extent(line, files); !status.ok()) return status;
  }
  return {};
}

VmdkOpenStatus VmdkLayer::add_extent(const VmdkExtentLine& line, VmdkFiles& files) {
  VmdkExtent extent;
  extent.start = capacity_;
  if (!checked_mul(line.sectors, kVmdkSectorSize, extent.length) ||
      !checked_add(capacity_, extent.length, capacity_))
    return fail(VmdkOpenError::bad_header, "extent size");
  if (line.access == "NOACCESS") return fail(VmdkOpenError::unsupported_layout, "NOACCESS extent");
  if (line.type == "ZERO") {
    extents_.push_back(std::move(extent));
    return {};
  }
  const bool flat = line.type == "FLAT" || line.type == "VMFS";
  if (!flat && line.type != "SPARSE") return fail(VmdkOpenError::unsupported_layout, line.type + " extent");
  // Extents are looked for beside the descriptor, even when it names a
  // full path: that path belongs to the machine the disk came from.
  extent.path = vmdk_sibling_path(path_, line.file);
  ByteSource* file = line.file.empty() ? nullptr : files.get(extent.path);
  if (file == nullptr) return fail(VmdkOpenError::missing_extent, {}, extent.path);
  if (flat) {
    extent.kind = VmdkExtent::Kind::flat;
    if (!checked_mul(line.offset_sectors, kVmdkSectorSize, extent.file_offset))
      return fail(VmdkOpenError::bad_header, "extent offset", extent.path);
  } else {
    extent.kind = VmdkExtent::Kind::sparse;
    extent.sparse = std::make_unique<VmdkSparseExtent>();
    VmdkOpenStatus status = extent.sparse->open(*file);
    if (!status.ok()) {
      status.extent = extent.path;
      return status;
    }
  }
  extents_.push_back(std::move(extent));
  return {};
}

LayerLookup VmdkLayer::lookup(uint64_t offset, VmdkFiles& files) {
  LayerLookup found;
  found.end = UINT64_MAX;
  // Extents are in offset order, without gaps.
  const auto after = std::upper_bound(extents_.begin(), extents_.end(), offset,
                                      [](uint64_t value, const VmdkExtent& e) { return value < e.start; });
  if (after == extents_.begin()) return found;
  const VmdkExtent& extent = *(after - 1);
  if (offset - extent.start >= extent.length) return found;
  found.extent = &extent;
  found.end = extent.start + extent.length;
  if (extent.kind != VmdkExtent::Kind::sparse) {
    found.held = true;
    return found;
  }
  const uint64_t within = offset - extent.start;
  const uint64_t grain = extent.sparse->grain_bytes();
  if (within < extent.sparse->capacity_bytes()) {
    found.end = std::min(found.end, extent.start + (within / grain + 1) * grain);
  }
  ByteSource* file = files.get(extent.path);
  if (file == nullptr) {
    found.held = true;
    found.where.state = GrainState::unreadable;
    return found;
  }
  found.where = extent.sparse->locate(*file, within);
  found.held = found.where.state != GrainState::absent;
  return found;
}

LayerHolding VmdkLayer::holding(uint64_t offset, VmdkFiles& files) {
  const LayerLookup found = lookup(offset, files);
  LayerHolding result{found.held, {Holding::data, found.end}};
  const VmdkExtent* extent = found.extent;
  if (extent == nullptr || extent->kind == VmdkExtent::Kind::zero) {
    result.run.holding = Holding::zeros;
    return result;
  }
  ByteSource* file = files.get(extent->path);
  if (file == nullptr) {
    result.run.holding = Holding::not_stored;
    return result;
  }
  const uint64_t within = offset - extent->start;
  if (extent->kind == VmdkExtent::Kind::flat) {
    // A flat file shorter than its extent line keeps nothing past its end.
    const uint64_t stored = file->size() > extent->file_offset ? file->size() - extent->file_offset : 0;
    if (within >= stored) {
      result.run.holding = Holding::not_stored;
    } else {
      result.run.end = std::min(result.run.end, offset + (stored - within));
    }
    return result;
  }
  if (within < extent->sparse->capacity_bytes())
    result.run.end = std::min(extent->start + extent->length, offset + (extent->sparse->run_end(*file, within) - within));
  switch (found.where.state) {
    case GrainState::absent:
    case GrainState::zero:
      result.run.holding = Holding::zeros;
      break;
    case GrainState::unreadable:
      result.run.holding = Holding::not_stored;
      break;
    case GrainState::data:
    case GrainState::compressed:
      if (found.where.repeat) result.run.holding = Holding::repeated;
      break;
  }
  return result;
}

bool VmdkLayer::read(const LayerLookup& lookup, uint64_t offset, std::span<uint8_t> buffer, VmdkFiles& files) {
  const VmdkExtent* extent = lookup.extent;
  if (extent == nullptr || extent->kind == VmdkExtent::Kind::zero) {
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    return true;
  }
  ByteSource* file = files.get(extent->path);
  if (file == nullptr) return false;
  const uint64_t within = offset - extent->start;
  if (extent->kind == VmdkExtent::Kind::sparse) return extent->sparse->read(*file, lookup.where, within, buffer, files);
  uint64_t at = 0;
  uint64_t got = 0;
  if (!checked_add(extent->file_offset, within, at) || !read_available(*file, at, buffer, got)) return false;
  // A flat file shorter than its extent line reads as zeros past its end.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.end(), uint8_t{0});
  return true;
}

bool VmdkLayer::will_read(const LayerLookup& lookup, VmdkFiles& files) {
  const VmdkExtent* extent = lookup.extent;
  if (extent == nullptr || extent->kind != VmdkExtent::Kind::sparse || lookup.where.state != GrainState::compressed)
    return true;
  ByteSource* file = files.get(extent->path);
  return file == nullptr || extent->sparse->will_read(*file, lookup.where, files);
}

bool VmdkLayer::compressed() const {
  return std::any_of(extents_.begin(), extents_.end(), [](const VmdkExtent& e) {
    return e.sparse != nullptr && (e.sparse->header().flags & kVmdkFlagCompressed);
  });
}

}  // namespace lnk

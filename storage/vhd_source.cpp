#include "storage/vhd_source.h"

#include <algorithm>
#include <array>

#include "storage/big_endian.h"
#include "storage/claimed_ranges.h"
#include "storage/vhd_format.h"

namespace lnk {
namespace {

constexpr uint32_t kFixed = 2, kDynamic = 3, kDifferencing = 4;
constexpr uint64_t kHeaderBytes = 1024;
constexpr uint32_t kNoBlock = 0xFFFFFFFF;
constexpr uint64_t kSector = 512;
// qemu's bound on a block; Microsoft's tools write 2 MiB.
constexpr uint64_t kMaxBlockBytes = 256u << 20;
constexpr uint64_t kRunSteps = 1u << 16;
constexpr std::array<uint8_t, 8> kDynamicCookie = {'c', 'x', 's', 'p', 'a', 'r', 's', 'e'};

class VhdLayer : public MappedLayer {
 public:
  VhdLayer(std::shared_ptr<ByteSource> file, std::string path) : MappedLayer(std::move(file)), path_(std::move(path)) {}

  bool open(ContainerProblem& problem);
  uint64_t disk_size() const override { return size_; }
  BlockMap map(uint64_t offset) override;
  bool has_parent() override { return type_ == kDifferencing; }
  ParentNames parent_names() override { return read_vhd_parent_names(*file_); }
  bool link_parent(ChainLayer& parent) override {
    const auto* vhd = dynamic_cast<VhdLayer*>(&parent);
    return vhd != nullptr && vhd->unique_id_ == parent_id_;
  }

 private:
  bool fail(ContainerProblem& problem, const std::string& detail) {
    problem = {.kind = ContainerProblemKind::damaged, .file = path_, .detail = "VHD image: " + detail};
    return false;
  }
  bool open_dynamic(uint64_t header_at, ContainerProblem& problem);
  // The block's sector bitmap; null when its bytes are not in the file.
  const std::vector<uint8_t>* bitmap(uint64_t block);

  std::string path_;
  uint32_t type_ = 0;
  uint64_t size_ = 0;
  uint64_t stored_ = 0;  // fixed: the data bytes the file holds
  Guid unique_id_{};
  Guid parent_id_{};
  uint64_t block_bytes_ = 0;
  uint64_t bitmap_bytes_ = 0;
  std::vector<uint32_t> table_;
  std::vector<bool> repeats_;  // per block
  uint64_t bitmap_block_ = UINT64_MAX;
  std::vector<uint8_t> bitmap_;
};

bool VhdLayer::open(ContainerProblem& problem) {
  const uint64_t file_size = file_->size();
  std::array<uint8_t, kVhdFooterSize> footer{};
  // The footer at the end; a dynamic disk's copy at the start when the end is damaged.
  bool tail = file_size >= kVhdFooterSize && read_exact(*file_, file_size - kVhdFooterSize, footer) && is_vhd_footer(footer);
  if (!tail && (!read_exact(*file_, 0, footer) || !is_vhd_footer(footer))) return fail(problem, "no valid footer");
  const ByteReader f(footer);
  type_ = be32(f, 60);
  size_ = be64(f, 48);
  unique_id_ = f.guid(68);
  if (type_ == kFixed) {
    if (!tail) return fail(problem, "fixed disk without its footer at the end");
    stored_ = std::min(size_, file_size - kVhdFooterSize);
    return true;
  }
  if (type_ != kDynamic && type_ != kDifferencing) return fail(problem, "disk type " + std::to_string(type_));
  return open_dynamic(be64(f, 16), problem);
}

bool VhdLayer::open_dynamic(uint64_t header_at, ContainerProblem& problem) {
  const uint64_t file_size = file_->size();
  std::array<uint8_t, kHeaderBytes> bytes{};
  if (!fits(header_at, kHeaderBytes, file_size) || !read_exact(*file_, header_at, bytes))
    return fail(problem, "dynamic disk header past the end of the file");
  const ByteReader h(bytes);
  if (!h.matches(0, kDynamicCookie)) return fail(problem, "no dynamic disk header");
  const uint64_t table_at = be64(h, 16);
  const uint64_t entries = be32(h, 28);
  block_bytes_ = be32(h, 32);
  parent_id_ = h.guid(40);
  if (block_bytes_ < kSector || block_bytes_ > kMaxBlockBytes || (block_bytes_ & (block_bytes_ - 1)) != 0)
    return fail(problem, "block size " + std::to_string(block_bytes_));
  const uint64_t needed = size_ / block_bytes_ + (size_ % block_bytes_ != 0);
  if (entries < needed) return fail(problem, "block table too small for the disk size " + std::to_string(size_));
  if (!fits(table_at, needed * 4, file_size)) return fail(problem, "block table past the end of the file");
  std::vector<uint8_t> raw(needed * 4);
  if (!read_exact(*file_, table_at, raw)) return fail(problem, "block table unreadable");
  const ByteReader t(raw);
  table_.resize(needed);
  for (uint64_t i = 0; i < needed; ++i) table_[i] = be32(t, i * 4);
  bitmap_bytes_ = (block_bytes_ / kSector / 8 + kSector - 1) / kSector * kSector;
  ClaimedRanges claimed;
  repeats_.resize(needed);
  for (uint64_t i = 0; i < needed; ++i) {
    const uint64_t at = uint64_t{table_[i]} * kSector;
    repeats_[i] = table_[i] != kNoBlock && !claimed.claim(at, at + bitmap_bytes_ + block_bytes_);
  }
  return true;
}

const std::vector<uint8_t>* VhdLayer::bitmap(uint64_t block) {
  if (bitmap_block_ == block) return &bitmap_;
  bitmap_block_ = UINT64_MAX;
  bitmap_.resize(bitmap_bytes_);
  if (!read_exact(*file_, uint64_t{table_[block]} * kSector, bitmap_)) return nullptr;
  bitmap_block_ = block;
  return &bitmap_;
}

BlockMap VhdLayer::map(uint64_t offset) {
  BlockMap m;
  if (type_ == kFixed) {
    m.state = offset < stored_ ? BlockState::data : BlockState::unstored;
    m.end = offset < stored_ ? stored_ : size_;
    m.file_offset = offset;
    return m;
  }
  const uint64_t block = offset / block_bytes_;
  const uint64_t within = offset % block_bytes_;
  m.end = std::min(size_, (block + 1) * block_bytes_);
  if (table_[block] == kNoBlock) {
    // Blocks never written, one after the other; a dynamic disk has no
    // parent, so they read as zeros.
    uint64_t next = block + 1;
    for (uint64_t steps = 0; next < table_.size() && steps < kRunSteps && table_[next] == kNoBlock; ++steps) ++next;
    m.end = std::min(size_, next * block_bytes_);
    return m;
  }
  const uint64_t data_at = uint64_t{table_[block]} * kSector + bitmap_bytes_;
  m.file_offset = data_at + within;
  m.state = m.file_offset < file_->size() ? BlockState::data : BlockState::unstored;
  m.repeat = repeats_[block];
  // A dynamic disk's blocks are read whole, as qemu reads them: its bitmaps
  // matter only where a parent could show through.
  if (type_ != kDifferencing || m.state == BlockState::unstored) return m;
  const std::vector<uint8_t>* bits = bitmap(block);
  if (bits == nullptr) {
    m.state = BlockState::unstored;
    return m;
  }
  const auto own = [bits](uint64_t sector) { return ((*bits)[sector / 8] >> (7 - sector % 8)) & 1; };
  const uint64_t sectors = block_bytes_ / kSector;
  uint64_t sector = within / kSector;
  const auto first = own(sector);
  if (!first) m.state = BlockState::parent;
  while (sector + 1 < sectors && own(sector + 1) == first) ++sector;
  m.end = std::min(m.end, block * block_bytes_ + (sector + 1) * kSector);
  return m;
}

}  // namespace

std::unique_ptr<MappedLayer> open_vhd_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                            ContainerProblem& problem) {
  auto layer = std::make_unique<VhdLayer>(std::move(file), path);
  if (!layer->open(problem)) return nullptr;
  return layer;
}

ContainerProblem VhdSource::open(const std::string& path) {
  return LayeredDisk::open(path, [](std::shared_ptr<ByteSource> file, const std::string& name, ContainerProblem& why) {
    std::array<uint8_t, 8> head{};
    uint64_t got = 0;
    if (!read_available(*file, 0, head, got)) {
      why = {.kind = ContainerProblemKind::unreadable, .file = name};
      return std::unique_ptr<MappedLayer>();
    }
    return has_vhdx_signature(std::span<const uint8_t>(head).first(got)) ? open_vhdx_layer(std::move(file), name, why)
                                                                         : open_vhd_layer(std::move(file), name, why);
  });
}

}  // namespace lnk

#include <algorithm>
#include <array>

#include "platform/text.h"
#include "storage/claimed_ranges.h"
#include "storage/vhd_format.h"
#include "storage/vhd_source.h"
#include "storage/vhdx_log.h"

namespace lnk {
namespace {

constexpr uint64_t kHeaderAt[] = {0x10000, 0x20000};
constexpr uint64_t kRegionTableAt[] = {0x30000, 0x40000};
constexpr uint64_t kHeaderBytes = 4096;
constexpr uint64_t kTableBytes = 0x10000;
constexpr uint64_t kMaxTableEntries = 2047;
constexpr uint64_t kMinBlock = 1u << 20, kMaxBlock = 256u << 20;
constexpr uint64_t kRunSteps = 1u << 16;
constexpr Guid kBatRegion = guid_literal("2dc27766-f623-4200-9d64-115e9bfd4a08");
constexpr Guid kMetadataRegion = guid_literal("8b7ca206-4790-4b9a-b8fe-575f050f886e");
constexpr Guid kFileParameters = guid_literal("caa16737-fa36-4d43-b3b6-33f0aa44e76b");
constexpr Guid kVirtualDiskSize = guid_literal("2fa54224-cd1b-4876-b211-5dbed83bf4b8");
constexpr Guid kLogicalSectorSize = guid_literal("8141bf1d-a96f-4709-ba47-f233a8faab5f");
enum : uint64_t { kNotPresent = 0, kUndefined = 1, kZero = 2, kUnmapped = 3, kFullyPresent = 6, kPartlyPresent = 7 };

class VhdxLayer : public MappedLayer {
 public:
  VhdxLayer(std::shared_ptr<ByteSource> file, std::string path) : MappedLayer(std::move(file)), path_(std::move(path)) {}

  bool open(ContainerProblem& problem);
  uint64_t disk_size() const override { return size_; }
  uint32_t sector_size() const override { return sector_; }
  BlockMap map(uint64_t offset) override;
  bool has_parent() override { return has_parent_; }
  ParentNames parent_names() override {
    ParentNames names = read_vhd_parent_names(*file_);
    linkage_ = names.identifier;
    return names;
  }
  bool link_parent(ChainLayer& parent) override {
    const auto* vhdx = dynamic_cast<VhdxLayer*>(&parent);
    if (vhdx == nullptr) return false;
    Guid kept{};
    std::string text = linkage_;
    std::erase(text, '{');
    std::erase(text, '}');
    return parse_guid(text, kept) && kept == vhdx->data_write_;
  }

 private:
  bool fail(ContainerProblem& problem, const std::string& detail) {
    problem = {.kind = ContainerProblemKind::damaged, .file = path_, .detail = "VHDX image: " + detail};
    return false;
  }
  bool read_header(ContainerProblem& problem);
  bool read_regions(uint64_t& bat_at, uint64_t& bat_bytes, uint64_t& metadata_at, ContainerProblem& problem);
  bool read_metadata(uint64_t at, ContainerProblem& problem);
  uint64_t entry_state(uint64_t block) const { return table_[block + block / chunk_ratio_] & 7; }
  uint64_t entry_offset(uint64_t index) const { return table_[index] & ~uint64_t{0xFFFFF}; }
  // Whether the sector (of the whole disk) is the child's own; -1 when its
  // bitmap is not in the file.
  int own_sector(uint64_t sector);

  std::string path_;
  uint64_t size_ = 0;
  uint32_t sector_ = 512;
  uint64_t block_bytes_ = 0;
  uint64_t chunk_ratio_ = 1;
  bool has_parent_ = false;
  Guid data_write_{};
  Guid log_guid_{};
  uint64_t log_at_ = 0, log_bytes_ = 0;
  std::string linkage_;
  std::vector<uint64_t> table_;
  std::vector<bool> repeats_;  // per entry
  uint64_t bitmap_chunk_ = UINT64_MAX;
  std::vector<uint8_t> bitmap_;
};

bool VhdxLayer::read_header(ContainerProblem& problem) {
  uint64_t best = 0;
  bool found = false;
  for (uint64_t at : kHeaderAt) {
    std::vector<uint8_t> bytes(kHeaderBytes);
    if (!read_exact(*file_, at, bytes)) continue;
    const ByteReader h(bytes);
    if (!h.matches(0, std::array<uint8_t, 4>{'h', 'e', 'a', 'd'}) || !vhdx_checksum_ok(bytes, 4)) continue;
    const uint64_t sequence = h.u64(8);
    if (found && sequence <= best) continue;
    found = true;
    best = sequence;
    data_write_ = h.guid(32);
    log_guid_ = h.guid(48);
    log_bytes_ = h.u32(68);
    log_at_ = h.u64(72);
  }
  return found || fail(problem, "no valid header");
}

bool VhdxLayer::read_regions(uint64_t& bat_at, uint64_t& bat_bytes, uint64_t& metadata_at, ContainerProblem& problem) {
  for (uint64_t at : kRegionTableAt) {
    std::vector<uint8_t> bytes(kTableBytes);
    if (!read_exact(*file_, at, bytes)) continue;
    const ByteReader t(bytes);
    if (!t.matches(0, std::array<uint8_t, 4>{'r', 'e', 'g', 'i'}) || !vhdx_checksum_ok(bytes, 4)) continue;
    const uint64_t count = std::min<uint64_t>(t.u32(8), kMaxTableEntries);
    bat_at = metadata_at = 0;
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t entry = 16 + i * 32;
      const Guid id = t.guid(entry);
      if (id == kBatRegion) {
        bat_at = t.u64(entry + 16);
        bat_bytes = t.u32(entry + 24);
      } else if (id == kMetadataRegion) {
        metadata_at = t.u64(entry + 16);
      } else if (t.u32(entry + 28) & 1) {
        return fail(problem, "a required region rook does not know, " + guid_text(id));
      }
    }
    if (bat_at != 0 && metadata_at != 0) return true;
  }
  return fail(problem, "no valid region table");
}

bool VhdxLayer::read_metadata(uint64_t at, ContainerProblem& problem) {
  std::vector<uint8_t> bytes(kTableBytes);
  if (!read_exact(*file_, at, bytes)) return fail(problem, "metadata table past the end of the file");
  const ByteReader t(bytes);
  if (!t.matches(0, std::array<uint8_t, 8>{'m', 'e', 't', 'a', 'd', 'a', 't', 'a'}))
    return fail(problem, "no metadata table");
  const uint64_t count = std::min<uint64_t>(t.u16(10), kMaxTableEntries);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t entry = 32 + i * 32;
    const Guid id = t.guid(entry);
    std::array<uint8_t, 8> item{};
    const bool known = id == kFileParameters || id == kVirtualDiskSize || id == kLogicalSectorSize;
    if (known && !read_exact(*file_, at + t.u32(entry + 16), item)) return fail(problem, "metadata item unreadable");
    const ByteReader v(item);
    if (id == kFileParameters) {
      block_bytes_ = v.u32(0);
      has_parent_ = (v.u32(4) & 2) != 0;
    } else if (id == kVirtualDiskSize) {
      size_ = v.u64(0);
    } else if (id == kLogicalSectorSize) {
      sector_ = v.u32(0);
    }
  }
  if (block_bytes_ < kMinBlock || block_bytes_ > kMaxBlock || (block_bytes_ & (block_bytes_ - 1)) != 0)
    return fail(problem, "block size " + std::to_string(block_bytes_));
  if (sector_ != 512 && sector_ != 4096) return fail(problem, "sector size " + std::to_string(sector_));
  chunk_ratio_ = (uint64_t{1} << 23) * sector_ / block_bytes_;
  return true;
}

bool VhdxLayer::open(ContainerProblem& problem) {
  if (!read_header(problem)) return false;
  if (!guid_is_zero(log_guid_)) {
    std::string why;
    std::shared_ptr<ByteSource> replayed = replay_vhdx_log(file_, log_guid_, log_at_, log_bytes_, why);
    if (!replayed) return fail(problem, "log to replay: " + why);
    file_ = std::move(replayed);
  }
  uint64_t bat_at = 0, bat_bytes = 0, metadata_at = 0;
  if (!read_regions(bat_at, bat_bytes, metadata_at, problem) || !read_metadata(metadata_at, problem)) return false;
  const uint64_t blocks = size_ / block_bytes_ + (size_ % block_bytes_ != 0);
  const uint64_t chunks = blocks / chunk_ratio_ + (blocks % chunk_ratio_ != 0);
  const uint64_t entries = has_parent_ ? chunks * (chunk_ratio_ + 1) : blocks + (blocks == 0 ? 0 : (blocks - 1) / chunk_ratio_);
  if (entries > bat_bytes / 8) return fail(problem, "block table too small for the disk size " + std::to_string(size_));
  if (!fits(bat_at, entries * 8, file_->size())) return fail(problem, "block table past the end of the file");
  std::vector<uint8_t> raw(entries * 8);
  if (!read_exact(*file_, bat_at, raw)) return fail(problem, "block table unreadable");
  const ByteReader r(raw);
  table_.resize(entries);
  repeats_.resize(entries);
  ClaimedRanges claimed;
  for (uint64_t i = 0; i < entries; ++i) {
    table_[i] = r.u64(i * 8);
    const uint64_t state = table_[i] & 7;
    const bool payload = (i + 1) % (chunk_ratio_ + 1) != 0;
    const uint64_t at = entry_offset(i);
    repeats_[i] = payload && (state == kFullyPresent || state == kPartlyPresent) && !claimed.claim(at, at + block_bytes_);
  }
  return true;
}

int VhdxLayer::own_sector(uint64_t sector) {
  const uint64_t per_chunk = uint64_t{1} << 23;  // sectors a bitmap block covers
  const uint64_t chunk = sector / per_chunk;
  if (chunk != bitmap_chunk_) {
    bitmap_chunk_ = UINT64_MAX;
    const uint64_t index = chunk * (chunk_ratio_ + 1) + chunk_ratio_;
    if (index >= table_.size() || (table_[index] & 7) != kFullyPresent) return -1;
    bitmap_.resize(per_chunk / 8);
    if (!read_exact(*file_, entry_offset(index), bitmap_)) return -1;
    bitmap_chunk_ = chunk;
  }
  const uint64_t bit = sector % per_chunk;
  return (bitmap_[bit / 8] >> (bit % 8)) & 1;
}

BlockMap VhdxLayer::map(uint64_t offset) {
  BlockMap m;
  const uint64_t block = offset / block_bytes_;
  m.end = std::min(size_, (block + 1) * block_bytes_);
  const uint64_t state = entry_state(block);
  const auto absent = [](uint64_t s) {
    return s == kNotPresent || s == kUndefined || s == kZero || s == kUnmapped;
  };
  const auto absent_state = [this](uint64_t s) {
    return has_parent_ && (s == kNotPresent || s == kUndefined) ? BlockState::parent : BlockState::zeros;
  };
  if (absent(state)) {
    m.state = absent_state(state);
    uint64_t next = block + 1;
    const uint64_t blocks = size_ / block_bytes_ + (size_ % block_bytes_ != 0);
    for (uint64_t steps = 0; next < blocks && steps < kRunSteps && absent(entry_state(next)) &&
                             absent_state(entry_state(next)) == m.state;
         ++steps)
      ++next;
    m.end = std::min(size_, next * block_bytes_);
    return m;
  }
  if (state != kFullyPresent && state != kPartlyPresent) {
    m.state = BlockState::unstored;
    return m;
  }
  m.file_offset = entry_offset(block + block / chunk_ratio_) + offset % block_bytes_;
  m.repeat = repeats_[block + block / chunk_ratio_];
  m.state = m.file_offset < file_->size() ? BlockState::data : BlockState::unstored;
  if (state == kFullyPresent || !has_parent_ || m.state == BlockState::unstored) return m;
  uint64_t sector = offset / sector_;
  const int first = own_sector(sector);
  if (first < 0) {
    m.state = BlockState::unstored;
    return m;
  }
  if (first == 0) m.state = BlockState::parent;
  const uint64_t last = m.end / sector_;
  while (sector + 1 < last && own_sector(sector + 1) == first) ++sector;
  m.end = std::min(m.end, (sector + 1) * sector_);
  return m;
}

}  // namespace

std::unique_ptr<MappedLayer> open_vhdx_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                             ContainerProblem& problem) {
  auto layer = std::make_unique<VhdxLayer>(std::move(file), path);
  if (!layer->open(problem)) return nullptr;
  return layer;
}

}  // namespace lnk

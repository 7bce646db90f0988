#include "storage/qcow_source.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "storage/big_endian.h"
#include "storage/claimed_ranges.h"
#include "storage/vmdk_files.h"
#include "storage/vmdk_sparse.h"

namespace lnk {
namespace {

constexpr std::array<uint8_t, 4> kQcowSignature = {'Q', 'F', 'I', 0xFB};
constexpr uint64_t kHeadBytes = 112;
// qemu's own bounds: cluster sizes, an L1 table of 32 MiB, a backing name.
constexpr uint32_t kMinClusterBits = 9;
constexpr uint32_t kMaxClusterBits = 21;
constexpr uint64_t kMaxL1Bytes = 32u << 20;
constexpr uint64_t kMaxBackingName = 1023;
constexpr uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00;
constexpr uint64_t kCompressedFlag = uint64_t{1} << 62;
constexpr uint64_t kV1CompressedFlag = uint64_t{1} << 63;
constexpr uint64_t kIncompatibleDirty = 1, kIncompatibleCorrupt = 2, kIncompatibleDataFile = 4,
                   kIncompatibleCompression = 8, kIncompatibleExtendedL2 = 16;
constexpr size_t kCachedTables = 8;
// Empty L1 entries passed over in one map.
constexpr uint64_t kRunSteps = 1u << 16;

uint64_t saturated_shift(uint64_t value, uint32_t bits) {
  return value > (UINT64_MAX >> bits) ? UINT64_MAX : value << bits;
}

class QcowLayer : public MappedLayer {
 public:
  QcowLayer(std::shared_ptr<ByteSource> file, std::string path) : MappedLayer(std::move(file)), path_(std::move(path)) {}

  bool open(ContainerProblem& problem);

  uint64_t disk_size() const override { return size_; }
  BlockMap map(uint64_t offset) override;
  bool unpack(std::span<const uint8_t> packed, std::span<uint8_t> block) const override {
    return inflate_raw_deflate(packed, block);
  }
  bool compressed() const override { return true; }

  // A backing name that cannot be read still means a backing file: read
  // alone, the disk would show zeros where it has data.
  bool has_parent() override { return backing_offset_ != 0 && backing_bytes_ != 0; }
  ParentNames parent_names() override {
    ParentNames names;
    if (!backing_.empty()) (is_absolute_path(backing_) ? names.others : names.relative).push_back(backing_);
    return names;
  }
  // QCOW keeps no identifier of its backing file: any QCOW disk serves.
  bool link_parent(ChainLayer& parent) override { return dynamic_cast<QcowLayer*>(&parent) != nullptr; }

 private:
  bool fail(ContainerProblem& problem, const std::string& detail) {
    problem = {.kind = ContainerProblemKind::damaged, .file = path_, .detail = "QCOW image: " + detail};
    return false;
  }
  bool open_v1(const ByteReader& head, ContainerProblem& problem);
  bool open_v2(const ByteReader& head, ContainerProblem& problem);
  bool read_l1(uint64_t offset, uint64_t entries, ContainerProblem& problem);
  // The L2 table, read and kept; null when its bytes are not in the file.
  const std::vector<uint64_t>* table(uint64_t l1_index);
  uint64_t table_offset(uint64_t l1_index) const {
    return version_ == 1 ? l1_[l1_index] : l1_[l1_index] & kOffsetMask;
  }
  // The entry of one cluster of a table as state, host offset and packed size.
  BlockMap entry(const std::vector<uint64_t>& l2, uint64_t index, uint64_t cluster, uint64_t within) const;
  // Notes the file bytes of every table up to l1_index, in table order, so
  // which of two entries naming the same bytes is the repeat does not
  // depend on the order of reads. False when the table could not be read
  // within the budget.
  bool claim_through(uint64_t l1_index);
  bool repeated(uint64_t l1_index, uint64_t index) const {
    if (repeated_tables_.count(l1_index) != 0) return true;
    const auto found = repeats_.find(l1_index);
    return found != repeats_.end() && found->second[index];
  }

  std::string path_;
  uint32_t version_ = 0;
  uint32_t cluster_bits_ = 16;
  uint32_t l2_bits_ = 13;
  bool extended_ = false;
  uint64_t size_ = 0;
  uint64_t file_size_ = 0;
  uint64_t backing_offset_ = 0;
  uint64_t backing_bytes_ = 0;
  std::string backing_;
  std::vector<uint64_t> l1_;
  std::vector<std::pair<uint64_t, std::vector<uint64_t>>> tables_;  // l1 index, entries; newest last
  ClaimedRanges claimed_;
  uint64_t tables_claimed_ = 0;                      // tables before this L1 index are claimed
  std::map<uint64_t, uint64_t> table_owners_;        // table offset -> first L1 index naming it
  std::set<uint64_t> repeated_tables_;               // L1 indexes naming an earlier one's table
  std::set<uint64_t> unclaimed_tables_;              // past the budget
  std::map<uint64_t, std::vector<bool>> repeats_;    // L1 index -> its repeated entries
  // Tables overlapping one another could otherwise be read far more than the file holds.
  uint64_t table_budget_ = 0;
  bool has_compressed_ = false;
  // The last stretch of whole clusters map found, from run_from_: a scan
  // reading it piece by piece would otherwise walk the rest of the table
  // again for each piece.
  uint64_t run_from_ = UINT64_MAX;
  BlockMap run_;
};

bool QcowLayer::open(ContainerProblem& problem) {
  file_size_ = file_->size();
  table_budget_ = file_size_ + (1u << 20);
  std::array<uint8_t, kHeadBytes> bytes{};
  uint64_t got = 0;
  if (!read_available(*file_, 0, bytes, got)) {
    problem = {.kind = ContainerProblemKind::unreadable, .file = path_};
    return false;
  }
  const ByteReader head(std::span<const uint8_t>(bytes).first(got));
  if (!head.matches(0, kQcowSignature)) return fail(problem, "no QCOW signature");
  version_ = be32(head, 4);
  if (version_ == 1 ? !open_v1(head, problem) : version_ == 2 || version_ == 3 ? !open_v2(head, problem)
                                                                              : !fail(problem, "version " + std::to_string(version_)))
    return false;
  if (has_parent()) {
    if (backing_bytes_ > kMaxBackingName || !fits(backing_offset_, backing_bytes_, file_size_))
      return fail(problem, "backing file name past the end of the file");
    std::vector<uint8_t> name(backing_bytes_);
    if (!read_exact(*file_, backing_offset_, name)) return fail(problem, "backing file name unreadable");
    backing_.assign(name.begin(), std::find(name.begin(), name.end(), uint8_t{0}));
  }
  // A build that cannot inflate says so up front, rather than failing reads.
  if (!vmdk_compression_available() && !l1_.empty() && (claim_through(l1_.size() - 1), has_compressed_))
    return fail(problem, "compressed clusters: reading them needs zlib or libdeflate, which this build lacks");
  return true;
}

bool QcowLayer::open_v1(const ByteReader& head, ContainerProblem& problem) {
  if (head.size() < 48) return fail(problem, "header cut short");
  backing_offset_ = be64(head, 8);
  backing_bytes_ = be32(head, 16);
  size_ = be64(head, 24);
  cluster_bits_ = head.u8(32);
  l2_bits_ = head.u8(33);
  if (cluster_bits_ < kMinClusterBits || cluster_bits_ > 16 || l2_bits_ < 6 || l2_bits_ > 13)
    return fail(problem, "cluster size 2^" + std::to_string(cluster_bits_) + ", L2 size 2^" + std::to_string(l2_bits_));
  if (be32(head, 36) != 0) {
    problem = {.kind = ContainerProblemKind::encrypted, .file = path_};
    return false;
  }
  const uint32_t span_bits = cluster_bits_ + l2_bits_;
  return read_l1(be64(head, 40), (size_ >> span_bits) + ((size_ & ((uint64_t{1} << span_bits) - 1)) != 0), problem);
}

bool QcowLayer::open_v2(const ByteReader& head, ContainerProblem& problem) {
  if (head.size() < 72) return fail(problem, "header cut short");
  backing_offset_ = be64(head, 8);
  backing_bytes_ = be32(head, 16);
  cluster_bits_ = be32(head, 20);
  size_ = be64(head, 24);
  if (cluster_bits_ < kMinClusterBits || cluster_bits_ > kMaxClusterBits)
    return fail(problem, "cluster size 2^" + std::to_string(cluster_bits_));
  if (be32(head, 32) != 0) {
    problem = {.kind = ContainerProblemKind::encrypted, .file = path_};
    return false;
  }
  if (version_ == 3) {
    if (head.size() < 104) return fail(problem, "header cut short");
    const uint64_t incompatible = be64(head, 72);
    const uint64_t known = kIncompatibleDirty | kIncompatibleCorrupt | kIncompatibleCompression | kIncompatibleExtendedL2;
    if (incompatible & kIncompatibleDataFile) return fail(problem, "data in an external file, which rook does not read");
    if (incompatible & ~known) return fail(problem, "unknown incompatible features " + std::to_string(incompatible));
    const uint32_t header_length = be32(head, 100);
    if ((incompatible & kIncompatibleCompression) && header_length > 104 && head.u8(104) != 0)
      return fail(problem, "compression type " + std::to_string(head.u8(104)) + ", which rook does not read");
    extended_ = incompatible & kIncompatibleExtendedL2;
    if (extended_ && cluster_bits_ < 14) return fail(problem, "subclusters in clusters below 16 KiB");
  }
  l2_bits_ = cluster_bits_ - (extended_ ? 4 : 3);
  const uint32_t span_bits = cluster_bits_ + l2_bits_;
  const uint64_t needed = (size_ >> span_bits) + ((size_ & ((uint64_t{1} << span_bits) - 1)) != 0);
  if (be32(head, 36) < needed) return fail(problem, "L1 table too small for the disk size " + std::to_string(size_));
  return read_l1(be64(head, 40), needed, problem);
}

bool QcowLayer::read_l1(uint64_t offset, uint64_t entries, ContainerProblem& problem) {
  if (entries > kMaxL1Bytes / 8) return fail(problem, "L1 table larger than 32 MiB for the disk size " + std::to_string(size_));
  if (!fits(offset, entries * 8, file_size_)) return fail(problem, "L1 table past the end of the file");
  std::vector<uint8_t> bytes(entries * 8);
  if (!read_exact(*file_, offset, bytes)) return fail(problem, "L1 table unreadable");
  const ByteReader r(bytes);
  l1_.resize(entries);
  for (uint64_t i = 0; i < entries; ++i) l1_[i] = be64(r, i * 8);
  return true;
}

const std::vector<uint64_t>* QcowLayer::table(uint64_t l1_index) {
  for (auto& [index, entries] : tables_)
    if (index == l1_index) return &entries;
  const uint64_t count = (uint64_t{1} << l2_bits_) * (extended_ ? 2 : 1);
  const uint64_t at = table_offset(l1_index);
  std::vector<uint8_t> bytes(count * 8);
  if (!fits(at, bytes.size(), file_size_) || !read_exact(*file_, at, bytes)) return nullptr;
  const ByteReader r(bytes);
  std::vector<uint64_t> entries(count);
  for (uint64_t i = 0; i < count; ++i) entries[i] = be64(r, i * 8);
  if (tables_.size() >= kCachedTables) tables_.erase(tables_.begin());
  tables_.emplace_back(l1_index, std::move(entries));
  return &tables_.back().second;
}

BlockMap QcowLayer::entry(const std::vector<uint64_t>& l2, uint64_t index, uint64_t cluster, uint64_t within) const {
  BlockMap m;
  const uint64_t cluster_size = uint64_t{1} << cluster_bits_;
  const uint64_t start = cluster << cluster_bits_;
  m.end = start + cluster_size;
  const uint64_t e = l2[extended_ ? 2 * index : index];
  uint64_t host = 0;
  const bool packed = version_ == 1 ? (e & kV1CompressedFlag) != 0 : (e & kCompressedFlag) != 0;
  if (packed) {
    if (version_ == 1) {
      host = e & ((uint64_t{1} << (63 - cluster_bits_)) - 1);
      m.packed_bytes = (e >> (63 - cluster_bits_)) & (cluster_size - 1);
    } else {
      const uint32_t x = 62 - (cluster_bits_ - 8);
      host = e & ((uint64_t{1} << x) - 1);
      m.packed_bytes = (((e >> x) & ((uint64_t{1} << (cluster_bits_ - 8)) - 1)) + 1) * 512 - (host & 511);
    }
    m.state = host >= file_size_ || m.packed_bytes == 0 ? BlockState::unstored : BlockState::compressed;
    m.file_offset = host;
    m.block_start = start;
    m.block_bytes = cluster_size;
    return m;
  }
  host = version_ == 1 ? e : e & kOffsetMask;
  if (extended_) {
    const uint32_t sub_bits = cluster_bits_ - 5;
    const uint64_t sub = within >> sub_bits;
    const uint64_t bitmap = l2[2 * index + 1];
    m.end = start + ((sub + 1) << sub_bits);
    if (((bitmap >> sub) & 1) && host == 0) {
      m.state = BlockState::unstored;
      return m;
    }
    if ((bitmap >> sub) & 1) {
      host += sub << sub_bits;
      within -= sub << sub_bits;
    } else {
      m.state = (bitmap >> (32 + sub)) & 1 ? BlockState::zeros : BlockState::parent;
      return m;
    }
  } else if (version_ == 3 && (e & 1)) {
    m.state = BlockState::zeros;
    return m;
  } else if (host == 0) {
    return m;
  }
  m.state = host >= file_size_ ? BlockState::unstored : BlockState::data;
  m.file_offset = host + within;
  return m;
}

bool QcowLayer::claim_through(uint64_t l1_index) {
  const uint64_t cluster_size = uint64_t{1} << cluster_bits_;
  const uint64_t per_table = uint64_t{1} << l2_bits_;
  while (tables_claimed_ <= l1_index) {
    const uint64_t j = tables_claimed_++;
    const uint64_t at = table_offset(j);
    if (at == 0) continue;
    if (!table_owners_.emplace(at, j).second) {
      repeated_tables_.insert(j);
      continue;
    }
    const uint64_t bytes = per_table * (extended_ ? 16 : 8);
    const std::vector<uint64_t>* l2 = bytes <= table_budget_ ? table(j) : nullptr;
    if (l2 == nullptr) {
      unclaimed_tables_.insert(j);
      continue;
    }
    table_budget_ -= bytes;
    std::vector<bool> repeats;
    for (uint64_t i = 0; i < per_table; ++i) {
      const BlockMap m = entry(*l2, i, j * per_table + i, 0);
      if (m.state != BlockState::data && m.state != BlockState::compressed) continue;
      has_compressed_ = has_compressed_ || m.state == BlockState::compressed;
      // A compressed cluster is known by where its stream starts: several share a host cluster.
      const uint64_t end = m.state == BlockState::compressed ? m.file_offset + 1 : m.file_offset + cluster_size;
      if (claimed_.claim(m.file_offset, end)) continue;
      repeats.resize(per_table);
      repeats[i] = true;
    }
    if (!repeats.empty()) repeats_.emplace(j, std::move(repeats));
  }
  return unclaimed_tables_.count(l1_index) == 0;
}

BlockMap QcowLayer::map(uint64_t offset) {
  const uint32_t span_bits = cluster_bits_ + l2_bits_;
  const uint64_t l1_index = offset >> span_bits;
  BlockMap m;
  if (l1_index >= l1_.size()) {
    m.end = size_;
    return m;
  }
  if (table_offset(l1_index) == 0) {
    // Whole tables never written, one after the other.
    uint64_t next = l1_index + 1;
    for (uint64_t steps = 0; next < l1_.size() && steps < kRunSteps && table_offset(next) == 0; ++steps) ++next;
    m.end = std::min(size_, saturated_shift(next, span_bits));
    return m;
  }
  if (offset >= run_from_ && offset < run_.end) {
    BlockMap m = run_;
    if (m.state == BlockState::data) m.file_offset += offset - run_from_;
    return m;
  }
  const std::vector<uint64_t>* l2 = claim_through(l1_index) ? table(l1_index) : nullptr;
  if (l2 == nullptr) {
    m.state = BlockState::unstored;
    m.end = std::min(size_, saturated_shift(l1_index + 1, span_bits));
    return m;
  }
  const uint64_t cluster = offset >> cluster_bits_;
  const uint64_t per_table = uint64_t{1} << l2_bits_;
  const uint64_t within = offset & ((uint64_t{1} << cluster_bits_) - 1);
  m = entry(*l2, cluster & (per_table - 1), cluster, within);
  m.repeat = repeated(l1_index, cluster & (per_table - 1));
  // Clusters alike, and stored one after the other, read as one stretch.
  const bool whole_clusters = !extended_ && m.state != BlockState::compressed;
  for (uint64_t next = cluster + 1; whole_clusters && (next & (per_table - 1)) != 0 && m.end < size_; ++next) {
    const BlockMap more = entry(*l2, next & (per_table - 1), next, 0);
    if (more.state != m.state || repeated(l1_index, next & (per_table - 1)) != m.repeat ||
        (m.state == BlockState::data && more.file_offset != m.file_offset + (m.end - offset)))
      break;
    m.end = more.end;
  }
  m.end = std::min(m.end, size_);
  if (whole_clusters && !m.repeat) {
    run_from_ = offset;
    run_ = m;
  }
  if (!m.repeat) return m;
  // Repeats need not lie one after another in the file: a scan passes over them all at once.
  if (repeated_tables_.count(l1_index) != 0) {
    uint64_t next = l1_index + 1;
    for (uint64_t steps = 0; next < l1_.size() && steps < kRunSteps && table_offset(next) != 0 &&
                             claim_through(next) && repeated_tables_.count(next) != 0;
         ++steps)
      ++next;
    m.repeat_end = std::min(size_, saturated_shift(next, span_bits));
    return m;
  }
  uint64_t next = cluster + 1;
  while ((next & (per_table - 1)) != 0 && repeated(l1_index, next & (per_table - 1))) ++next;
  m.repeat_end = std::min(size_, next << cluster_bits_);
  return m;
}

}  // namespace

bool has_qcow_signature(std::span<const uint8_t> head) { return ByteReader(head).matches(0, kQcowSignature); }

std::unique_ptr<MappedLayer> open_qcow_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                             ContainerProblem& problem) {
  auto layer = std::make_unique<QcowLayer>(std::move(file), path);
  if (!layer->open(problem)) return nullptr;
  return layer;
}

ContainerProblem QcowSource::open(const std::string& path) { return LayeredDisk::open(path, open_qcow_layer); }

}  // namespace lnk

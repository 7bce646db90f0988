#include "ntfs/ntfs_volume.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

// Boot sector fields.
constexpr uint64_t kOemIdField = 3;
constexpr uint64_t kBytesPerSectorField = 11;
constexpr uint64_t kSectorsPerClusterField = 13;
constexpr uint64_t kTotalSectorsField = 40;
constexpr uint64_t kMftClusterField = 48;
constexpr uint64_t kClustersPerRecordField = 64;
constexpr char kNtfsOemId[] = "NTFS    ";

constexpr uint64_t kUpdateSequenceOffsetField = 4;
constexpr uint64_t kUpdateSequenceCountField = 6;
constexpr uint64_t kRecordAllocatedSizeField = 28;
constexpr uint16_t kFileSequenceOffsetLimit = 48;
constexpr uint16_t kFileSequenceCountLimit = 9;
// The update sequence protects 512-byte strides whatever the sector size
// says, so its length tells the record size Windows wrote.
constexpr uint32_t kUpdateSequenceStride = 512;

// Sizes a real volume can have; anything outside is a damaged or hostile
// boot sector, and refusing it keeps every later allocation bounded.
constexpr uint32_t kMinSectorSize = 256;
constexpr uint32_t kMaxSectorSize = 4096;
constexpr uint32_t kMaxClusterSize = 2u << 20;
// Windows writes 1,024- and 4,096-byte records only.
constexpr uint32_t kMinRecordSize = 256;
constexpr uint32_t kMaxRecordSize = 4096;
// An $MFT attribute list larger than this is not one NTFS writes.
constexpr uint64_t kMaxMftAttributeList = 1u << 20;

// Sectors per cluster above 0x80 are a negative power of two: Windows
// writes 0xF4 for 2 MiB clusters on 512-byte sectors.
uint64_t sectors_per_cluster_from(uint8_t raw) {
  if (raw <= 0x80) return raw;
  const unsigned shift = 256u - raw;
  return shift < 32 ? uint64_t{1} << shift : 0;
}

// A record 0 that is "FILE" with a plausible update sequence.
bool plausible_record_zero(std::span<const uint8_t> record) {
  const ByteReader r(record);
  return record_kind(record) == RecordKind::file &&
         r.u16(kUpdateSequenceOffsetField) <= kFileSequenceOffsetLimit &&
         r.u16(kUpdateSequenceCountField) <= kFileSequenceCountLimit && !r.failed();
}

}  // namespace

uint64_t NtfsVolume::disk_offset() const {
  return disk_ ? disk_->partition_offset() : attached_disk_offset_;
}

bool NtfsVolume::take_source(ByteSource* source, uint64_t volume_start, uint32_t mode) {
  source_ = source;
  volume_start_ = volume_start;
  mode_ = mode;
  const uint64_t size = source->size();
  window_ = std::make_unique<WindowSource>(*source, volume_start, size > volume_start ? size - volume_start : 0);
  return true;
}

bool NtfsVolume::open_image(const std::string& path, uint64_t volume_start) {
  close();
  auto disk = std::make_unique<DiskSource>();
  if (!disk->open_image(path)) return false;
  disk_ = std::move(disk);
  return take_source(disk_.get(), volume_start, kOpenImageFile);
}

bool NtfsVolume::open_path(const std::string& path, uint32_t mode) {
  close();
  if (mode == kOpenImageFile) return open_image(path, 0);
  if (mode != kOpenVolumeLetter && mode != kOpenDevicePath) {
    mode_ = kOpenRefused;
    return false;
  }
  auto disk = std::make_unique<DiskSource>();
  if (!disk->open_path(path, mode == kOpenVolumeLetter ? kSourceVolumeLetter : kSourceDevicePath, false))
    return false;
  disk_ = std::move(disk);
  return take_source(disk_.get(), 0, mode);
}

bool NtfsVolume::open_physical_drive(uint32_t number, uint64_t volume_start) {
  close();
  auto disk = std::make_unique<DiskSource>();
  if (!disk->open_physical_drive(number)) return false;
  disk_ = std::move(disk);
  return take_source(disk_.get(), volume_start, kOpenPhysicalDrive);
}

bool NtfsVolume::attach(std::unique_ptr<ByteSource> source, uint64_t volume_start, uint64_t disk_offset) {
  close();
  if (!source) return false;
  owned_ = std::move(source);
  attached_disk_offset_ = disk_offset;
  return take_source(owned_.get(), volume_start, kOpenAttached);
}

bool NtfsVolume::attach(ByteSource& source, uint64_t volume_start, uint64_t disk_offset) {
  close();
  attached_disk_offset_ = disk_offset;
  return take_source(&source, volume_start, kOpenAttached);
}

void NtfsVolume::close() {
  mft_.reset();
  window_.reset();
  disk_.reset();
  owned_.reset();
  source_ = nullptr;
  mode_ = kOpenRefused;
  volume_start_ = 0;
  attached_disk_offset_ = 0;
  validated_ = open_ = false;
  boot_sector_.clear();
  record_zero_.clear();
  mft_file_name_.clear();
  mft_data_runs_.clear();
  mft_bitmap_runs_.clear();
  mft_index_runs_.clear();
  mft_data_resident_ = false;
  sector_size_ = sectors_per_cluster_ = cluster_size_ = clusters_per_record_ = 0;
  record_size_ = record_allocated_size_ = 0;
  total_clusters_ = mft_start_ = record_count_ = 0;
  path_cache_.clear();
  directory_cache_.clear();
}

bool NtfsVolume::validate() {
  if (validated_) return open_;
  validated_ = true;
  if (source_ == nullptr || !read_boot_sector() || !read_record_zero() || !parse_record_zero()) {
    mft_.reset();
    return false;
  }
  open_ = true;
  return true;
}

bool NtfsVolume::read_boot_sector() {
  boot_sector_.assign(kBootSectorSize, 0);
  if (!read_exact(*window_, 0, boot_sector_)) return false;
  const ByteReader boot(boot_sector_);
  if (!boot.matches(kOemIdField, std::span(reinterpret_cast<const uint8_t*>(kNtfsOemId), 8))) return false;
  sector_size_ = boot.u16(kBytesPerSectorField);
  const uint64_t sectors_per_cluster = sectors_per_cluster_from(boot.u8(kSectorsPerClusterField));
  if (!std::has_single_bit(sector_size_) || sector_size_ < kMinSectorSize || sector_size_ > kMaxSectorSize ||
      sectors_per_cluster == 0 || sectors_per_cluster * sector_size_ > kMaxClusterSize)
    return false;
  sectors_per_cluster_ = static_cast<uint32_t>(sectors_per_cluster);
  cluster_size_ = sector_size_ * sectors_per_cluster_;
  total_clusters_ = boot.u64(kTotalSectorsField) / sectors_per_cluster_;
  const int8_t per_record = static_cast<int8_t>(boot.u8(kClustersPerRecordField));
  uint64_t record_size = 0;
  if (per_record < 0) {
    const int shift = -per_record;
    record_size = shift < 32 ? uint64_t{1} << shift : 0;
    clusters_per_record_ = static_cast<uint32_t>(record_size / cluster_size_);
  } else {
    record_size = uint64_t{static_cast<uint8_t>(per_record)} * cluster_size_;
    clusters_per_record_ = static_cast<uint8_t>(per_record);
  }
  if (record_size < kMinRecordSize || record_size > kMaxRecordSize) return false;
  record_size_ = static_cast<uint32_t>(record_size);
  return checked_mul(boot.u64(kMftClusterField), cluster_size_, mft_start_) && !boot.failed();
}

bool NtfsVolume::read_record_zero() {
  record_zero_.assign(record_size_, 0);
  if (!read_exact(*window_, mft_start_, record_zero_) || !plausible_record_zero(record_zero_)) return false;
  // Windows may format 4,096-byte records on a disk whose boot sector
  // still says 1,024: the update sequence length tells the truth.
  const uint16_t count = ByteReader(record_zero_).u16(kUpdateSequenceCountField);
  const uint32_t implied = count > 1 ? (count - 1u) * kUpdateSequenceStride : 0;
  if (implied > record_size_) {
    record_size_ = implied;
    clusters_per_record_ = record_size_ / cluster_size_;
    record_zero_.assign(record_size_, 0);
    if (!read_exact(*window_, mft_start_, record_zero_) || !plausible_record_zero(record_zero_)) return false;
  }
  return apply_fixups(record_zero_, sector_size_);
}

std::vector<Extent> NtfsVolume::runs_extents(const std::vector<DataRun>& runs, uint64_t& total) const {
  std::vector<Extent> extents;
  total = 0;
  uint64_t volume_bytes = 0;
  if (!checked_mul(total_clusters_, cluster_size_, volume_bytes)) volume_bytes = UINT64_MAX;
  volume_bytes = std::min(volume_bytes, window_ ? window_->size() : 0);
  for (const DataRun& run : runs) {
    uint64_t length = 0;
    if (!checked_mul(run.length, cluster_size_, length) || length > UINT64_MAX - total) break;
    Extent e;
    e.file_offset = total;
    e.length = length;
    e.sparse = run.sparse();
    total += length;
    if (!e.sparse) {
      // A run that starts past the volume leaves a hole; one that runs past
      // its end is cut there.
      if (!checked_mul(static_cast<uint64_t>(run.start_cluster), cluster_size_, e.source_offset) ||
          e.source_offset >= volume_bytes)
        continue;
      e.length = std::min(e.length, volume_bytes - e.source_offset);
    }
    extents.push_back(e);
  }
  return extents;
}

std::unique_ptr<ExtentSource> NtfsVolume::runs_source(const std::vector<DataRun>& runs, uint64_t size,
                                                      uint64_t valid_size) {
  if (!window_) return nullptr;
  uint64_t total = 0;
  std::vector<Extent> extents = runs_extents(runs, total);
  return std::make_unique<ExtentSource>(*window_, std::move(extents), std::min(size, total), valid_size);
}

bool NtfsVolume::parse_record_zero() {
  const ByteReader r(record_zero_);
  // NTFS writes the same value here as the record size; a record 0 that
  // says otherwise is damaged in this field only (its update sequence
  // already matched the size), so records keep the size that was read.
  record_allocated_size_ = r.u32(kRecordAllocatedSizeField);
  AttributeWalker walker(record_zero_);
  AttributeView a;
  bool have_data = false;
  while (walker.next(a)) {
    if (!a.well_formed) break;
    if (a.type == kAttrFileName && !a.non_resident && mft_file_name_.empty()) {
      const auto copy = a.value.first(std::min<size_t>(a.value.size(), kMftFileNameCopySize));
      mft_file_name_.assign(copy.begin(), copy.end());
    }
    std::vector<DataRun>* target = nullptr;
    if (a.type == kAttrData && !a.named() && !have_data) target = &mft_data_runs_;
    if (a.type == kAttrIndexAllocation && mft_index_runs_.empty()) target = &mft_index_runs_;
    if (a.type == kAttrBitmap && mft_bitmap_runs_.empty()) target = &mft_bitmap_runs_;
    if (target == nullptr) continue;
    if (a.type == kAttrData) have_data = true;
    if (!a.non_resident) {
      if (a.type == kAttrData) mft_data_resident_ = true;
      continue;
    }
    if (a.type == kAttrData && a.initialized_size == 0) continue;
    if (!decode_data_runs(a.run_bytes, *target)) return false;
  }
  build_mft_source();
  add_mft_extension_runs();
  record_count_ = mft_->size() / record_size_;
  return record_count_ > 0;
}

// A very fragmented $MFT keeps the rest of its runs in extension records
// named by an attribute list in record 0; they are found with the runs
// already known (Windows places those records early in the MFT).
void NtfsVolume::add_mft_extension_runs() {
  AttributeWalker walker(record_zero_);
  AttributeView a;
  std::vector<uint8_t> list;
  while (walker.next(a) && a.well_formed) {
    if (a.type != kAttrAttributeList) continue;
    if (!a.non_resident) {
      list.assign(a.value.begin(), a.value.end());
    } else {
      std::vector<DataRun> runs;
      if (!decode_data_runs(a.run_bytes, runs)) return;
      auto source = runs_source(runs, std::min(a.real_size, kMaxMftAttributeList), UINT64_MAX);
      list.assign(source->size(), 0);
      if (!read_exact(*source, 0, list)) return;
    }
    break;
  }
  if (list.empty()) return;
  uint64_t next_vcn = 0;
  for (const DataRun& run : mft_data_runs_) next_vcn += run.length;
  const uint64_t base_vcn = next_vcn;
  std::set<uint64_t> visited{0};
  AttributeListWalker entries(list);
  AttributeListEntry entry;
  std::vector<uint8_t> record;
  while (entries.next(entry)) {
    if (entry.type != kAttrData || !entry.name_utf16.empty() || entry.starting_vcn != next_vcn) continue;
    const uint64_t holder = reference_entry(entry.reference);
    if (!visited.insert(holder).second || read_record(holder, record) != RecordRead::fixed) continue;
    AttributeWalker inner(record);
    AttributeView piece;
    while (inner.next(piece) && piece.well_formed) {
      if (piece.type != kAttrData || piece.id != entry.id || !piece.non_resident || piece.named()) continue;
      std::vector<DataRun> runs;
      if (piece.lowest_vcn == next_vcn && decode_data_runs(piece.run_bytes, runs)) {
        for (const DataRun& run : runs) next_vcn += run.length;
        mft_data_runs_.insert(mft_data_runs_.end(), runs.begin(), runs.end());
      }
      break;
    }
  }
  if (next_vcn != base_vcn) build_mft_source();
}

void NtfsVolume::build_mft_source() {
  uint64_t total = 0;
  std::vector<Extent> extents;
  if (mft_data_resident_ || mft_data_runs_.empty()) {
    // Nothing maps the MFT but the boot sector: take the cluster it names.
    extents.push_back(Extent{0, cluster_size_, mft_start_, false});
    total = cluster_size_;
  } else {
    extents = runs_extents(mft_data_runs_, total);
  }
  // An MFT cannot be larger than its volume: runs that repeat clusters
  // would otherwise multiply the records to walk.
  const uint64_t size = std::min(total, window_->size());
  mft_ = std::make_unique<ExtentSource>(*window_, std::move(extents), size, size);
}

uint64_t NtfsVolume::record_offset(uint64_t entry) const {
  uint64_t byte = 0, mapped = 0;
  if (!open_ || entry >= record_count_ || !checked_mul(entry, record_size_, byte) || !mft_->map(byte, mapped))
    return 0;
  return mapped;
}

RecordRead NtfsVolume::read_record(uint64_t entry, std::vector<uint8_t>& record) {
  uint64_t byte = 0;
  if (!mft_ || !checked_mul(entry, record_size_, byte) || byte >= mft_->size()) return RecordRead::absent;
  record.resize(record_size_);
  if (!read_exact(*mft_, byte, record)) return RecordRead::absent;
  switch (record_kind(record)) {
    case RecordKind::bad:
      diag("err: fixup_mft type: BAAD");
      return RecordRead::bad;
    case RecordKind::file:
    case RecordKind::index:
      return apply_fixups(record, sector_size_) ? RecordRead::fixed : RecordRead::absent;
    default:
      return RecordRead::absent;
  }
}

bool NtfsVolume::read_clusters(uint64_t cluster, std::span<uint8_t> out) {
  uint64_t offset = 0;
  if (!open_ || out.empty() || out.size() % cluster_size_ != 0 || !checked_mul(cluster, cluster_size_, offset))
    return false;
  return read_exact(*window_, offset, out);
}

}  // namespace lnk

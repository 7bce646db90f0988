// One NTFS file system at a byte offset of a source: the boot sector, the
// geometry, MFT record 0 and the runs of $MFT, and reads of records and
// clusters. Everything above (entries, indexes, paths, the scan) reads
// through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ntfs/directory_cache.h"
#include "ntfs/mft_record.h"
#include "ntfs/path_cache.h"
#include "storage/byte_source.h"
#include "storage/disk_source.h"
#include "storage/extent_source.h"
#include "storage/window_source.h"

namespace lnk {

enum NtfsOpenMode : uint32_t {
  kOpenVolumeLetter = 32,
  kOpenImageFile = 33,
  kOpenPhysicalDrive = 34,
  kOpenDevicePath = 35,
  kOpenAttached = 36,
  kOpenRefused = 255,
};

constexpr uint32_t kBootSectorSize = 512;
constexpr uint32_t kMftFileNameCopySize = 68;

// Receives "info: ..." and "err: ..." lines for the diagnostic log.
using DiagSink = std::function<void(const std::string&)>;

// What one read of a record gave.
enum class RecordRead { absent, fixed, bad };

class NtfsVolume {
 public:
  NtfsVolume() = default;
  NtfsVolume(const NtfsVolume&) = delete;
  NtfsVolume& operator=(const NtfsVolume&) = delete;

  // Each open drops what was open before and leaves the volume to validate.
  bool open_image(const std::string& path, uint64_t volume_start);  // mode 33
  bool open_path(const std::string& path, uint32_t mode);          // modes 32, 35; start 0
  bool open_physical_drive(uint32_t number, uint64_t volume_start);  // mode 34
  // Mode 36: a source the caller opened (a VMware chain, a memory image, a
  // window of a disk). disk_offset is where the volume starts on its disk,
  // for reports only.
  bool attach(std::unique_ptr<ByteSource> source, uint64_t volume_start, uint64_t disk_offset = 0);
  bool attach(ByteSource& source, uint64_t volume_start, uint64_t disk_offset = 0);

  // Reads and checks the boot sector and MFT record 0 once; later calls
  // return the first answer. Every other operation needs it to be true.
  bool validate();
  bool is_open() const { return open_; }
  void close();

  void set_name(const std::string& name) { name_ = name; }
  const std::string& name() const { return name_; }
  void set_diag_sink(DiagSink sink) { diag_ = std::move(sink); }
  void diag(const std::string& line) const {
    if (diag_) diag_(line);
  }

  uint32_t mode() const { return mode_; }
  // The source the volume was opened on (its offsets include the volume start).
  ByteSource* source() const { return source_; }
  // The DiskSource when the volume opened one itself (modes 32 to 35).
  DiskSource* disk() const { return disk_.get(); }
  // The volume's own bytes: offset 0 is the boot sector.
  ByteSource& volume_bytes() { return *window_; }
  uint64_t volume_start() const { return volume_start_; }
  // Where the volume starts on its physical disk (0 for an image file).
  uint64_t disk_offset() const;

  std::span<const uint8_t> boot_sector() const { return boot_sector_; }
  std::span<const uint8_t> record_zero() const { return record_zero_; }
  std::span<const uint8_t> mft_file_name() const { return mft_file_name_; }
  const std::vector<DataRun>& mft_data_runs() const { return mft_data_runs_; }
  const std::vector<DataRun>& mft_bitmap_runs() const { return mft_bitmap_runs_; }
  const std::vector<DataRun>& mft_index_allocation_runs() const { return mft_index_runs_; }

  uint32_t sector_size() const { return sector_size_; }
  uint32_t sectors_per_cluster() const { return sectors_per_cluster_; }
  uint32_t cluster_size() const { return cluster_size_; }
  uint64_t total_clusters() const { return total_clusters_; }
  uint32_t clusters_per_record() const { return clusters_per_record_; }
  uint32_t record_size() const { return record_size_; }
  uint32_t record_allocated_size() const { return record_allocated_size_; }
  uint64_t mft_start() const { return mft_start_; }
  uint64_t record_count() const { return record_count_; }

  // Byte offset of record entry within the volume, through the $MFT runs;
  // 0 when it lies beyond them, in a sparse run, or the volume is not open.
  uint64_t record_offset(uint64_t entry) const;
  // The MFT's data as a source of its own: record N at N x record size.
  ByteSource* mft_bytes() { return mft_.get(); }
  // Record entry with its fixups applied. "BAAD" records come back
  // unfixed (and logged); any other signature, or a failed read, is absent.
  RecordRead read_record(uint64_t entry, std::vector<uint8_t>& record);
  // Reads whole clusters from cluster on; refused unless out is a multiple
  // of the cluster size.
  bool read_clusters(uint64_t cluster, std::span<uint8_t> out);
  // A source over data runs of this volume (clusters relative to the
  // volume start); sparse runs read as zeros. Runs that reach past the
  // volume are cut at its end.
  std::unique_ptr<ExtentSource> runs_source(const std::vector<DataRun>& runs, uint64_t size, uint64_t valid_size);
  // Extents for runs, cut to the volume; total is their length in bytes.
  std::vector<Extent> runs_extents(const std::vector<DataRun>& runs, uint64_t& total) const;

  PathCache& path_cache() { return path_cache_; }
  DirectoryCache& directory_cache() { return directory_cache_; }

 private:
  bool take_source(ByteSource* source, uint64_t volume_start, uint32_t mode);
  bool read_boot_sector();
  bool read_record_zero();
  bool parse_record_zero();
  void add_mft_extension_runs();
  void build_mft_source();

  std::string name_;
  uint32_t mode_ = kOpenRefused;
  std::unique_ptr<DiskSource> disk_;
  std::unique_ptr<ByteSource> owned_;
  ByteSource* source_ = nullptr;
  std::unique_ptr<WindowSource> window_;
  uint64_t volume_start_ = 0;
  uint64_t attached_disk_offset_ = 0;
  DiagSink diag_;

  bool validated_ = false;
  bool open_ = false;
  std::vector<uint8_t> boot_sector_;
  std::vector<uint8_t> record_zero_;
  std::vector<uint8_t> mft_file_name_;
  std::vector<DataRun> mft_data_runs_;
  std::vector<DataRun> mft_bitmap_runs_;
  std::vector<DataRun> mft_index_runs_;
  bool mft_data_resident_ = false;
  std::unique_ptr<ExtentSource> mft_;

  uint32_t sector_size_ = 0;
  uint32_t sectors_per_cluster_ = 0;
  uint32_t cluster_size_ = 0;
  uint64_t total_clusters_ = 0;
  uint32_t clusters_per_record_ = 0;
  uint32_t record_size_ = 0;
  uint32_t record_allocated_size_ = 0;
  uint64_t mft_start_ = 0;
  uint64_t record_count_ = 0;

  PathCache path_cache_;
  DirectoryCache directory_cache_;
};

}  // namespace lnk

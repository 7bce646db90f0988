// A file's data read through its MFT entry: as a byte source (nothing read
// until asked) or copied into memory.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ntfs/mft_entry.h"
#include "ntfs/ntfs_volume.h"
#include "storage/byte_source.h"
#include "storage/extent_source.h"

namespace lnk {

// What callers copy into memory unless they ask for more: a file's size
// fields and runs are the file's own word, and sparse runs cost nothing to
// claim. Shortcuts and jump lists are far smaller.
constexpr uint64_t kDefaultDataLimit = 64u << 20;

class CompressedDataSource;
class WofDataSource;

struct DataStream {
  std::unique_ptr<ByteSource> source;
  // The source as runs (null for resident and compressed data): its extents
  // tell which stretches hold clusters and which are sparse.
  const ExtentSource* mapped = nullptr;
  const CompressedDataSource* packed = nullptr;  // the source, for compressed data
  const WofDataSource* wof = nullptr;            // the source, for WOF-compressed data
  uint64_t size = 0;
  bool resident = false;
  bool compressed = false;  // decoded unit by unit; see compressed_data.h
  uint16_t flags = 0;       // the attribute's flags
  // First run's cluster x cluster size; 0 for resident data or no runs.
  uint64_t first_cluster_offset = 0;

  // Where the byte at offset lies in the volume's source (see
  // CompressedDataSource::map for compressed data); false for resident data
  // and sparse stretches.
  bool map(uint64_t offset, uint64_t& in_volume) const;
};

// The data of one attribute. Non-resident data is as long as the larger of
// its real and initialized sizes, cut to what its runs cover; from the
// initialized size on it reads as zeros, as Windows returns it, unless the
// caller asks for the clusters as they are there (a file the system reads
// behind the file system's back, as the shadow-copy service does its
// catalog). Compressed data (flag 0x0001 and a compression unit) is
// decoded, and reads as zeros from its initialized size on.
bool open_attribute_data(NtfsVolume& volume, const ParsedAttribute& attribute, DataStream& out,
                         bool stored_past_initialized = false);
// The unnamed $DATA of entry.
bool open_entry_data(NtfsVolume& volume, uint64_t entry, DataStream& out);

// Copies an attribute's data into out (at most max_bytes), in chunks of 16
// clusters; a chunk that cannot be read ends the copy, keeping what came
// before it, and compressed data that stops decoding ends it where its good
// bytes end. Blocks of index allocation data get their "INDX" fixups.
bool copy_attribute_data(NtfsVolume& volume, const ParsedAttribute& attribute, std::vector<uint8_t>& out,
                         uint64_t max_bytes, DataStream& stream, bool stored_past_initialized = false);

// Why a file's bytes could not be read as the file holds them.
enum class DataGap {
  none,
  wof_not_decoded,       // WOF compression this build or these chunks do not decode
  compression_not_read,  // NTFS compression without a usable compression unit
};

// A request to copy one file's data into memory, by entry number, or by
// path when entry is all ones.
struct FileRequest {
  uint64_t entry = UINT64_MAX;
  std::string path;
  std::string stream;  // a named $DATA stream; empty for the unnamed data
  // The entry's record, fixed, when the caller holds it already: a scan
  // that walked the MFT need not read each chosen record twice.
  std::span<const uint8_t> record;
  // At most this many bytes are copied; data_size still tells the whole.
  uint64_t max_bytes = kDefaultDataLimit;
  bool stored_past_initialized = false;  // see open_attribute_data
  std::vector<uint8_t> data;
  uint64_t data_size = 0;
  uint64_t first_cluster_offset = 0;
  // The $DATA attribute's id, as sleuthkit names it (entry-128-id).
  uint16_t data_attribute_id = 0;
  // What the data was read through: its runs tell where each byte lies.
  DataStream data_stream;
  DataGap gap = DataGap::none;
};
// The entry's unnamed $DATA (or the named stream asked for), copied as
// copy_attribute_data does. A file Windows compressed with WOF is decoded
// from its WofCompressedData stream (its unnamed data holds none of its
// bytes); one that cannot be is named in the diagnostic log and its gap set.
bool read_file(NtfsVolume& volume, FileRequest& request);
// Tells the volume's source which clusters read_file will read of the
// unnamed $DATA a fixed record holds itself (at most max_bytes), so that a
// container decodes them ahead; reads nothing and logs nothing. Returns the
// bytes announced.
uint64_t announce_file_data(NtfsVolume& volume, std::span<const uint8_t> record, uint64_t max_bytes);
bool read_entry_data(NtfsVolume& volume, uint64_t entry, std::vector<uint8_t>& out,
                     uint64_t max_bytes = kDefaultDataLimit, bool stored_past_initialized = false);

}  // namespace lnk

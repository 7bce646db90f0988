#include "ntfs/file_data.h"

#include <algorithm>

#include "ntfs/compressed_data.h"
#include "ntfs/path_lookup.h"
#include "ntfs/wof_data.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "storage/memory_source.h"

namespace lnk {
namespace {

constexpr uint64_t kChunkClusters = 16;
constexpr uint64_t kIndexBlockSize = 4096;
constexpr uint64_t kReparseTagField = 0;
constexpr char kWofStreamName[] = "WofCompressedData";

// A compressed attribute's unit in bytes; 0 when it has none or one too
// large to be real.
uint64_t compression_unit_bytes(const NtfsVolume& volume, const ParsedAttribute& attribute) {
  if (!(attribute.flags & kAttrFlagCompressed) || attribute.compression_unit == 0 ||
      attribute.compression_unit >= 32)
    return 0;
  const uint64_t bytes = uint64_t{volume.cluster_size()} << attribute.compression_unit;
  return bytes <= kMaxCompressionUnitBytes ? bytes : 0;
}

// Windows 10's other compression: the unnamed data is a sparse stand-in,
// the bytes sit in a named stream behind reparse tag 0x80000017.
bool wof_compressed(const MftEntry& entry) {
  for (const ParsedAttribute& a : entry.attributes)
    if (a.type == kAttrReparsePoint && ByteReader(a.value).u32(kReparseTagField) == kReparseTagWof) return true;
  return false;
}

// Copies up to wanted bytes in chunks; the buffer grows with what was read,
// never with what a size field claims: runs can claim far more than the
// volume holds.
void copy_source(ByteSource& source, uint64_t wanted, uint64_t chunk, std::vector<uint8_t>& out) {
  uint64_t done = 0;
  while (done < wanted) {
    const uint64_t piece = std::min(chunk, wanted - done);
    out.resize(done + piece);
    uint64_t count = 0;
    if (!read_available(source, done, std::span(out).subspan(done, piece), count)) break;
    done += count;
    if (count < piece) break;
  }
  out.resize(done);
}

// The bytes of a WOF-compressed file from its WofCompressedData stream;
// false, with why, when they cannot be decoded at all.
bool read_wof_data(NtfsVolume& volume, const MftEntry& entry, FileRequest& request, std::string& why) {
  const ParsedAttribute* reparse = entry.find(kAttrReparsePoint);
  WofInfo info;
  if (reparse == nullptr || !decode_wof_reparse(reparse->value, info)) {
    why = "a provider or algorithm not known";
    return false;
  }
  if (!wof_codec_available()) {
    why = "this build lacks wimlib";
    return false;
  }
  const ParsedAttribute* data = entry.find(kAttrData);
  const ParsedAttribute* packed = entry.find(kAttrData, kWofStreamName);
  DataStream stream;
  if (data == nullptr || packed == nullptr || !open_attribute_data(volume, *packed, stream)) {
    why = "no readable WofCompressedData stream";
    return false;
  }
  DataStream& out = request.data_stream;
  out = DataStream{};
  out.size = data->data_size();
  out.first_cluster_offset = stream.first_cluster_offset;
  out.flags = data->flags;
  auto source = std::make_unique<WofDataSource>(std::move(stream.source), stream.mapped, out.size, info);
  out.wof = source.get();
  out.source = std::move(source);
  const uint64_t wanted = std::min(out.size, request.max_bytes);
  copy_source(*out.source, wanted, info.chunk_bytes, request.data);
  if (request.data.size() < wanted)
    volume.diag("err: WofCompressedData damaged from offset 0x" + hex_lower(request.data.size(), 1) + ": inode 0x" +
                hex_lower(request.entry, 1));
  request.data_size = out.size;
  request.first_cluster_offset = out.first_cluster_offset;
  request.data_attribute_id = data->id;
  return true;
}

}  // namespace

bool DataStream::map(uint64_t offset, uint64_t& in_volume) const {
  if (mapped != nullptr) return mapped->map(offset, in_volume);
  if (wof != nullptr) return wof->map(offset, in_volume);
  return packed != nullptr && packed->map(offset, in_volume);
}

bool open_attribute_data(NtfsVolume& volume, const ParsedAttribute& attribute, DataStream& out,
                         bool stored_past_initialized) {
  out = DataStream{};
  out.flags = attribute.flags;
  if (!attribute.non_resident) {
    if (attribute.value.empty()) return false;
    out.resident = true;
    out.size = attribute.value.size();
    out.source = std::make_unique<OwnedMemorySource>(attribute.value);
    return true;
  }
  if (attribute.runs.empty()) return false;
  if (!attribute.runs.front().sparse())
    out.first_cluster_offset = static_cast<uint64_t>(attribute.runs.front().start_cluster) * volume.cluster_size();
  const uint64_t wanted = std::max(attribute.real_size, attribute.initialized_size);
  if (attribute.flags & kAttrFlagCompressed) {
    const uint64_t unit = compression_unit_bytes(volume, attribute);
    if (unit == 0) {
      volume.diag("err: compression unit 2^" + std::to_string(attribute.compression_unit) + " clusters not read");
      return false;
    }
    auto stored = volume.runs_source(attribute.runs, UINT64_MAX, UINT64_MAX);
    if (!stored) return false;
    out.size = std::min(wanted, stored->size());
    out.compressed = true;
    auto packed = std::make_unique<CompressedDataSource>(std::move(stored), unit, out.size, attribute.initialized_size);
    out.packed = packed.get();
    out.source = std::move(packed);
    return true;
  }
  auto source =
      volume.runs_source(attribute.runs, wanted, stored_past_initialized ? UINT64_MAX : attribute.initialized_size);
  if (!source) return false;
  out.size = source->size();
  out.mapped = source.get();
  out.source = std::move(source);
  return true;
}

bool open_entry_data(NtfsVolume& volume, uint64_t n, DataStream& out) {
  MftEntry entry;
  if (!categorize_attributes(volume, n, entry)) return false;
  const ParsedAttribute* data = entry.find(kAttrData);
  if (data == nullptr || !open_attribute_data(volume, *data, out)) {
    volume.diag("err: no data");
    return false;
  }
  if (out.resident) volume.diag("info: data size 0x" + hex_lower(out.size, 1));
  return true;
}

bool copy_attribute_data(NtfsVolume& volume, const ParsedAttribute& attribute, std::vector<uint8_t>& out,
                         uint64_t max_bytes, DataStream& stream, bool stored_past_initialized) {
  out.clear();
  if (!open_attribute_data(volume, attribute, stream, stored_past_initialized)) return false;
  copy_source(*stream.source, std::min(stream.size, max_bytes), kChunkClusters * volume.cluster_size(), out);
  if (attribute.type == kAttrIndexAllocation) {
    for (uint64_t block = 0; block + kIndexBlockSize <= out.size(); block += kIndexBlockSize)
      apply_fixups(std::span(out).subspan(block, kIndexBlockSize), volume.sector_size());
  }
  return true;
}

bool read_file(NtfsVolume& volume, FileRequest& request) {
  request.data.clear();
  request.data_size = request.first_cluster_offset = 0;
  request.data_attribute_id = 0;
  if (!volume.validate()) return false;
  if (request.entry == UINT64_MAX) {
    uint64_t found = 0;
    if (!lookup_path(volume, request.path, found)) return false;
    request.entry = found;
  }
  MftEntry entry;
  if (!categorize_attributes(volume, request.entry, entry, request.record)) return false;
  request.gap = DataGap::none;
  std::string why;
  if (request.stream.empty() && wof_compressed(entry)) {
    if (read_wof_data(volume, entry, request, why)) return true;
    request.gap = DataGap::wof_not_decoded;
    const FileName* name = entry.preferred_name();
    volume.diag("err: WofCompressedData not decoded (" + why + "): inode 0x" + hex_lower(request.entry, 1) +
                (name != nullptr ? " " + name->name : std::string()));
  }
  const ParsedAttribute* data = entry.find(kAttrData, request.stream);
  DataStream& stream = request.data_stream;
  if (data != nullptr && (data->flags & kAttrFlagCompressed) && compression_unit_bytes(volume, *data) == 0)
    request.gap = DataGap::compression_not_read;
  if (data == nullptr || !copy_attribute_data(volume, *data, request.data, request.max_bytes, stream,
                                             request.stored_past_initialized)) {
    volume.diag("err: no data");
    return false;
  }
  if (stream.resident) volume.diag("info: data size 0x" + hex_lower(stream.size, 1));
  request.data_size = stream.size;
  request.first_cluster_offset = stream.first_cluster_offset;
  request.data_attribute_id = data->id;
  return true;
}

uint64_t announce_file_data(NtfsVolume& volume, std::span<const uint8_t> record, uint64_t max_bytes) {
  AttributeWalker walker(record);
  AttributeView a;
  while (walker.next(a) && a.well_formed) {
    if (a.type != kAttrData || a.named()) continue;
    if (!a.non_resident || a.lowest_vcn != 0) return 0;
    std::vector<DataRun> runs;
    decode_data_runs(a.run_bytes, runs);
    // Past the initialized size nothing is read.
    const uint64_t wanted = std::min({a.real_size, a.initialized_size, max_bytes});
    const std::unique_ptr<ExtentSource> data = volume.runs_source(runs, wanted, UINT64_MAX);
    if (!data) return 0;
    data->will_read(0, data->size());
    return data->size();
  }
  return 0;
}

bool read_entry_data(NtfsVolume& volume, uint64_t entry, std::vector<uint8_t>& out, uint64_t max_bytes,
                     bool stored_past_initialized) {
  FileRequest request;
  request.entry = entry;
  request.max_bytes = max_bytes;
  request.stored_past_initialized = stored_past_initialized;
  const bool ok = read_file(volume, request);
  out = std::move(request.data);
  return ok;
}

}  // namespace lnk

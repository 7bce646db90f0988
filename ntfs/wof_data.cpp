#include "ntfs/wof_data.h"

#include <algorithm>
#include <array>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

constexpr uint64_t kReparseHeaderBytes = 8;
constexpr uint64_t kWofValueBytes = kReparseHeaderBytes + 16;
constexpr uint32_t kWofVersion = 1;
constexpr uint32_t kFileProvider = 2;
constexpr uint32_t kFileProviderVersion = 1;
constexpr uint64_t kWideTableSize = uint64_t{1} << 32;

}  // namespace

bool decode_wof_reparse(std::span<const uint8_t> value, WofInfo& out) {
  const ByteReader r(value);
  if (!r.has(0, kWofValueBytes) || r.u32(0) != kReparseTagWof) return false;
  if (r.u32(8) != kWofVersion || r.u32(12) != kFileProvider || r.u32(16) != kFileProviderVersion) return false;
  switch (r.u32(20)) {
    case 0: out = {WofAlgorithm::xpress4k, 4096}; return true;
    case 1: out = {WofAlgorithm::lzx, 32768}; return true;
    case 2: out = {WofAlgorithm::xpress8k, 8192}; return true;
    case 3: out = {WofAlgorithm::xpress16k, 16384}; return true;
    default: return false;
  }
}

WofDataSource::WofDataSource(std::unique_ptr<ByteSource> stream, const ExtentSource* mapped, uint64_t size,
                             const WofInfo& info)
    : stream_(std::move(stream)),
      mapped_(mapped),
      // Without a chunk size there is nothing to read.
      size_(info.chunk_bytes == 0 ? 0 : size),
      info_(info),
      chunks_(size_ == 0 ? 0 : size_ / info.chunk_bytes + (size_ % info.chunk_bytes != 0)),
      entry_bytes_(size >= kWideTableSize ? 8 : 4),
      // chunks_ is below 2^64 / 4096, so the product cannot wrap.
      table_bytes_(chunks_ == 0 ? 0 : (chunks_ - 1) * entry_bytes_),
      end_(size_),
      decoder_(info.algorithm, info.chunk_bytes) {}

// The chunk's place in the stream: after the table, from its entry (the
// first from 0) to the next entry or the end of the stream.
bool WofDataSource::chunk_bounds(uint64_t index, uint64_t& start, uint64_t& stop) const {
  std::array<uint8_t, 16> entries{};
  const uint64_t first = index == 0 ? 0 : (index - 1) * entry_bytes_;
  const uint64_t wanted = (index == 0 ? 1 : 2) * entry_bytes_ - (index + 1 == chunks_ ? entry_bytes_ : 0);
  if (wanted != 0 && !read_exact(*stream_, first, std::span(entries).first(wanted))) return false;
  const ByteReader r(entries.data(), wanted);
  auto entry = [&](uint64_t at) { return entry_bytes_ == 8 ? r.u64(at) : uint64_t{r.u32(at)}; };
  start = index == 0 ? 0 : entry(0);
  const uint64_t next_at = index == 0 ? 0 : entry_bytes_;
  stop = index + 1 == chunks_ ? stream_->size() - std::min(stream_->size(), table_bytes_) : entry(next_at);
  if (start > stop || stop > stream_->size() - std::min(stream_->size(), table_bytes_)) return false;
  start += table_bytes_;
  stop += table_bytes_;
  return true;
}

bool WofDataSource::load_chunk(uint64_t index) {
  cached_ = index;
  const uint64_t out_bytes = std::min<uint64_t>(info_.chunk_bytes, size_ - index * info_.chunk_bytes);
  chunk_.assign(out_bytes, 0);
  uint64_t start = 0, stop = 0;
  if (!chunk_bounds(index, start, stop) || stop - start > out_bytes) return false;
  input_.resize(stop - start);
  if (!read_exact(*stream_, start, input_)) return false;
  if (input_.size() == out_bytes) {
    std::copy(input_.begin(), input_.end(), chunk_.begin());
    return true;
  }
  return decoder_.decode(input_, chunk_);
}

bool WofDataSource::map(uint64_t offset, uint64_t& in_volume) const {
  uint64_t start = 0, stop = 0;
  return mapped_ != nullptr && offset < size_ && chunk_bounds(offset / info_.chunk_bytes, start, stop) &&
         mapped_->map(start, in_volume);
}

int64_t WofDataSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  uint64_t done = 0;
  // Each pass copies at least one byte or ends the loop.
  while (done < buffer.size()) {
    const uint64_t at = offset + done;
    if (at >= end_) break;
    const uint64_t index = at / info_.chunk_bytes;
    if (index != cached_ && !load_chunk(index)) {
      end_ = index * info_.chunk_bytes;
      break;
    }
    const uint64_t within = at - index * info_.chunk_bytes;
    const uint64_t piece = std::min<uint64_t>(buffer.size() - done, chunk_.size() - within);
    std::copy_n(chunk_.begin() + static_cast<std::ptrdiff_t>(within), piece,
                buffer.begin() + static_cast<std::ptrdiff_t>(done));
    done += piece;
  }
  return static_cast<int64_t>(done);
}

}  // namespace lnk

#include "storage/vhdx_log.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace lnk {
namespace {

constexpr uint64_t kSector = 4096;
constexpr uint64_t kEntryHeader = 64;
constexpr uint64_t kDescriptor = 32;

uint32_t crc32c(std::span<const uint8_t> bytes, uint64_t skip_at) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0x82F63B78 ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFF;
  for (uint64_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = i >= skip_at && i < skip_at + 4 ? 0 : bytes[i];
    crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

// The file with stretches written over it; past its end it reads as zeros
// up to the size the log says it has.
class PatchedSource : public ByteSource {
 public:
  PatchedSource(std::shared_ptr<ByteSource> base, uint64_t size) : base_(std::move(base)), size_(size) {}

  // bytes empty: length zeros.
  void patch(uint64_t start, uint64_t length, std::vector<uint8_t> bytes) {
    const uint64_t end = start + length;
    auto at = patches_.lower_bound(start);
    if (at != patches_.begin() && std::prev(at)->second.end > start) --at;
    while (at != patches_.end() && at->first < end) {
      // Keep what lies outside [start, end) of an older patch.
      Patch old = std::move(at->second);
      const uint64_t old_start = at->first;
      at = patches_.erase(at);
      if (old_start < start) patches_[old_start] = cut(old, old_start, old_start, start);
      if (old.end > end) patches_[end] = cut(old, old_start, end, old.end);
    }
    patches_[start] = Patch{end, std::move(bytes)};
    size_ = std::max(size_, end);
  }

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override {
    if (offset >= size_) return 0;
    const std::span<uint8_t> out = buffer.first(std::min<uint64_t>(buffer.size(), size_ - offset));
    uint64_t got = 0;
    if (!read_available(*base_, offset, out, got)) return -1;
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(), uint8_t{0});
    const uint64_t end = offset + out.size();
    auto at = patches_.upper_bound(offset);
    if (at != patches_.begin()) --at;
    for (; at != patches_.end() && at->first < end; ++at) {
      const uint64_t from = std::max(at->first, offset), to = std::min(at->second.end, end);
      if (from >= to) continue;
      uint8_t* target = out.data() + (from - offset);
      if (at->second.bytes.empty()) {
        std::fill(target, target + (to - from), uint8_t{0});
      } else {
        std::copy_n(at->second.bytes.begin() + static_cast<std::ptrdiff_t>(from - at->first), to - from, target);
      }
    }
    return static_cast<int64_t>(out.size());
  }
  uint64_t size() const override { return size_; }

 private:
  struct Patch {
    uint64_t end = 0;
    std::vector<uint8_t> bytes;
  };
  static Patch cut(const Patch& p, uint64_t p_start, uint64_t from, uint64_t to) {
    Patch part{to, {}};
    if (!p.bytes.empty())
      part.bytes.assign(p.bytes.begin() + static_cast<std::ptrdiff_t>(from - p_start),
                        p.bytes.begin() + static_cast<std::ptrdiff_t>(to - p_start));
    return part;
  }
  std::shared_ptr<ByteSource> base_;
  uint64_t size_;
  std::map<uint64_t, Patch> patches_;
};

struct Entry {
  uint64_t at = 0;  // within the log
  uint64_t length = 0;
  uint64_t tail = 0;
  uint64_t sequence = 0;
  uint64_t file_size = 0;
  std::vector<uint8_t> bytes;
};

class Log {
 public:
  Log(ByteSource& file, uint64_t at, uint64_t bytes, const Guid& guid) : file_(file), at_(at), bytes_(bytes), guid_(guid) {}

  // The bytes of the circular log from position on.
  bool read(uint64_t position, std::span<uint8_t> out) const {
    for (uint64_t done = 0; done < out.size();) {
      const uint64_t from = (position + done) % bytes_;
      const uint64_t piece = std::min<uint64_t>(out.size() - done, bytes_ - from);
      if (!read_exact(file_, at_ + from, out.subspan(done, piece))) return false;
      done += piece;
    }
    return true;
  }

  // A valid entry at position: signature, length, checksum and log GUID.
  bool entry(uint64_t position, Entry& e) const {
    std::array<uint8_t, kEntryHeader> head{};
    if (!read(position, head)) return false;
    const ByteReader h(head);
    e.length = h.u32(8);
    if (!h.matches(0, std::array<uint8_t, 4>{'l', 'o', 'g', 'e'}) || e.length < kSector || e.length % kSector != 0 ||
        e.length > bytes_ || h.guid(32) != guid_)
      return false;
    e.bytes.resize(e.length);
    if (!read(position, e.bytes) || crc32c(e.bytes, 4) != h.u32(4)) return false;
    e.at = position;
    e.tail = h.u32(12);
    e.sequence = h.u64(16);
    e.file_size = h.u64(48);
    return true;
  }

 private:
  ByteSource& file_;
  uint64_t at_, bytes_;
  Guid guid_;
};

// Writes one entry's descriptors over the file.
bool apply(const Entry& e, PatchedSource& file, std::string& why) {
  const ByteReader r(e.bytes);
  const uint64_t count = r.u32(24);
  const uint64_t data_start = (kEntryHeader + count * kDescriptor + kSector - 1) / kSector * kSector;
  if (count > e.length / kDescriptor) return (why = "descriptor count", false);
  uint64_t data = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const ByteReader d = r.sub(kEntryHeader + i * kDescriptor, kDescriptor);
    const bool zero = d.matches(0, std::array<uint8_t, 4>{'z', 'e', 'r', 'o'});
    if (!zero && !d.matches(0, std::array<uint8_t, 4>{'d', 'e', 's', 'c'})) return (why = "descriptor signature", false);
    const uint64_t offset = d.u64(16);
    if (d.u64(24) != e.sequence || offset % kSector != 0) return (why = "descriptor of another entry", false);
    if (zero) {
      const uint64_t length = d.u64(8);
      if (length % kSector != 0 || offset + length < offset) return (why = "zero descriptor length", false);
      file.patch(offset, length, {});
      continue;
    }
    const ByteReader sector = r.sub(data_start + data * kSector, kSector);
    ++data;
    if (sector.size() < kSector || !sector.matches(0, std::array<uint8_t, 4>{'d', 'a', 't', 'a'}) ||
        sector.u32(4) != e.sequence >> 32 || sector.u32(4092) != (e.sequence & 0xFFFFFFFF))
      return (why = "data sector", false);
    std::vector<uint8_t> bytes(kSector);
    std::copy_n(d.span().begin() + 8, 8, bytes.begin());  // leading bytes
    std::copy_n(sector.span().begin() + 8, kSector - 12, bytes.begin() + 8);
    std::copy_n(d.span().begin() + 4, 4, bytes.begin() + kSector - 4);  // trailing bytes
    file.patch(offset, kSector, std::move(bytes));
  }
  return true;
}

}  // namespace

uint32_t vhdx_checksum(std::span<const uint8_t> bytes, uint64_t checksum_at) { return crc32c(bytes, checksum_at); }

bool vhdx_checksum_ok(std::span<const uint8_t> bytes, uint64_t checksum_at) {
  const ByteReader r(bytes);
  return r.has(checksum_at, 4) && crc32c(bytes, checksum_at) == r.u32(checksum_at);
}

std::shared_ptr<ByteSource> replay_vhdx_log(std::shared_ptr<ByteSource> file, const Guid& log_guid, uint64_t log_at,
                                            uint64_t log_bytes, std::string& why) {
  if (log_bytes == 0 || log_bytes % kSector != 0 || !fits(log_at, log_bytes, file->size())) {
    why = "log past the end of the file";
    return nullptr;
  }
  const Log log(*file, log_at, log_bytes, log_guid);
  // The head of the active sequence: the valid entry numbered highest.
  Entry head, e;
  bool found = false;
  for (uint64_t position = 0; position < log_bytes; position += kSector) {
    if (log.entry(position, e) && (!found || e.sequence > head.sequence)) {
      head = std::move(e);
      found = true;
    }
  }
  if (!found) {
    why = "no valid log entry";
    return nullptr;
  }
  // From the head's tail on, entry after entry, numbered one after another.
  std::vector<Entry> sequence;
  uint64_t position = head.tail;
  for (uint64_t steps = 0; steps <= log_bytes / kSector; ++steps) {
    Entry next;
    if (position % kSector != 0 || position >= log_bytes || !log.entry(position, next) ||
        (!sequence.empty() && next.sequence != sequence.back().sequence + 1)) {
      why = "the active sequence is broken";
      return nullptr;
    }
    position = (position + next.length) % log_bytes;
    const bool last = next.sequence == head.sequence;
    sequence.push_back(std::move(next));
    if (last) break;
  }
  if (sequence.empty() || sequence.back().sequence != head.sequence) {
    why = "the active sequence does not reach its head";
    return nullptr;
  }
  auto patched = std::make_shared<PatchedSource>(file, std::max(file->size(), head.file_size));
  for (const Entry& entry : sequence)
    if (!apply(entry, *patched, why)) return nullptr;
  return patched;
}

}  // namespace lnk

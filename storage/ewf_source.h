// The media data of an EnCase evidence file set (.E01, .E02, ...) through
// libewf, which a build may lack.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/byte_source.h"
#include "storage/read_ahead.h"

namespace lnk {

enum class EwfOpenError {
  none,
  no_library,  // built without libewf
  not_ewf,     // no EWF signature
  segments,    // the segment files could not be found from the first
  incomplete,  // a segment file is missing or cut short
  unreadable,  // libewf refused the set; detail holds its reason
};

struct EwfOpenStatus {
  EwfOpenError error = EwfOpenError::none;
  std::string detail;
  bool ok() const { return error == EwfOpenError::none; }
};

// True when the bytes start with an EWF segment signature (EVF or EVF2).
bool has_ewf_signature(std::span<const uint8_t> head);
// True in builds that read EWF files.
bool ewf_support_available();

class EwfSource : public ByteSource {
 public:
  EwfSource();
  ~EwfSource() override;
  EwfSource(const EwfSource&) = delete;
  EwfSource& operator=(const EwfSource&) = delete;

  // path is the first segment; the others are found beside it.
  EwfOpenStatus open(const std::string& path);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  uint32_t sector_size() const override { return sector_size_; }
  // Chunks past the last one the segment files store are not stored: the
  // media size is only what the header claims.
  HoldingRun holding_at(uint64_t offset) override;
  // With worker threads: the chunks of announced reads are decoded ahead.
  bool reads_ahead() override;
  void will_read(uint64_t offset, uint64_t length) override;
  int segment_count() const { return segment_count_; }
  uint64_t stored_size() const { return stored_size_; }

 private:
  struct Handle;
  void close();
  int64_t read_direct(uint64_t offset, std::span<uint8_t> buffer);
  int64_t read_chunks_ahead(uint64_t offset, std::span<uint8_t> buffer, ReadAhead& ahead);
  // False when the chunk is neither queued now nor known already.
  bool queue_chunk(uint64_t chunk, ReadAhead& ahead);
  void queue_chunks(uint64_t first, uint64_t last, ReadAhead& ahead);
  ReadAhead* read_ahead();

  std::unique_ptr<Handle> handle_;
  uint64_t size_ = 0;
  uint64_t stored_size_ = 0;
  uint32_t sector_size_ = 512;
  uint32_t chunk_size_ = 0;
  int segment_count_ = 0;
  // The chunk a reader moving on would ask for next, and the first chunk
  // not queued yet.
  uint64_t next_chunk_ = UINT64_MAX;
  uint64_t queued_until_ = 0;
  bool read_ahead_tried_ = false;
  // Last: its workers stop before the handles they use close.
  std::unique_ptr<ReadAhead> read_ahead_;
};

}  // namespace lnk

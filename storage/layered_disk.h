// The disks rook reads itself over a chain of files (QCOW, VHD, VHDX): each
// file says where a virtual offset's bytes are (its own, zeros, or its
// parent's), and the disk reads each stretch from the newest file holding
// it, compressed blocks decoded ahead on worker threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/container_problem.h"
#include "storage/disk_chain.h"
#include "storage/read_ahead.h"

namespace lnk {

enum class BlockState : uint8_t { parent, zeros, data, compressed, unstored };

// What one file says about a virtual offset, up to end (exclusive).
struct BlockMap {
  BlockState state = BlockState::parent;
  uint64_t end = 0;
  uint64_t file_offset = 0;   // data: of the byte asked for; compressed: of the packed block
  uint64_t packed_bytes = 0;  // compressed
  uint64_t block_start = 0;   // compressed: the block's virtual offset and size
  uint64_t block_bytes = 0;
  // data, compressed: every stored byte is an earlier block's too.
  bool repeat = false;
  // Repeats: where the run of repeated blocks ends, past end when the
  // repeats lie apart in the file (0: at end).
  uint64_t repeat_end = 0;
};

class MappedLayer : public ChainLayer {
 public:
  explicit MappedLayer(std::shared_ptr<ByteSource> file) : file_(std::move(file)) {}
  virtual uint64_t disk_size() const = 0;
  virtual uint32_t sector_size() const { return 512; }
  // For offset < disk_size(); end lies past offset. Bounded work whatever
  // the tables claim.
  virtual BlockMap map(uint64_t offset) = 0;
  // Decodes a compressed block; called on worker threads too.
  virtual bool unpack(std::span<const uint8_t> packed, std::span<uint8_t> block) const {
    (void)packed;
    (void)block;
    return false;
  }
  virtual bool compressed() const { return false; }
  const std::shared_ptr<ByteSource>& file() const { return file_; }

 protected:
  std::shared_ptr<ByteSource> file_;
};

class LayeredDisk : public ByteSource {
 public:
  LayeredDisk() = default;
  ~LayeredDisk() override;
  LayeredDisk(const LayeredDisk&) = delete;
  LayeredDisk& operator=(const LayeredDisk&) = delete;

  // One file of the chain, opened read-only, as a layer; null with problem set.
  using LayerOpener = std::function<std::unique_ptr<MappedLayer>(std::shared_ptr<ByteSource> file,
                                                                 const std::string& path, ContainerProblem& problem)>;
  // path is the newest disk.
  ContainerProblem open(const std::string& path, const LayerOpener& open_layer);
  // One file read alone, as if it had no parent (fuzzing, tests).
  void open_alone(std::unique_ptr<MappedLayer> layer);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return layers_.empty() ? 0 : layers_.front()->disk_size(); }
  uint32_t sector_size() const override { return layers_.empty() ? 512 : layers_.front()->sector_size(); }
  HoldingRun holding_at(uint64_t offset) override;
  bool reads_ahead() override;
  void will_read(uint64_t offset, uint64_t length) override;
  // Every file read, the newest disk first.
  const std::vector<std::string>& files() const { return chain_.files; }

 private:
  struct Found {
    MappedLayer* layer = nullptr;  // null: zeros
    BlockMap map;
    uint64_t holding_end = 0;  // what holding_at says lasts up to here
  };
  Found find(uint64_t offset);
  bool read_packed(MappedLayer& layer, const BlockMap& map, uint64_t offset, std::span<uint8_t> out);
  bool queue_block(MappedLayer& layer, const BlockMap& map);
  void queue_onward(uint64_t from);
  void close();

  DiskChain chain_;
  std::vector<MappedLayer*> layers_;  // newest first
  // The last run holding_at found, from its start.
  uint64_t run_start_ = 0;
  HoldingRun run_{Holding::data, 0};
  // The last block decoded on this thread.
  const void* cached_layer_ = nullptr;
  uint64_t cached_start_ = UINT64_MAX;
  std::vector<uint8_t> cached_;
  std::vector<uint8_t> packed_;
  uint64_t next_block_ = UINT64_MAX;
  uint64_t queued_until_ = 0;
  // Last: its workers stop before the layers they read go.
  std::unique_ptr<ReadAhead> ahead_;
};

}  // namespace lnk

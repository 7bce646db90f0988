#include "storage/layered_disk.h"

#include <algorithm>

#include "storage/file_source.h"

namespace lnk {

LayeredDisk::~LayeredDisk() { close(); }

void LayeredDisk::close() {
  ahead_.reset();
  layers_.clear();
  close_disk_chain(chain_);
  run_ = {Holding::data, 0};
  cached_start_ = UINT64_MAX;
  next_block_ = UINT64_MAX;
  queued_until_ = 0;
}

ContainerProblem LayeredDisk::open(const std::string& path, const LayerOpener& open_layer) {
  close();
  const auto open = [&open_layer](const std::string& file, ContainerProblem& why) -> std::unique_ptr<ChainLayer> {
    std::shared_ptr<ByteSource> bytes = FileSource::open(file);
    if (!bytes) {
      why = {.kind = ContainerProblemKind::unreadable, .file = file};
      return nullptr;
    }
    return open_layer(std::move(bytes), file, why);
  };
  const ContainerProblem problem = open_disk_chain(path, open, chain_);
  // The opener makes nothing but mapped layers.
  for (const auto& layer : chain_.layers) layers_.push_back(static_cast<MappedLayer*>(layer.get()));
  return problem;
}

void LayeredDisk::open_alone(std::unique_ptr<MappedLayer> layer) {
  close();
  layers_.push_back(layer.get());
  chain_.layers.push_back(std::move(layer));
  chain_.files.emplace_back();
}

LayeredDisk::Found LayeredDisk::find(uint64_t offset) {
  Found found;
  uint64_t end = size(), holding_end = size();
  for (MappedLayer* layer : layers_) {
    // A parent smaller than its child: the rest reads as zeros.
    if (offset >= layer->disk_size()) break;
    BlockMap map = layer->map(offset);
    end = std::min(end, std::max(map.end, offset + 1));
    const bool repeats = map.repeat && map.repeat_end > map.end;
    holding_end = std::min(holding_end, std::max(repeats ? map.repeat_end : map.end, offset + 1));
    if (map.state != BlockState::parent) {
      found.layer = layer;
      found.map = map;
      break;
    }
  }
  if (found.layer == nullptr) found.map.state = BlockState::zeros;
  found.map.end = end;
  found.holding_end = found.map.repeat ? holding_end : end;
  return found;
}

HoldingRun LayeredDisk::holding_at(uint64_t offset) {
  if (offset >= size()) return {Holding::data, offset};
  if (offset >= run_start_ && offset < run_.end) return run_;
  const Found found = find(offset);
  HoldingRun run{Holding::data, found.holding_end};
  if (found.map.state == BlockState::zeros) run.holding = Holding::zeros;
  if (found.map.state == BlockState::unstored) run.holding = Holding::not_stored;
  if (found.map.state == BlockState::data || found.map.state == BlockState::compressed)
    run.holding = found.map.repeat ? Holding::repeated : Holding::data;
  run_start_ = offset;
  run_ = run;
  return run;
}

int64_t LayeredDisk::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (layers_.empty()) return -1;
  const uint64_t disk = size();
  if (offset >= disk || buffer.empty()) return 0;
  const uint64_t wanted = std::min<uint64_t>(buffer.size(), disk - offset);
  // Each pass moves on: every map ends past its offset.
  for (uint64_t done = 0; done < wanted;) {
    const uint64_t at = offset + done;
    const Found found = find(at);
    const uint64_t piece = std::min(found.map.end - at, wanted - done);
    const std::span<uint8_t> target = buffer.subspan(done, piece);
    switch (found.map.state) {
      case BlockState::parent:
      case BlockState::zeros:
        std::fill(target.begin(), target.end(), uint8_t{0});
        break;
      case BlockState::unstored:
        return -1;
      case BlockState::data: {
        uint64_t got = 0;
        if (!read_available(*found.layer->file(), found.map.file_offset, target, got)) return -1;
        // A block cut by the end of its file reads as zeros after it.
        std::fill(target.begin() + static_cast<std::ptrdiff_t>(got), target.end(), uint8_t{0});
        break;
      }
      case BlockState::compressed:
        if (!read_packed(*found.layer, found.map, at, target)) return -1;
        break;
    }
    done += piece;
  }
  return static_cast<int64_t>(wanted);
}

namespace {

bool unpack_block(const MappedLayer& layer, ByteSource& file, const BlockMap& map, std::vector<uint8_t>& packed,
                  std::vector<uint8_t>& out) {
  out.resize(map.block_bytes);
  // Grown only: clearing the tail of every longer block cost as much as
  // the search of the bytes decoded.
  if (packed.size() < map.packed_bytes) packed.resize(map.packed_bytes);
  uint64_t got = 0;
  // The packed bytes of the last block may run past the end of the file.
  if (!read_available(file, map.file_offset, std::span<uint8_t>(packed).first(map.packed_bytes), got) || got == 0)
    return false;
  return layer.unpack(std::span<const uint8_t>(packed).first(got), out);
}

}  // namespace

bool LayeredDisk::queue_block(MappedLayer& layer, const BlockMap& map) {
  const ReadAhead::Key key{&layer, map.block_start};
  std::shared_ptr<ByteSource> file = layer.file();
  const MappedLayer* owner = &layer;
  const bool queued = ahead_->queue(key, map.block_bytes, [owner, file, map](unsigned, std::vector<uint8_t>& out) {
    thread_local std::vector<uint8_t> packed;
    return unpack_block(*owner, *file, map, packed, out);
  });
  return queued || ahead_->knows(key);
}

void LayeredDisk::queue_onward(uint64_t from) {
  const uint64_t last = std::min(size(), from + kReadAheadWindow);
  for (uint64_t at = std::max(from, queued_until_); at < last;) {
    const Found found = find(at);
    if (found.map.state == BlockState::compressed && !queue_block(*found.layer, found.map)) return;
    at = found.map.end;
    queued_until_ = at;
  }
}

bool LayeredDisk::read_packed(MappedLayer& layer, const BlockMap& map, uint64_t offset, std::span<uint8_t> out) {
  const uint64_t within = offset - map.block_start;
  if (within + out.size() > map.block_bytes) return false;
  const auto copy_from = [&](const std::vector<uint8_t>& block) {
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(within), out.size(), out.begin());
    return true;
  };
  if (cached_layer_ == &layer && cached_start_ == map.block_start) return copy_from(cached_);
  if (reads_ahead()) {
    // A reader moving on block by block has the blocks ahead decoded; one
    // that jumps (a file system walk) gets what it announced, and nothing
    // it would not read.
    const uint64_t after = map.block_start + map.block_bytes;
    if (after != next_block_) {
      if (map.block_start == next_block_) queue_onward(map.block_start);
      else queued_until_ = map.block_start;
      next_block_ = after;
    }
    // A block a worker could not decode is decoded again below, so it fails
    // (or not) as it does without workers.
    if (const ReadAhead::Bytes block = ahead_->take({&layer, map.block_start}); block && block->size() == map.block_bytes)
      return copy_from(*block);
  }
  cached_layer_ = nullptr;
  if (!unpack_block(layer, *layer.file(), map, packed_, cached_)) return false;
  cached_layer_ = &layer;
  cached_start_ = map.block_start;
  return copy_from(cached_);
}

bool LayeredDisk::reads_ahead() {
  if (!std::any_of(layers_.begin(), layers_.end(), [](const MappedLayer* layer) { return layer->compressed(); }))
    return false;
  if (!ahead_ && read_ahead_workers() > 0) ahead_ = std::make_unique<ReadAhead>(read_ahead_workers(), kReadAheadMemory);
  return ahead_ != nullptr;
}

void LayeredDisk::will_read(uint64_t offset, uint64_t length) {
  if (!reads_ahead()) return;
  const uint64_t end = std::min(size(), offset + std::min(length, UINT64_MAX - offset));
  for (uint64_t at = offset; at < end;) {
    const Found found = find(at);
    if (found.map.state == BlockState::compressed && !queue_block(*found.layer, found.map)) return;
    at = found.map.end;
  }
}

}  // namespace lnk

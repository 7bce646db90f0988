// Blocks of a container (compressed grains, EWF chunks) decoded on worker
// threads ahead of the scan that will ask for them. The scan's thread stays
// the only one that reads bytes out of a source, in its own order; workers
// only fill a bounded cache, so what a scan finds does not depend on how
// many of them there are.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace lnk {

// Threads that decode a container's blocks, the scan's own included; 1
// decodes on the scan's thread alone, as a build without threads would.
// 0 means one per core. Set before a source opens.
void set_decode_threads(unsigned count);
unsigned decode_threads();

// Decoded bytes kept ahead of a scan at most, whatever the container, and
// how far ahead of a reader that moves on block by block blocks are queued.
constexpr uint64_t kReadAheadMemory = 6u << 20;
constexpr uint64_t kReadAheadWindow = 2u << 20;

// Workers a source may start: the decode threads but the scan's own.
unsigned read_ahead_workers();

class ReadAhead {
 public:
  using Key = std::pair<const void*, uint64_t>;  // owner (an extent, a source), block number
  using Bytes = std::shared_ptr<const std::vector<uint8_t>>;
  // Decodes one block into bytes, resizing it to the block (it may hold an
  // earlier block's bytes); false when it cannot. thread is 0 to
  // workers() - 1 on a worker and workers() on the scan's thread, so a job
  // can keep state per thread.
  using Job = std::function<bool(unsigned thread, std::vector<uint8_t>& bytes)>;

  // memory bounds the decoded bytes held at once (running jobs aside).
  ReadAhead(unsigned workers, uint64_t memory);
  // Drops what is queued and waits for the jobs running.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  unsigned workers() const { return worker_count_; }
  // Queued, being decoded or decoded.
  bool knows(const Key& key) const;
  // Queues a block expected to decode to about bytes; false when it is
  // known already or there is no room.
  bool queue(const Key& key, uint64_t bytes, Job job);
  // The block's bytes: decoded, waited for, or (still queued) decoded on
  // the calling thread. Null when the block is unknown or did not decode.
  Bytes take(const Key& key);

 private:
  enum class State { queued, running, done };
  using Buffer = std::shared_ptr<std::vector<uint8_t>>;
  struct Entry {
    State state = State::queued;
    Job job;
    Buffer bytes;
    uint64_t reserved = 0;
    bool taken = false;
    std::list<Key>::iterator age;  // done entries only, in the list taken says
  };

  void work(unsigned thread);
  void run(std::unique_lock<std::mutex>& lock, const Key& key, Entry& entry, unsigned thread);
  bool make_room(uint64_t bytes);
  void drop_oldest(std::list<Key>& list);

  const unsigned worker_count_;
  const uint64_t memory_;
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable block_done_;
  std::map<Key, Entry> entries_;
  std::deque<Key> queued_;
  // Decoded blocks, oldest first: those a reader took (dropped first when
  // room is needed) and those still waiting for one.
  std::list<Key> taken_;
  std::list<Key> waiting_;
  // Buffers of dropped blocks, handed to the next jobs: a fresh buffer per
  // block would have the system clear new pages for every block.
  std::vector<Buffer> spare_;
  uint64_t held_bytes_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace lnk

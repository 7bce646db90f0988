#include "storage/read_ahead.h"

#include <algorithm>
#include <atomic>

#include "storage/brief_lock.h"

namespace lnk {
namespace {

std::atomic<unsigned> decode_thread_setting{0};

}  // namespace

void set_decode_threads(unsigned count) { decode_thread_setting = count; }

unsigned decode_threads() {
  const unsigned count = decode_thread_setting;
  if (count != 0) return count;
  return std::max(1u, std::thread::hardware_concurrency());
}

unsigned read_ahead_workers() { return decode_threads() - 1; }

ReadAhead::ReadAhead(unsigned workers, uint64_t memory) : worker_count_(workers), memory_(memory) {}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queued_.clear();
  }
  work_ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool ReadAhead::knows(const Key& key) const {
  BriefLock lock(mutex_);
  return entries_.count(key) != 0;
}

constexpr size_t kSpareBuffers = 64;

void ReadAhead::drop_oldest(std::list<Key>& list) {
  const auto found = entries_.find(list.front());
  list.pop_front();
  Buffer& bytes = found->second.bytes;
  if (bytes) {
    held_bytes_ -= bytes->size();
    // A reader still holding the block keeps it; the others are reused.
    if (bytes.use_count() == 1 && spare_.size() < kSpareBuffers) spare_.push_back(std::move(bytes));
  }
  entries_.erase(found);
}

// Blocks a reader took go first, longest unused first; then blocks no
// reader came for (it went elsewhere), oldest first: one of those asked for
// later is decoded again.
bool ReadAhead::make_room(uint64_t bytes) {
  while (held_bytes_ + bytes > memory_ && !taken_.empty()) drop_oldest(taken_);
  while (held_bytes_ + bytes > memory_ && !waiting_.empty()) drop_oldest(waiting_);
  return held_bytes_ + bytes <= memory_;
}

bool ReadAhead::queue(const Key& key, uint64_t bytes, Job job) {
  {
    BriefLock lock(mutex_);
    if (worker_count_ == 0 || stopping_ || entries_.count(key) != 0 || !make_room(bytes)) return false;
    Entry& entry = entries_[key];
    entry.job = std::move(job);
    entry.reserved = bytes;
    held_bytes_ += bytes;
    queued_.push_back(key);
    // Workers start with the first block a source queues; a source that is
    // never read ahead costs no thread.
    while (threads_.size() < worker_count_) {
      const auto thread = static_cast<unsigned>(threads_.size());
      threads_.emplace_back([this, thread] { work(thread); });
    }
  }
  work_ready_.notify_one();
  return true;
}

void ReadAhead::run(std::unique_lock<std::mutex>& lock, const Key& key, Entry& entry, unsigned thread) {
  entry.state = State::running;
  Job job = std::move(entry.job);
  Buffer bytes;
  if (!spare_.empty()) {
    bytes = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  if (!bytes) bytes = std::make_shared<std::vector<uint8_t>>();
  bool decoded = false;
  try {
    decoded = job(thread, *bytes);
  } catch (...) {
    decoded = false;
  }
  job = nullptr;
  lock_briefly(lock);
  // Nothing erases a running entry, so entry is still the one in the map.
  held_bytes_ -= entry.reserved;
  entry.reserved = 0;
  if (decoded) {
    held_bytes_ += bytes->size();
    entry.bytes = std::move(bytes);
  } else if (spare_.size() < kSpareBuffers) {
    spare_.push_back(std::move(bytes));
  }
  entry.state = State::done;
  entry.age = waiting_.insert(waiting_.end(), key);
  block_done_.notify_all();
}

void ReadAhead::work(unsigned thread) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    const Key key = queued_.front();
    queued_.pop_front();
    run(lock, key, entries_.at(key), thread);
  }
}

ReadAhead::Bytes ReadAhead::take(const Key& key) {
  std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
  lock_briefly(lock);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return nullptr;
  Entry& entry = found->second;
  if (entry.state == State::queued) {
    queued_.erase(std::find(queued_.begin(), queued_.end(), key));
    run(lock, key, entry, worker_count_);
  }
  // While a worker decodes the block, the reader decodes the next one
  // queued rather than wait idle.
  while (entry.state != State::done) {
    if (queued_.empty()) {
      block_done_.wait(lock, [&entry, this] { return entry.state == State::done || !queued_.empty(); });
      continue;
    }
    const Key next = queued_.front();
    queued_.pop_front();
    run(lock, next, entries_.at(next), worker_count_);
  }
  // Kept as the newest: a scan often reads the rest of a block next.
  taken_.splice(taken_.end(), entry.taken ? taken_ : waiting_, entry.age);
  entry.taken = true;
  return entry.bytes;  // as Bytes: read-only to the reader
}

}  // namespace lnk

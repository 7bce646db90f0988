// Locks that are held for microseconds (a block's bookkeeping, one chunk
// copied out of a library) are waited for by spinning a while before
// sleeping: in a virtual machine a sleep and its wake-up cost more than
// the wait, and two threads taking turns thousands of times a second made
// most of their system time out of them.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>

namespace lnk {

inline void spin_pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Spins for at most kBriefLockSpin (by the clock: a pause lasts from a few
// cycles to over a hundred, by processor), then waits as the lock does. A
// single processor has no other thread to release the lock while this one
// spins.
constexpr std::chrono::microseconds kBriefLockSpin{50};

template <typename Lockable>
void lock_briefly(Lockable& lockable) {
  static const bool can_spin = std::thread::hardware_concurrency() > 1;
  if (lockable.try_lock()) return;
  if (can_spin) {
    const auto until = std::chrono::steady_clock::now() + kBriefLockSpin;
    do {
      for (int i = 0; i < 16; ++i) spin_pause();
      if (lockable.try_lock()) return;
    } while (std::chrono::steady_clock::now() < until);
  }
  lockable.lock();
}

// lock_guard that waits as lock_briefly does.
class BriefLock {
 public:
  explicit BriefLock(std::mutex& mutex) : mutex_(mutex) { lock_briefly(mutex_); }
  ~BriefLock() { mutex_.unlock(); }
  BriefLock(const BriefLock&) = delete;
  BriefLock& operator=(const BriefLock&) = delete;

 private:
  std::mutex& mutex_;
};

}  // namespace lnk

#include "platform/temporaries.h"

#include <array>
#include <atomic>
#include <cstring>

#include "platform/platform.h"

namespace lnk::platform {
namespace {

using Char = std::filesystem::path::value_type;

// Slots in blocks that are never freed, so a handler that walks them while
// the run adds a block reads only memory that stays valid.
constexpr size_t kBlockSlots = 256;
struct Block {
  std::array<std::atomic<Char*>, kBlockSlots> slots{};
  std::atomic<Block*> next{nullptr};
};

Block& first_block() {
  static Block block;
  return block;
}

// The slot for a ticket (1-based), appending blocks as needed.
std::atomic<Char*>* slot_for(size_t ticket, bool grow) {
  Block* block = &first_block();
  size_t index = ticket - 1;
  while (index >= kBlockSlots) {
    Block* next = block->next.load();
    if (next == nullptr) {
      if (!grow) return nullptr;
      next = new Block;
      block->next.store(next);
    }
    block = next;
    index -= kBlockSlots;
  }
  return &block->slots[index];
}

// Tickets are reused lowest first, so the blocks stay as many as the files
// pending at once.
size_t g_lowest_free = 1;

}  // namespace

TemporaryTicket track_temporary(const std::string& path) {
  install_temporary_cleanup();
  const std::filesystem::path::string_type native = native_path(path).native();
  Char* copy = new Char[native.size() + 1];
  std::memcpy(copy, native.c_str(), (native.size() + 1) * sizeof(Char));
  for (size_t ticket = g_lowest_free;; ++ticket) {
    std::atomic<Char*>* slot = slot_for(ticket, true);
    if (slot->load() != nullptr) continue;
    slot->store(copy);
    g_lowest_free = ticket + 1;
    return ticket;
  }
}

void untrack_temporary(TemporaryTicket ticket) {
  if (ticket == 0) return;
  std::atomic<Char*>* slot = slot_for(ticket, false);
  if (slot == nullptr) return;
  delete[] slot->exchange(nullptr);
  if (ticket < g_lowest_free) g_lowest_free = ticket;
}

void remove_tracked_temporaries() {
  for (Block* block = &first_block(); block != nullptr; block = block->next.load())
    for (std::atomic<Char*>& slot : block->slots)
      if (const Char* path = slot.exchange(nullptr)) remove_temporary_now(path);
}

}  // namespace lnk::platform

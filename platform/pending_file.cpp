#include "platform/pending_file.h"

#include <cerrno>
#include <utility>

#include "platform/platform.h"
#include "platform/temporaries.h"

namespace lnk::platform {

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    named_ = std::move(other.named_);
    target_ = std::move(other.target_);
    temp_ = std::move(other.temp_);
    in_place_ = other.in_place_;
    ticket_ = other.ticket_;
    other.ticket_ = 0;
    other.named_.clear();
    other.target_.clear();
    other.temp_.clear();
  }
  return *this;
}

bool PendingFile::begin(const std::string& target) {
  discard();
  std::string resolved;
  switch (write_target(target, resolved)) {
    case WriteTarget::refused: return false;
    case WriteTarget::stream:
      in_place_ = true;
      break;
    case WriteTarget::absent:
    case WriteTarget::file:
      in_place_ = false;
      if (!create_file_beside(resolved, temp_)) return false;
      ticket_ = track_temporary(temp_);
      break;
  }
  named_ = target;
  target_ = resolved;
  return true;
}

bool PendingFile::target_was_read(std::string& read_as) const {
  return active() && was_read(target_, read_as);
}

bool PendingFile::commit(bool replace) {
  if (!active()) return false;
  bool moved = true;
  if (!in_place_) {
    moved = replace ? replace_file(temp_, target_) : move_to_new_file(temp_, target_);
    // errno keeps the move's reason, for the message.
    const int reason = errno;
    if (!moved) remove_file(temp_);
    errno = reason;
  }
  forget();
  return moved;
}

void PendingFile::discard() {
  if (active() && !in_place_) remove_file(temp_);
  forget();
}

void PendingFile::forget() {
  untrack_temporary(ticket_);
  ticket_ = 0;
  named_.clear();
  target_.clear();
  temp_.clear();
}

}  // namespace lnk::platform

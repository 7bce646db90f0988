#include "platform/pending_file.h"

#include <utility>

#include "platform/platform.h"

namespace lnk::platform {

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    discard();
    named_ = std::move(other.named_);
    target_ = std::move(other.target_);
    temp_ = std::move(other.temp_);
    in_place_ = other.in_place_;
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
    if (!moved) remove_file(temp_);
  }
  named_.clear();
  target_.clear();
  temp_.clear();
  return moved;
}

void PendingFile::discard() {
  if (active() && !in_place_) remove_file(temp_);
  named_.clear();
  target_.clear();
  temp_.clear();
}

}  // namespace lnk::platform

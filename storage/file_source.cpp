#include "storage/file_source.h"

#include <algorithm>

namespace lnk {

std::unique_ptr<FileSource> FileSource::open(const std::string& path) {
  std::unique_ptr<platform::InputFile> file = platform::open_input(path);
  if (!file) return nullptr;
  return std::unique_ptr<FileSource>(new FileSource(std::move(file)));
}

int64_t FileSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (offset >= size_ || buffer.empty()) return 0;
  const uint64_t count = std::min<uint64_t>(buffer.size(), size_ - offset);
  return file_->read_at(offset, buffer.data(), count);
}

}  // namespace lnk

// An image file or any regular file, opened read-only.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"
#include "storage/byte_source.h"

namespace lnk {

class FileSource : public ByteSource {
 public:
  // Null when the file cannot be opened.
  static std::unique_ptr<FileSource> open(const std::string& path);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }

 private:
  explicit FileSource(std::unique_ptr<platform::InputFile> file) : file_(std::move(file)), size_(file_->size()) {}
  std::unique_ptr<platform::InputFile> file_;
  uint64_t size_;
};

}  // namespace lnk

#include "storage/qcow_source.h"

#include <algorithm>
#include <array>

#ifdef ROOK_HAVE_LIBQCOW
#include <memory>

#include "storage/bfio_bridge.h"
#include "storage/file_source.h"

// Declares the calls that take a libbfio handle.
#define LIBQCOW_HAVE_BFIO 1
#include <libqcow.h>
#endif

namespace lnk {
namespace {

constexpr std::array<uint8_t, 4> kQcowSignature = {'Q', 'F', 'I', 0xFB};

#ifdef ROOK_HAVE_LIBQCOW
std::string error_text(libqcow_error_t* error) {
  std::string text;
  if (error != nullptr) {
    std::array<char, 512> buffer{};
    if (libqcow_error_sprint(error, buffer.data(), buffer.size()) > 0) text = buffer.data();
    libqcow_error_free(&error);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '.')) text.pop_back();
  return text;
}

// One file of the chain: read through the platform layer, handed to
// libqcow as a libbfio handle.
class QcowLayer : public ChainLayer {
 public:
  ~QcowLayer() override {
    if (qcow_ == nullptr) return;
    libqcow_file_close(qcow_, nullptr);
    libqcow_file_free(&qcow_, nullptr);
  }

  static std::unique_ptr<QcowLayer> open(const std::string& path, ContainerProblem& problem) {
    auto layer = std::unique_ptr<QcowLayer>(new QcowLayer());
    layer->file_ = FileSource::open(path);
    if (!layer->file_) {
      problem = {.kind = ContainerProblemKind::unreadable, .file = path};
      return nullptr;
    }
    std::array<uint8_t, kQcowSignature.size()> head{};
    if (!read_exact(*layer->file_, 0, head) || !has_qcow_signature(head)) {
      problem = {.kind = ContainerProblemKind::damaged, .file = path, .detail = "not a QCOW image"};
      return nullptr;
    }
    layer->bfio_ = std::make_unique<BfioHandle>(*layer->file_);
    libqcow_error_t* error = nullptr;
    if (layer->bfio_->get() == nullptr || libqcow_file_initialize(&layer->qcow_, &error) != 1 ||
        libqcow_file_open_file_io_handle(layer->qcow_, layer->bfio_->get(), LIBQCOW_OPEN_READ, &error) != 1) {
      problem = {.kind = ContainerProblemKind::damaged, .file = path, .detail = "libqcow: " + error_text(error)};
      return nullptr;
    }
    uint32_t encryption = LIBQCOW_ENCRYPTION_METHOD_NONE;
    if (libqcow_file_get_encryption_method(layer->qcow_, &encryption, nullptr) != 1 ||
        encryption != LIBQCOW_ENCRYPTION_METHOD_NONE) {
      problem = {.kind = ContainerProblemKind::encrypted, .file = path};
      return nullptr;
    }
    return layer;
  }

  // A backing file name that cannot be read still means a backing file:
  // read alone, the disk would show zeros where the backing file has data.
  bool has_parent() override {
    size_t size = 0;
    return libqcow_file_get_utf8_backing_filename_size(qcow_, &size, nullptr) != 0;
  }

  ParentNames parent_names() override {
    ParentNames names;
    const std::string name = backing_name();
    if (!name.empty()) (is_absolute_path(name) ? names.others : names.relative).push_back(name);
    return names;
  }

  // QCOW keeps no identifier of its backing file: any QCOW image serves.
  bool link_parent(ChainLayer& parent) override {
    auto* qcow = dynamic_cast<QcowLayer*>(&parent);
    return qcow != nullptr && libqcow_file_set_parent_file(qcow_, qcow->qcow_, nullptr) == 1;
  }

  libqcow_file_t* handle() const { return qcow_; }

 private:
  QcowLayer() = default;

  std::string backing_name() {
    size_t size = 0;
    if (libqcow_file_get_utf8_backing_filename_size(qcow_, &size, nullptr) != 1 || size <= 1) return {};
    std::string name(size, '\0');
    if (libqcow_file_get_utf8_backing_filename(qcow_, reinterpret_cast<uint8_t*>(name.data()), size, nullptr) != 1)
      return {};
    return name.substr(0, name.find('\0'));
  }

  // Declared first, freed last: libqcow reads through both until it is freed.
  std::unique_ptr<FileSource> file_;
  std::unique_ptr<BfioHandle> bfio_;
  libqcow_file_t* qcow_ = nullptr;
};
#endif

}  // namespace

bool qcow_support_available() {
#ifdef ROOK_HAVE_LIBQCOW
  return true;
#else
  return false;
#endif
}

bool has_qcow_signature(std::span<const uint8_t> head) {
  return head.size() >= kQcowSignature.size() && std::equal(kQcowSignature.begin(), kQcowSignature.end(), head.begin());
}

ContainerProblem QcowSource::open(const std::string& path) {
  close_disk_chain(chain_);
  size_ = 0;
#ifdef ROOK_HAVE_LIBQCOW
  const ContainerProblem problem = open_disk_chain(
      path,
      [](const std::string& file, ContainerProblem& why) -> std::unique_ptr<ChainLayer> {
        return QcowLayer::open(file, why);
      },
      chain_);
  if (!problem.ok()) return problem;
  size64_t media_size = 0;
  libqcow_error_t* error = nullptr;
  if (libqcow_file_get_media_size(static_cast<QcowLayer&>(*chain_.layers.front()).handle(), &media_size, &error) != 1) {
    close_disk_chain(chain_);
    return {.kind = ContainerProblemKind::damaged, .file = path, .detail = "libqcow: " + error_text(error)};
  }
  size_ = media_size;
  return problem;
#else
  (void)path;
  return {.kind = ContainerProblemKind::no_library};
#endif
}

int64_t QcowSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (chain_.layers.empty()) return -1;
#ifdef ROOK_HAVE_LIBQCOW
  libqcow_file_t* newest = static_cast<QcowLayer&>(*chain_.layers.front()).handle();
  return read_in_passes(offset, buffer, size_, [newest](uint64_t at, std::span<uint8_t> part) -> int64_t {
    return libqcow_file_read_buffer_at_offset(newest, part.data(), part.size(), static_cast<off64_t>(at), nullptr);
  });
#else
  (void)offset;
  (void)buffer;
  return -1;
#endif
}

}  // namespace lnk

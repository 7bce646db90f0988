#include "storage/vhdi_source.h"

#ifdef ROOK_HAVE_LIBVHDI
#include <array>
#include <memory>

#include "storage/bfio_bridge.h"
#include "storage/file_source.h"
#include "storage/vhd_format.h"

// Declares the calls that take a libbfio handle.
#define LIBVHDI_HAVE_BFIO 1
#include <libvhdi.h>
#endif

namespace lnk {
namespace {

#ifdef ROOK_HAVE_LIBVHDI
std::string error_text(libvhdi_error_t* error) {
  std::string text;
  if (error != nullptr) {
    std::array<char, 512> buffer{};
    if (libvhdi_error_sprint(error, buffer.data(), buffer.size()) > 0) text = buffer.data();
    libvhdi_error_free(&error);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '.')) text.pop_back();
  return text;
}

// One file of the chain: read through the platform layer, handed to
// libvhdi as a libbfio handle.
class VhdiLayer : public ChainLayer {
 public:
  ~VhdiLayer() override {
    if (vhdi_ == nullptr) return;
    libvhdi_file_close(vhdi_, nullptr);
    libvhdi_file_free(&vhdi_, nullptr);
  }

  static std::unique_ptr<VhdiLayer> open(const std::string& path, ContainerProblem& problem) {
    auto layer = std::unique_ptr<VhdiLayer>(new VhdiLayer());
    layer->file_ = FileSource::open(path);
    if (!layer->file_) {
      problem = {.kind = ContainerProblemKind::unreadable, .file = path};
      return nullptr;
    }
    layer->bfio_ = std::make_unique<BfioHandle>(*layer->file_);
    libvhdi_error_t* error = nullptr;
    if (layer->bfio_->get() == nullptr || libvhdi_file_initialize(&layer->vhdi_, &error) != 1 ||
        libvhdi_file_open_file_io_handle(layer->vhdi_, layer->bfio_->get(), LIBVHDI_OPEN_READ, &error) != 1) {
      problem = {.kind = ContainerProblemKind::damaged, .file = path, .detail = "libvhdi: " + error_text(error)};
      return nullptr;
    }
    return layer;
  }

  bool has_parent() override {
    uint32_t disk_type = 0;
    return libvhdi_file_get_disk_type(vhdi_, &disk_type, nullptr) == 1 && disk_type == LIBVHDI_DISK_TYPE_DIFFERENTIAL;
  }

  ParentNames parent_names() override {
    ParentNames names = read_vhd_parent_names(*file_);
    // libvhdi's own reading of the same fields, should ours find none.
    size_t size = 0;
    if (names.empty() && libvhdi_file_get_utf8_parent_filename_size(vhdi_, &size, nullptr) == 1 && size > 1) {
      std::string name(size, '\0');
      if (libvhdi_file_get_utf8_parent_filename(vhdi_, reinterpret_cast<uint8_t*>(name.data()), size, nullptr) == 1)
        names.others.push_back(name.substr(0, name.find('\0')));
    }
    return names;
  }

  bool link_parent(ChainLayer& parent) override {
    auto* vhd = dynamic_cast<VhdiLayer*>(&parent);
    return vhd != nullptr && libvhdi_file_set_parent_file(vhdi_, vhd->vhdi_, nullptr) == 1;
  }

  libvhdi_file_t* handle() const { return vhdi_; }

 private:
  VhdiLayer() = default;
  // Declared first, freed last: libvhdi reads through both until it is freed.
  std::unique_ptr<FileSource> file_;
  std::unique_ptr<BfioHandle> bfio_;
  libvhdi_file_t* vhdi_ = nullptr;
};
#endif

}  // namespace

bool vhdi_support_available() {
#ifdef ROOK_HAVE_LIBVHDI
  return true;
#else
  return false;
#endif
}

ContainerProblem VhdiSource::open(const std::string& path) {
  close_disk_chain(chain_);
  size_ = 0;
  sector_size_ = 512;
#ifdef ROOK_HAVE_LIBVHDI
  const ContainerProblem problem = open_disk_chain(
      path,
      [](const std::string& file, ContainerProblem& why) -> std::unique_ptr<ChainLayer> {
        return VhdiLayer::open(file, why);
      },
      chain_);
  if (!problem.ok()) return problem;
  libvhdi_file_t* newest = static_cast<VhdiLayer&>(*chain_.layers.front()).handle();
  size64_t media_size = 0;
  uint32_t bytes_per_sector = 0;
  libvhdi_error_t* error = nullptr;
  if (libvhdi_file_get_media_size(newest, &media_size, &error) != 1) {
    close_disk_chain(chain_);
    return {.kind = ContainerProblemKind::damaged, .file = path, .detail = "libvhdi: " + error_text(error)};
  }
  if (libvhdi_file_get_bytes_per_sector(newest, &bytes_per_sector, nullptr) == 1 && bytes_per_sector != 0)
    sector_size_ = bytes_per_sector;
  size_ = media_size;
  return problem;
#else
  (void)path;
  return {.kind = ContainerProblemKind::no_library};
#endif
}

int64_t VhdiSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (chain_.layers.empty()) return -1;
#ifdef ROOK_HAVE_LIBVHDI
  libvhdi_file_t* newest = static_cast<VhdiLayer&>(*chain_.layers.front()).handle();
  return read_in_passes(offset, buffer, size_, [newest](uint64_t at, std::span<uint8_t> part) -> int64_t {
    return libvhdi_file_read_buffer_at_offset(newest, part.data(), part.size(), static_cast<off64_t>(at), nullptr);
  });
#else
  (void)offset;
  (void)buffer;
  return -1;
#endif
}

}  // namespace lnk

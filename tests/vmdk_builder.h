// Small VMware sparse extents built in memory, and an opener that serves
// files from memory, for the VMware reader's tests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/memory_source.h"
#include "storage/vmdk_files.h"
#include "storage/vmdk_sparse.h"

namespace lnk::test {

struct SparseDisk {
  uint64_t capacity_sectors = 256;  // 128 KiB
  uint64_t grain_sectors = 8;       // 4 KiB grains
  uint32_t gtes = 4;                // a table covers 16 KiB
  uint32_t version = 1;
  uint32_t flags = kVmdkFlagNewlineTest;
  std::string descriptor;             // empty: none embedded
  std::map<uint64_t, uint8_t> grains;  // grain number -> fill byte
};

// Where the builder put things, in sectors.
struct SparseLayout {
  uint64_t directory = 0;
  std::vector<uint64_t> tables;
  std::map<uint64_t, uint64_t> grains;
};

inline void put_le(std::vector<uint8_t>& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

inline std::vector<uint8_t> build_sparse(const SparseDisk& s, SparseLayout* layout = nullptr) {
  SparseLayout where;
  const uint64_t tables = (s.capacity_sectors + s.grain_sectors * s.gtes - 1) / (s.grain_sectors * s.gtes);
  const uint64_t descriptor_sectors = (s.descriptor.size() + 511) / 512;
  uint64_t next = 1 + descriptor_sectors;
  where.directory = next;
  next += (tables * 4 + 511) / 512;
  for (uint64_t t = 0; t < tables; ++t) {
    where.tables.push_back(next);
    next += (uint64_t{s.gtes} * 4 + 511) / 512;
  }
  for (const auto& [grain, fill] : s.grains) {
    where.grains[grain] = next;
    next += s.grain_sectors;
  }
  std::vector<uint8_t> b(next * 512, 0);
  const char magic[] = "KDMV";
  std::copy(magic, magic + 4, b.begin());
  put_le(b, 4, s.version, 4);
  put_le(b, 8, s.flags, 4);
  put_le(b, 12, s.capacity_sectors, 8);
  put_le(b, 20, s.grain_sectors, 8);
  put_le(b, 28, s.descriptor.empty() ? 0 : 1, 8);
  put_le(b, 36, descriptor_sectors, 8);
  put_le(b, 44, s.gtes, 4);
  put_le(b, 56, where.directory, 8);
  put_le(b, 64, next, 8);
  const char newlines[] = "\n \r\n";
  std::copy(newlines, newlines + 4, b.begin() + 73);
  std::copy(s.descriptor.begin(), s.descriptor.end(), b.begin() + 512);
  for (uint64_t t = 0; t < tables; ++t) put_le(b, where.directory * 512 + t * 4, where.tables[t], 4);
  for (const auto& [grain, fill] : s.grains) {
    const uint64_t table = grain / s.gtes;
    put_le(b, where.tables[table] * 512 + (grain % s.gtes) * 4, where.grains[grain], 4);
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(where.grains[grain] * 512), s.grain_sectors * 512, fill);
  }
  if (layout != nullptr) *layout = where;
  return b;
}

inline std::string descriptor_text(const std::string& cid, const std::string& parent_cid,
                                   const std::string& extra = "") {
  return "# Disk DescriptorFile\nversion=1\nCID=" + cid + "\nparentCID=" + parent_cid +
         "\ncreateType=\"monolithicSparse\"\n" + extra;
}

// A disk whose embedded descriptor names its content ID and its parent's.
inline SparseDisk described(const std::string& cid, const std::string& parent_cid, const std::string& extra = "") {
  SparseDisk disk;
  disk.descriptor = descriptor_text(cid, parent_cid, extra);
  return disk;
}

// Files held in memory, opened by name.
struct MemoryFiles {
  std::map<std::string, std::vector<uint8_t>> files;
  int opens = 0;

  VmdkOpener opener() {
    return [this](const std::string& path) -> std::unique_ptr<ByteSource> {
      const auto found = files.find(path);
      if (found == files.end()) return nullptr;
      ++opens;
      return std::make_unique<MemorySource>(found->second);
    };
  }
};

}  // namespace lnk::test

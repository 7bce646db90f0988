// Up to three VMware disk files from one input, split at "\n--next--\n":
// sparse headers, descriptors (embedded or not), extent lines naming each
// other, parent hints, grain directories and tables pointing anywhere.
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/partition_listing.h"
#include "storage/memory_source.h"
#include "storage/vmdk_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string separator = "\n--next--\n";
  const char* names[] = {"d/a.vmdk", "d/b.vmdk", "d/c.vmdk"};
  std::vector<std::vector<uint8_t>> files;
  size_t start = 0;
  while (files.size() < 3) {
    const size_t stop = all.find(separator, start);
    const std::string part = all.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    files.emplace_back(part.begin(), part.end());
    if (stop == std::string::npos) break;
    start = stop + separator.size();
  }
  const lnk::VmdkOpener opener = [&](const std::string& path) -> std::unique_ptr<lnk::ByteSource> {
    for (size_t i = 0; i < files.size(); ++i) {
      if (path == names[i]) return std::make_unique<lnk::MemorySource>(files[i]);
    }
    return nullptr;
  };
  const lnk::VmdkSetCheck check = lnk::check_vmdk_set({names[0]}, opener);
  lnk::render_vmdk_problem(check.problem);
  std::vector<std::string> paths(names, names + files.size());
  lnk::VmdkChain chain;
  lnk::VmdkProblem problem;
  if (!chain.open(paths, problem, opener)) {
    lnk::render_vmdk_problem(problem);
    return 0;
  }
  std::vector<uint8_t> buffer(64 << 10);
  const uint64_t disk = chain.size();
  for (uint64_t offset : {uint64_t{0}, uint64_t{65536} - 100, disk / 2, disk - std::min<uint64_t>(disk, 4096)}) {
    for (int step = 0; step < 4 && offset < disk; ++step, offset += buffer.size()) chain.read_at(offset, buffer);
  }
  return 0;
}

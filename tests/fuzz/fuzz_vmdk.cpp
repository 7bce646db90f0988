// Up to three VMware disk files from one input, split at "\n--next--\n":
// sparse headers, descriptors (embedded or not), extent lines naming each
// other, parent hints, grain directories and tables pointing anywhere.
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/partition_listing.h"
#include "storage/vmdk_chain.h"
#include "tests/vmdk_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string separator = "\n--next--\n";
  const std::string names[] = {"d/a.vmdk", "d/b.vmdk", "d/c.vmdk"};
  lnk::test::MemoryFiles files;
  std::vector<std::string> paths;
  for (size_t start = 0, stop = 0; paths.size() < 3 && stop != std::string::npos; start = stop + separator.size()) {
    stop = all.find(separator, start);
    const std::string part = all.substr(start, stop - start);  // the rest when there is no separator
    paths.push_back(names[paths.size()]);
    files.files[paths.back()].assign(part.begin(), part.end());
  }
  const lnk::VmdkSetCheck check = lnk::check_vmdk_set({names[0]}, files.opener());
  lnk::render_vmdk_problem(check.problem);
  lnk::VmdkChain chain;
  lnk::VmdkProblem problem;
  if (!chain.open(paths, problem, files.opener())) {
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

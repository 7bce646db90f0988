#include "cmdline/evidence_guard.h"

#include <cstdio>

#include "platform/platform.h"

namespace lnk {
namespace {

void refuse(const std::string& output, const std::string& input) {
  std::fprintf(stderr, "prob opening file %s for output: it is the input %s, aborting\n", output.c_str(),
               input.c_str());
}

bool spares_inputs(const std::string& output, const std::vector<std::string>& inputs) {
  platform::FileIdentity written;
  if (output.empty() || !platform::file_identity(output, written)) return true;
  if (std::string read_as; platform::was_read(output, read_as)) {
    refuse(output, read_as);
    return false;
  }
  for (const std::string& input : inputs) {
    platform::FileIdentity read;
    if (!platform::file_identity(input, read) || !(read == written)) continue;
    refuse(output, input);
    return false;
  }
  return true;
}

}  // namespace

bool outputs_spare_inputs(const std::vector<std::string>& targets, const std::vector<std::string>& later_inputs) {
  for (const std::string& target : targets)
    if (!spares_inputs(target, later_inputs)) return false;
  return true;
}

bool outputs_spare_reads(const std::vector<const platform::PendingFile*>& outputs, const std::string& dump_dir) {
  std::string read_as;
  for (const platform::PendingFile* output : outputs) {
    if (!output->target_was_read(read_as)) continue;
    refuse(output->target(), read_as);
    return false;
  }
  if (!dump_dir.empty() && platform::was_read(dump_dir, read_as)) {
    refuse(dump_dir, read_as);
    return false;
  }
  return true;
}

}  // namespace lnk

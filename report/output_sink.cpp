#include "report/output_sink.h"

#include <iostream>

#include "platform/platform.h"

namespace lnk {

OutputSink::OutputSink() : stream_(&std::cout) {}

bool OutputSink::open_file(const std::string& path) {
  file_.open(platform::native_path(path), std::ios::out | std::ios::trunc);
  stream_ = &file_;
  return file_.good();
}

bool OutputSink::flush() {
  stream_->flush();
  return !failed();
}

}  // namespace lnk

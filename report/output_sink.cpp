#include "report/output_sink.h"

#include <iostream>

#include "platform/platform.h"

namespace lnk {

OutputSink::OutputSink() : stream_(&std::cout) {}

bool OutputSink::open_file(const std::string& path) {
  stream_ = &file_;
  if (!pending_.begin(path)) {
    file_.setstate(std::ios::failbit);
    return false;
  }
  file_.open(platform::native_path(pending_.write_path()), std::ios::out | std::ios::trunc);
  return file_.good();
}

bool OutputSink::commit() {
  if (!pending_.active()) return flush();
  file_.close();
  const bool written = !file_.fail();
  if (!written) {
    pending_.discard();
    return false;
  }
  return pending_.commit(true);
}

bool OutputSink::flush() {
  stream_->flush();
  return !failed();
}

}  // namespace lnk

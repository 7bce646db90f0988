#include "report/output_sink.h"

#include <cerrno>
#include <iostream>

#include "platform/platform.h"

namespace lnk {

// Buffers in front of the real stream and notes errno the moment a write
// into it fails: by the time a stream's fail bit is seen, later calls may
// have changed errno.
class OutputSink::CheckedBuffer : public std::streambuf {
 public:
  explicit CheckedBuffer(std::streambuf* target) : target_(target) { setp(space_, space_ + sizeof space_); }
  int error() const { return error_; }
  void fail(int error) { error_ = error != 0 ? error : EIO; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    if (!drain()) return -1;
    errno = 0;
    if (target_->pubsync() == 0) return 0;
    fail(errno);
    return -1;
  }

 private:
  bool drain() {
    if (error_ != 0) return false;
    const std::streamsize count = pptr() - pbase();
    errno = 0;
    if (count > 0 && target_->sputn(pbase(), count) != count) {
      fail(errno);
      return false;
    }
    setp(space_, space_ + sizeof space_);
    return true;
  }

  std::streambuf* target_;
  char space_[16384];
  int error_ = 0;
};

OutputSink::OutputSink() { check_through(std::cout.rdbuf()); }

OutputSink::OutputSink(std::ostream& stream) : stream_(&stream) {}

OutputSink::~OutputSink() {
  if (checked_) checked_->flush();
}

void OutputSink::check_through(std::streambuf* target) {
  buffer_ = std::make_unique<CheckedBuffer>(target);
  checked_ = std::make_unique<std::ostream>(buffer_.get());
  stream_ = checked_.get();
}

bool OutputSink::open_file(const std::string& path) {
  path_ = path;
  if (!pending_.begin(path)) {
    const int reason = errno;
    check_through(file_.rdbuf());
    buffer_->fail(reason);
    checked_->setstate(std::ios::failbit);
    return false;
  }
  file_.open(platform::native_path(pending_.write_path()), std::ios::out | std::ios::trunc);
  const int reason = errno;
  check_through(file_.rdbuf());
  if (file_.good()) return true;
  buffer_->fail(reason);
  checked_->setstate(std::ios::failbit);
  return false;
}

bool OutputSink::finish() {
  if (!pending_.active() || !file_.is_open()) return flush();
  if (!flush()) {
    pending_.discard();
    return false;
  }
  errno = 0;
  file_.close();
  if (file_.fail()) {
    buffer_->fail(errno);
    checked_->setstate(std::ios::badbit);
    pending_.discard();
    return false;
  }
  return true;
}

bool OutputSink::commit() {
  if (!finish()) return false;
  return !pending_.active() || pending_.commit(true);
}

bool OutputSink::flush() {
  stream_->flush();
  return !failed();
}

int OutputSink::error() const { return buffer_ ? buffer_->error() : 0; }

std::string OutputSink::name() const { return path_.empty() ? "standard output" : path_; }

}  // namespace lnk

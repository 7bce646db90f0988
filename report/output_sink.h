// Where a run's results go: standard output, or the results file the
// driver opened. The driver owns the one sink of a run; the writer writes
// every byte through it, so the sink alone knows whether all of them
// arrived.
#pragma once

#include <fstream>
#include <ostream>
#include <string>

namespace lnk {

class OutputSink {
 public:
  // Standard output until a file is opened.
  OutputSink();
  // A stream the caller owns (a string stream, say).
  explicit OutputSink(std::ostream& stream) : stream_(&stream) {}
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Creates or truncates path. When that fails the sink stays on the file
  // in its failed state: what is written afterwards is lost and failed()
  // says so.
  bool open_file(const std::string& path);
  std::ostream& stream() { return *stream_; }
  // Pushes what is buffered on; false once any write of the run failed.
  bool flush();
  bool failed() const { return stream_->fail(); }

 private:
  std::ofstream file_;
  std::ostream* stream_;
};

}  // namespace lnk

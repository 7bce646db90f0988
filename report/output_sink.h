// Where a run's results go: standard output, or the results file the
// driver opened. The driver owns the one sink of a run; the writer writes
// every byte through it, so the sink alone knows whether all of them
// arrived.
#pragma once

#include <fstream>
#include <ostream>
#include <string>

#include "platform/pending_file.h"

namespace lnk {

class OutputSink {
 public:
  // Standard output until a file is opened.
  OutputSink();
  // A stream the caller owns (a string stream, say).
  explicit OutputSink(std::ostream& stream) : stream_(&stream) {}
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Writes into a new file beside path, which takes path's place only at
  // commit(): until then an existing file there stays as it was. When that
  // fails the sink stays on the file in its failed state: what is written
  // afterwards is lost and failed() says so.
  bool open_file(const std::string& path);
  // The results file, when one is being written.
  platform::PendingFile& pending() { return pending_; }
  // Closes the file and moves it over its target; false when a write or
  // the move failed. Without commit the new file is removed.
  bool commit();
  std::ostream& stream() { return *stream_; }
  // Pushes what is buffered on; false once any write of the run failed.
  bool flush();
  bool failed() const { return stream_->fail(); }

 private:
  platform::PendingFile pending_;
  std::ofstream file_;
  std::ostream* stream_;
};

}  // namespace lnk

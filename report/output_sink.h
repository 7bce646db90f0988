// Where a run's results go: standard output, or the results file the
// driver opened. The driver owns the one sink of a run; the writer writes
// every byte through it, so the sink alone knows whether all of them
// arrived, and why not.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include "platform/pending_file.h"

namespace lnk {

class OutputSink {
 public:
  // Standard output until a file is opened.
  OutputSink();
  // A stream the caller owns (a string stream, say).
  explicit OutputSink(std::ostream& stream);
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;
  ~OutputSink();

  // Writes into a new file beside path, which takes path's place only at
  // commit(): until then an existing file there stays as it was. When that
  // fails the sink stays on the file in its failed state: what is written
  // afterwards is lost and failed() says so.
  bool open_file(const std::string& path);
  // The results file, when one is being written.
  platform::PendingFile& pending() { return pending_; }
  // Closes the file, whose every byte then arrived; false (and the new
  // file removed) when a write failed. Standard output is flushed.
  bool finish();
  // finish(), then moves the file over its target; false when a write or
  // the move failed. Without commit the new file is removed.
  bool commit();
  std::ostream& stream() { return *stream_; }
  // Pushes what is buffered on; false once any write of the run failed.
  bool flush();
  bool failed() const { return stream_->fail(); }
  // The errno value of the first write that failed; 0 while none did (and
  // for a stream the caller owns).
  int error() const;
  // "standard output", or the results file as the user named it.
  std::string name() const;

 private:
  class CheckedBuffer;
  void check_through(std::streambuf* target);

  platform::PendingFile pending_;
  std::string path_;
  std::ofstream file_;
  std::unique_ptr<CheckedBuffer> buffer_;
  std::unique_ptr<std::ostream> checked_;
  std::ostream* stream_;
};

}  // namespace lnk

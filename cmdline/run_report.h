// What a run tells the examiner on standard error besides its messages: a
// summary line at the end, a hint for a source that yields nothing when a
// next step is plain, and a warning for every command-line word left unused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"
#include "images/image_open.h"

namespace lnk {

struct RunTally {
  uint64_t sources_read = 0;      // opened and examined
  uint64_t without_records = 0;   // of those read, the ones that gave no record
  uint64_t records_written = 0;
  uint64_t with_anomalies = 0;    // records seen that carry an anomaly
  uint64_t left_out = 0;          // records without anomalies that -flagged kept out
  uint64_t unreadable = 0;        // skipped: could not be opened or read
  std::string first_unreadable;   // named in the summary
  uint64_t directories = 0;       // skipped: a directory
  uint64_t exceptions = 0;        // skipped: failed while being examined

  void count_unreadable(const std::string& name) {
    if (unreadable++ == 0) first_unreadable = name;
  }
};

// "done: 3 sources read, 41 records written, 5 with anomalies, 1 without records, 2 skipped
// (1 cannot be read: x.lnk, 1 directory)"; parts with nothing to count are
// left out. Of several unread inputs the first is named.
std::string summary_line(const RunTally& tally);

// For a directory given as an input.
std::string directory_hint(const std::string& path);
// For a file that was read and gave no record; empty when no next step is
// plain (the search already covered every byte, or the file is too small
// to hold a record). disk: the file's container when it holds a disk, else
// null.
std::string no_record_hint(const std::string& path, uint64_t size, const useropts& options,
                           const ImageContainer* disk = nullptr);
// For -deepscan over a container whose stored bytes are not the disk's
// (compressed or mapped); empty for a raw image.
std::string deepscan_container_note(const std::string& path, ImageContainer container);

// One warning per word the options and the mode left unused. input_taken:
// the word after the program path was read as the input name.
std::vector<std::string> unused_word_warnings(const std::vector<std::string>& args, bool input_taken);

}  // namespace lnk

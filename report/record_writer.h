// The single place where decoded records become output. The driver owns
// one writer for the run and tells it where the run stands; producers hand
// it records through a sink. Every byte of the results, the run's framing
// included, is written here, through the run's OutputSink.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/delimited_table.h"
#include "report/output_sink.h"
#include "report/html_report.h"
#include "report/record_values.h"

namespace lnk {

class RecordWriter {
 public:
  RecordWriter(OutputSink& out, const useropts& options) : out_(out), options_(options) {}
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // A run, in order: begin_run, the records and notices, end_run.
  //
  // The run header and an empty line (JSON Lines holds records only).
  void begin_run(const std::string& header);
  // A set of VMware disks is about to be carved whole (not in JSON Lines).
  void announce_disk_carve(const std::string& names);
  // The first file of a -pipe list carved whole: the text report names it
  // and opens the offset listing.
  void announce_list_carve(const std::string& first_name);
  // Writes one record in the run's layout; a delimited layout writes its
  // header line before the run's first record. ANSI texts are decoded first
  // when the layout asks for a code page. Under -flagged a record without
  // anomalies is not written: false.
  bool write(const LnkRecord& record, const SourceInfo& source);
  // Records seen that carry an anomaly, written or not.
  uint64_t records_with_anomalies() const { return records_with_anomalies_; }
  // The one input of a run named on the command line has been examined:
  // its report ends with an empty line (not in JSON Lines).
  void end_input();
  // After the last record of a run that was not aborted; a layout that
  // writes a whole document writes it here.
  void end_run();

  // The run reads a jump list: the CSV header gets its columns even when
  // another record comes first. Call before the first record.
  void expect_jump_list_records() { state_.jump_list_records_expected = true; }
  // The run reads volumes through their MFT though -ntfs_scan was not given:
  // the CSV header gets the MFT-scan columns.
  void expect_volume_scan() { state_.volume_scan = true; }
  // Until the CSV columns are settled, records wait here rather than decide
  // the header alone: a volume's scan tells whether it names a jump list
  // only as it goes. Nothing waits once the header is written, or in
  // another layout.
  void hold_records();
  // Writes what waited, in order, and writes on from then on.
  void release_records();
  // After the run: what the chosen layout could not hold, as a line for
  // standard error, or empty.
  std::string lost_fields_notice() const;

  // Every record is also handed to the HTML report, which must outlive the
  // writer's use; the run's begin and end reach it too.
  void also_write_html(HtmlReport& html) { html_ = &html; }

 private:
  bool write_record(const LnkRecord& record, const SourceInfo& source, uint32_t codepage);
  void write_layout(const LnkRecord& record, const SourceInfo& source, const RecordValues& values,
                    uint32_t codepage);
  const cmd_params& layout_options();
  void write_html(const LnkRecord& record, const SourceInfo& source);

  OutputSink& out_;
  const useropts& options_;
  WriterState state_;
  // -json renders notes in fixed formats, whatever the run's formats and
  // number base are.
  std::unique_ptr<cmd_params> json_render_options_;
  std::string json_line_;
  uint64_t records_written_ = 0;
  uint64_t records_with_anomalies_ = 0;
  HtmlReport* html_ = nullptr;
  struct Held {
    LnkRecord record;
    SourceInfo source;
  };
  bool holding_ = false;
  std::vector<Held> held_;
};

}  // namespace lnk

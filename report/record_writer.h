// The single place where a decoded record becomes output. The driver owns
// one writer for the run; producers hand it records through a sink.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/delimited_table.h"
#include "report/html_report.h"

namespace lnk {

class RecordWriter {
 public:
  RecordWriter(std::ostream& out, const useropts& options) : out_(out), options_(options) {}
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes one record in the run's layout; a delimited layout writes its
  // header line before the run's first record. ANSI texts are decoded first
  // when the layout asks for a code page.
  void write(const LnkRecord& record, const SourceInfo& source);

  // Every record is also handed to the HTML report, which must outlive the
  // writer's use.
  void also_write_html(HtmlReport& html) { html_ = &html; }

 private:
  void write_layout(const LnkRecord& record, const SourceInfo& source, uint32_t codepage);
  void write_html(const LnkRecord& record, const SourceInfo& source);

  std::ostream& out_;
  const useropts& options_;
  WriterState state_;
  // -json renders notes in fixed formats, whatever the run's formats and
  // number base are.
  std::unique_ptr<cmd_params> json_render_options_;
  std::string json_line_;
  uint64_t records_written_ = 0;
  HtmlReport* html_ = nullptr;
};

}  // namespace lnk

// The HTML report (-html FILE): one self-contained page with the run header,
// a chart of the records' target and MRU times per day, and the records as a
// table whose rows open each record's text report. The page needs no network
// and no other file; its style and script are built into the program.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/json_text.h"
#include "report/record_values.h"

namespace lnk {

// The code page the HTML report decodes ANSI texts with, the layouts' own.
uint32_t html_code_page(const cmd_params& options);

// Builds the page over the run. The page's top is written when the run
// begins; each record is reduced at once to its table row and its text
// report (the record itself is not kept), and both are written when the run
// ends: the rows and the script first, so the page shows its chart and table
// while the browser still reads the reports behind them. The reports are
// held line by line, each line once: a line met again is held as the number
// of its first occurrence. Until the run ends the file holds only the top of
// the page, which then says that it is incomplete.
class HtmlReport {
 public:
  HtmlReport(std::ostream& out, const useropts& options) : out_(out), options_(options) {}
  HtmlReport(const HtmlReport&) = delete;
  HtmlReport& operator=(const HtmlReport&) = delete;

  void begin_run(const std::string& run_header);
  // values derived from record with the run's options.
  void add(const LnkRecord& record, const SourceInfo& source, const RecordValues& values);
  void end_run();

  uint64_t records() const { return records_; }

 private:
  // Appends to chunks of a fixed size, so what is held grows with the text
  // and is never copied into a larger block.
  static std::string& chunk_for(std::vector<std::string>& chunks);
  void hold_report(const std::string& text);
  void append_row(std::string& out, const LnkRecord& record, const SourceInfo& source, const RecordValues& values);
  void text_cell(JsonWriter& w, size_t column, std::string_view raw, bool shares_beginning);

  std::ostream& out_;
  const useropts& options_;
  std::vector<std::string> row_chunks_;
  std::vector<std::string> report_chunks_;
  std::unordered_map<std::string, uint32_t> line_numbers_;
  size_t line_bytes_ = 0;
  uint32_t lines_ = 0;
  std::string scratch_;
  // The texts of the row before, by text column.
  std::array<std::string, 9> previous_texts_;
  uint64_t records_ = 0;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace lnk

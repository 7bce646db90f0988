#include "report/record_writer.h"

#include "report/ansi_text.h"
#include "report/csv_report.h"
#include "report/json_report.h"
#include "report/record_values.h"
#include "report/text_report.h"
#include "report/timeline_report.h"
#include "report/timesketch_report.h"

namespace lnk {

void RecordWriter::begin_run(const std::string& header) {
  if (html_) html_->begin_run(header);
  if (writes_json_lines(options_) || options_.no_header) return;
  out_.stream() << header << "\n";
  out_.flush();
}

void RecordWriter::announce_disk_carve(const std::string& names) {
  if (writes_json_lines(options_) || (options_.no_header && options_.layout != Layout::text)) return;
  out_.stream() << "file: " << names << "[using large file scan]\n";
}

void RecordWriter::announce_list_carve(const std::string& first_name) {
  if (options_.layout != Layout::text) return;
  out_.stream() << "file: " << first_name << " [using large file scan]\n" << "lnk offset, ";
}

bool RecordWriter::write(const LnkRecord& record, const SourceInfo& source) {
  const uint32_t codepage = layout_code_page(options_);
  bool written = false;
  if (has_ansi_beyond_ascii(record)) {
    LnkRecord decoded = record;
    decode_ansi_texts(decoded, codepage);
    written = write_record(decoded, source, codepage);
  } else {
    written = write_record(record, source, codepage);
  }
  // Each record reaches the stream whole before the next is decoded.
  out_.flush();
  return written;
}

bool RecordWriter::write_record(const LnkRecord& record, const SourceInfo& source, uint32_t codepage) {
  const RecordValues values = derive_record_values(record, source, layout_options());
  if (!values.anomalies.empty()) ++records_with_anomalies_;
  if (options_.flagged && values.anomalies.empty()) return false;
  if (holding_) {
    held_.push_back({record, source});
  } else {
    write_layout(record, source, values, codepage);
  }
  ++records_written_;
  if (html_) write_html(record, source);
  return true;
}

void RecordWriter::hold_records() {
  holding_ = options_.layout == Layout::csv && state_.csv_columns.empty();
}

void RecordWriter::release_records() {
  if (!holding_) return;
  holding_ = false;
  const uint32_t codepage = layout_code_page(options_);
  for (const Held& held : held_)
    write_layout(held.record, held.source, derive_record_values(held.record, held.source, layout_options()), codepage);
  held_.clear();
  out_.flush();
}

const cmd_params& RecordWriter::layout_options() {
  if (options_.layout != Layout::json) return options_;
  if (!json_render_options_) {
    json_render_options_ = std::make_unique<cmd_params>(options_);
    json_render_options_->date_format = kJsonNoteDateFormat;
    json_render_options_->time_format = kJsonNoteTimeFormat;
    json_render_options_->sizes_in_hex = true;
  }
  return *json_render_options_;
}

void RecordWriter::end_input() {
  release_records();
  // Between the text report's inputs the empty line is part of the layout;
  // in a delimited file it is a line no reader expects.
  const bool delimited = options_.layout != Layout::text;
  if (!writes_json_lines(options_) && !(options_.no_header && delimited)) out_.stream() << "\n";
  out_.flush();
}

void RecordWriter::end_run() {
  release_records();
  if (html_) html_->end_run();
  out_.flush();
}

std::string RecordWriter::lost_fields_notice() const {
  const uint64_t lacking = state_.records_lacking_jump_list_columns;
  if (lacking == 0) return {};
  return std::to_string(lacking) + (lacking == 1 ? " record" : " records") +
         " carried jump-list fields that the CSV header lacks; -json keeps every field\n";
}

void RecordWriter::write_html(const LnkRecord& record, const SourceInfo& source) {
  html_->add(record, source, derive_record_values(record, source, options_));
}

void RecordWriter::write_layout(const LnkRecord& record, const SourceInfo& source, const RecordValues& values,
                                uint32_t codepage) {
  std::ostream& out = out_.stream();
  switch (options_.layout) {
    case Layout::json:
      json_line_.clear();
      append_json_record(json_line_, record, source, options_, values, codepage);
      out << json_line_;
      return;
    case Layout::bodyfile: write_bodyfile_record(out, record, source, options_, values, state_); return;
    case Layout::log2timeline: write_l2t_record(out, record, source, options_, values, state_); return;
    case Layout::csv: write_csv_record(out, record, source, options_, values, state_); return;
    case Layout::text: write_text_report(out, record, source, options_, values); return;
    case Layout::timesketch:
      json_line_.clear();
      append_timesketch_events(json_line_, record, source, options_, values, records_written_ + 1);
      out << json_line_;
      return;
  }
}

}  // namespace lnk

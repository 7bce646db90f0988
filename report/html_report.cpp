#include "report/html_report.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "platform/text.h"
#include "report/ansi_text.h"
#include "report/html_assets.h"
#include "report/json_text.h"
#include "report/text_report.h"
#include "report/timeline_report.h"

namespace lnk {
namespace {

constexpr std::string_view kStyleMarker = "<!--rook:style-->";
constexpr std::string_view kRunHeaderMarker = "<!--rook:run-header-->";
constexpr std::string_view kDataMarker = "<!--rook:data-->";
constexpr uint32_t kNoMruIndex = 99999;
constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr uint64_t kTicksPerDay = 864000000000ULL;
// Event kinds of the chart.
constexpr unsigned kTargetEvent = 1;
constexpr unsigned kMruEvent = 2;
constexpr size_t kChunkBytes = size_t{1} << 20;
// The lines remembered for reuse are capped; what repeats most is usually met
// early (labels with common values, volumes, flags).
constexpr size_t kLineMemoryCap = size_t{16} << 20;
// Shorter shared beginnings are written out whole.
constexpr size_t kSharedBeginningMin = 8;

// Text as HTML character data; bytes that are not UTF-8 become U+FFFD.
std::string html_text(std::string_view text) {
  std::string escaped;
  for (char c : valid_utf8(text)) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// JSON inside a <script> element must hold no "<": then nothing in it can
// end the element or open a comment, whatever the evidence says. A "<" can
// only stand inside a JSON string, where \u003c reads the same.
void keep_out_of_markup(std::string& json, size_t from) {
  for (size_t at = json.find('<', from); at != std::string::npos; at = json.find('<', at + 6))
    json.replace(at, 1, "\\u003c");
}

std::string replaced(std::string_view page, std::string_view marker, std::string_view text) {
  std::string out(page);
  const size_t at = out.find(marker);
  if (at != std::string::npos) out.replace(at, marker.size(), text);
  return out;
}

// The first column: the file, else the volume or disk files scanned.
std::string source_text(const SourceInfo& source) {
  if (!source.source_path.empty()) return source.source_path;
  if (!source.volume_name.empty()) return source.volume_name;
  std::string joined;
  for (const std::string& path : source.vmdk_paths) joined += (joined.empty() ? "" : "; ") + path;
  return joined;
}

// "2023-03-14T09:26:53.5": the instant without its zone letter and without
// the fraction's trailing zeros, which still sorts as text.
void time_cell(JsonWriter& w, uint64_t filetime) {
  std::string text = iso_time(filetime);
  if (!text.empty()) {
    text.pop_back();
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  w.string(text);
}

size_t utf16_units(std::string_view valid_text) {
  size_t units = 0;
  for (unsigned char c : valid_text) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;  // a surrogate pair
  }
  return units;
}

}  // namespace

// Texts that repeat the row above are written as 0; a text that begins as
// the one above does (files of one folder, targets on one volume) as the
// length of that beginning in UTF-16 units, as the script counts, and the
// rest.
void HtmlReport::text_cell(JsonWriter& w, size_t column, std::string_view raw, bool shares_beginning) {
  std::string text = valid_utf8(raw);
  std::string& previous = previous_texts_[column];
  if (!text.empty() && text == previous) {
    w.number(uint64_t{0});
    return;
  }
  size_t common = 0;
  if (shares_beginning) {
    const size_t limit = std::min(text.size(), previous.size());
    while (common < limit && text[common] == previous[common]) ++common;
    // Back to the start of the character the two texts part in.
    while (common > 0 && common < text.size() && (static_cast<unsigned char>(text[common]) & 0xC0) == 0x80) --common;
  }
  if (common >= kSharedBeginningMin) {
    w.begin_array();
    w.number(uint64_t{utf16_units(std::string_view(text).substr(0, common))});
    w.string(std::string_view(text).substr(common));
    w.end_array();
  } else {
    w.string(text);
  }
  previous = std::move(text);
}

// The table row of one record; its field order is the script's.
void HtmlReport::append_row(std::string& out, const LnkRecord& record, const SourceInfo& source,
                            const RecordValues& values) {
  const TimelineSlots slots = timeline_slots(record, values);
  const bool jump_list = record.jumplist_kind != JumplistKind::none;
  const bool destlist = record.jumplist_kind == JumplistKind::with_destlist && !record.from_slack;
  JsonWriter w(out);
  w.begin_array();
  text_cell(w, 0, source_text(source), true);
  text_cell(w, 1, record.source_type, true);
  text_cell(w, 2, values.target_name, true);
  time_cell(w, slots.m_time);
  time_cell(w, slots.a_time);
  time_cell(w, slots.b_time);
  time_cell(w, slots.c_time);
  if (destlist && record.mru_index > 0 && record.mru_index < kNoMruIndex) w.number(uint64_t{record.mru_index});
  else w.string("");
  text_cell(w, 3, jump_list ? values.app_id_text : "", false);
  text_cell(w, 4, record.volume_label, false);
  text_cell(w, 5, record.volume_serial, false);
  text_cell(w, 6, !record.machine_id.empty() || !destlist ? record.machine_id : record.destlist_netbios, false);
  text_cell(w, 7, record.droid_mac, false);
  if (source.src_inode != 0) w.number(source.src_inode);
  else w.string("");
  w.number(record.lnk_offset);
  w.begin_array();
  for (const TimelineEvent& e : merge_macb(slots)) {
    unsigned kinds = 0;
    if (e.marks.find_first_of("MAB") != std::string::npos) kinds |= kTargetEvent;
    if (e.marks.find('C') != std::string::npos) kinds |= kMruEvent;
    w.number((e.time - kUnixEpochFiletime) / kTicksPerDay);
    w.number(uint64_t{kinds});
  }
  w.end_array();
  w.string(anomaly_codes(values.anomalies));
  // The file's own place in the volume, shown in the image's stead.
  text_cell(w, 8, source.volume_path, true);
  w.boolean(source.deleted);
  const DestListData& d = record.destlist;
  if (destlist && d.present) w.string(d.pin_status == -1 ? "no" : "yes, position " + std::to_string(d.pin_status));
  else w.string("");
  if (destlist && d.present && d.has_access_count) w.number(uint64_t{d.access_count});
  else w.string("");
  w.end_array();
}

uint32_t html_code_page(const cmd_params& options) {
  return layout_code_page(options);
}

void HtmlReport::begin_run(const std::string& run_header) {
  if (begun_) return;
  begun_ = true;
  const std::string_view page = html_page_template();
  out_ << replaced(replaced(page.substr(0, page.find(kDataMarker)), kStyleMarker, html_page_style()),
                   kRunHeaderMarker, html_text(run_header));
  out_.flush();
}

std::string& HtmlReport::chunk_for(std::vector<std::string>& chunks) {
  if (chunks.empty() || chunks.back().size() > kChunkBytes) {
    chunks.emplace_back();
    chunks.back().reserve(kChunkBytes + kChunkBytes / 4);
  }
  return chunks.back();
}

// A report is an array of its lines: a text for a line not met before (it
// takes the next line number), the number of a line met before.
void HtmlReport::hold_report(const std::string& text) {
  std::string& chunk = chunk_for(report_chunks_);
  const size_t start = chunk.size();
  chunk += records_ != 0 ? ",\n[" : "[";
  size_t from = 0;
  for (bool first = true;; first = false) {
    const size_t end = std::min(text.find('\n', from), text.size());
    const std::string_view line(text.data() + from, end - from);
    if (!first) chunk += ',';
    scratch_.assign(line);
    const auto known = line_numbers_.find(scratch_);
    if (known != line_numbers_.end()) {
      chunk += std::to_string(known->second);
    } else {
      append_json_string(chunk, line);
      // Past the cap, new lines are written out whole and not remembered.
      if (line_bytes_ < kLineMemoryCap) {
        line_bytes_ += line.size();
        line_numbers_.emplace(scratch_, lines_);
      }
      ++lines_;
    }
    if (end == text.size()) break;
    from = end + 1;
  }
  chunk += ']';
  keep_out_of_markup(chunk, start);
}

void HtmlReport::add(const LnkRecord& record, const SourceInfo& source, const RecordValues& values) {
  if (!begun_ || ended_) return;
  std::ostringstream report;
  write_text_report(report, record, source, options_, values);
  hold_report(report.str());

  std::string& chunk = chunk_for(row_chunks_);
  const size_t start = chunk.size();
  if (records_ != 0) chunk += ",\n";
  append_row(chunk, record, source, values);
  keep_out_of_markup(chunk, start);
  ++records_;
}

void HtmlReport::end_run() {
  if (!begun_ || ended_) return;
  ended_ = true;
  auto write_chunks = [this](std::vector<std::string>& chunks) {
    for (std::string& chunk : chunks) {
      out_ << chunk;
      std::string().swap(chunk);
    }
  };
  std::string run;
  JsonWriter w(run);
  w.begin_object();
  w.field("records", records_);
  w.field("sizes_in_hex", options_.sizes_in_hex);
  w.field("code_page", html_code_page(options_));
  w.end_object();
  out_ << "<script type=\"application/json\" id=\"rook-run\">" << run << "</script>\n"
       << "<script type=\"application/json\" id=\"rook-records\">[\n";
  write_chunks(row_chunks_);
  out_ << "\n]</script>\n<script>\n" << html_page_script() << "</script>\n"
       << "<script type=\"application/json\" id=\"rook-reports\">[\n";
  line_numbers_.clear();
  write_chunks(report_chunks_);
  out_ << "\n]</script>\n";
  const std::string_view page = html_page_template();
  const size_t data = page.find(kDataMarker);
  if (data != std::string_view::npos) out_ << page.substr(data + kDataMarker.size());
  out_.flush();
}

}  // namespace lnk

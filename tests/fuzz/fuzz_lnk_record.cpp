// Any bytes through the shortcut parser, the text writer, the JSON writer
// (with a multi-byte code page for the ANSI texts), the Timesketch writer
// and the HTML report.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "core/options.h"
#include "lnk/parse_lnk.h"
#include "report/html_report.h"
#include "report/record_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::useropts options;
  options.idltimes = true;
  lnk::LnkRecord record;
  if (lnk::parse_lnk_record(record, std::span<const uint8_t>(data, size), 0)) {
    std::ostringstream out;
    lnk::OutputSink text_sink(out);
    lnk::RecordWriter(text_sink, options).write(record, lnk::SourceInfo{});
    // Line-based layouts: nothing from the record reaches them raw but line ends.
    lnk::useropts csv_options;
    csv_options.layout = lnk::Layout::csv;
    std::ostringstream csv;
    lnk::OutputSink csv_sink(csv);
    lnk::RecordWriter(csv_sink, csv_options).write(record, lnk::SourceInfo{});
    for (const std::string& written : {out.str(), csv.str()})
      for (char c : written)
        if (c != '\n' && static_cast<unsigned char>(c) < 0x20) __builtin_trap();
    if (csv.str().find('\n') == std::string::npos || csv.str().find('\n', csv.str().find('\n') + 1) + 1 != csv.str().size())
      __builtin_trap();

    lnk::useropts json_options;
    json_options.layout = lnk::Layout::json;
    json_options.codepage = 932;
    std::ostringstream json;
    lnk::OutputSink json_sink(json);
    lnk::RecordWriter(json_sink, json_options).write(record, lnk::SourceInfo{});
    // One line: every control character inside it is escaped.
    const std::string line = json.str();
    if (line.size() < 3 || line.compare(line.size() - 2, 2, "}\n") != 0) __builtin_trap();
    for (size_t i = 0; i + 1 < line.size(); ++i)
      if (static_cast<unsigned char>(line[i]) < 0x20) __builtin_trap();

    lnk::useropts timeline_options = json_options;
    timeline_options.layout = lnk::Layout::timesketch;
    std::ostringstream events, page;
    lnk::OutputSink events_sink(events);
    lnk::HtmlReport html(page, timeline_options);
    html.begin_run("");
    lnk::RecordWriter writer(events_sink, timeline_options);
    writer.also_write_html(html);
    writer.write(record, lnk::SourceInfo{});
    html.end_run();
    // Nothing a record holds can close one of the page's four scripts early.
    const std::string text = page.str();
    size_t closes = 0;
    for (size_t at = text.find("</script"); at != std::string::npos; at = text.find("</script", at + 1)) ++closes;
    if (closes != 4) __builtin_trap();
  }
  return 0;
}

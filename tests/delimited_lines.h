// Helpers for tests that write records as a run does (one writer, one
// source's provenance) and read the delimited lines back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "platform/text.h"
#include "report/record_writer.h"
#include "shellitems/shell_item.h"
#include "tests/text_lines.h"

namespace lnk::test {

// A file source as the driver describes it: the path as opened and as the
// aliases show it.
inline SourceInfo file_source(const std::string& path, const cmd_params& options = useropts{}) {
  SourceInfo source;
  source.opened_path = path;
  source.source_path = map_alias_path(options, path);
  return source;
}

inline std::string write_records(const std::vector<LnkRecord>& records, const useropts& options,
                                 const SourceInfo& source = SourceInfo{}) {
  std::ostringstream out;
  OutputSink sink(out);
  RecordWriter writer(sink, options);
  for (const LnkRecord& record : records) writer.write(record, source);
  return out.str();
}

// One item whose name is the whole path, with the given notes: the IDList
// renders as that path and those notes.
inline std::vector<ShellItem> items_named(const std::string& path,
                                          const std::vector<std::string>& notes = {}) {
  ShellItem item;
  item.name = path;
  for (const std::string& note : notes) item.extra_list.push_back(ItemNote{note});
  return {item};
}

// String-named text properties, listed as "<kStringNamedSetText>/<name>".
inline constexpr const char* kStringNamedSetText = "d5cdd505-2e9c-101b-9397-08002b2cf9ae";
inline PropertyMap text_properties(const std::vector<std::pair<std::string, std::string>>& named) {
  PropertyMap map;
  for (size_t i = 0; i < named.size(); ++i) {
    Property p;
    parse_guid(kStringNamedSetText, p.fmtid);
    p.name = named[i].first;
    p.string_named = true;
    p.vartype = 31;  // VT_LPWSTR
    p.text = named[i].second;
    char key[32];
    std::snprintf(key, sizeof key, "%08zu", i);
    map.emplace(key, p);
  }
  return map;
}

constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
constexpr uint64_t filetime_of(uint64_t unix_seconds) { return kUnixEpoch + unix_seconds * 10000000ULL; }
constexpr uint64_t kJune5 = filetime_of(1244232800);  // 2009-06-05 20:13:20 UTC
constexpr uint64_t kJan2 = filetime_of(1262433600);   // 2010-01-02 12:00:00 UTC
constexpr uint64_t kMar1 = filetime_of(1267444800);   // 2010-03-01 12:00:00 UTC

// Fields of one line at every occurrence of separator; no quoting rules,
// because the writers never quote.
inline std::vector<std::string> split_fields(const std::string& line, const std::string& separator) {
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    size_t at = line.find(separator, start);
    fields.push_back(line.substr(start, at == std::string::npos ? at : at - start));
    if (at == std::string::npos) return fields;
    start = at + separator.size();
  }
}

// The lines after the run header, which ends at its first empty line.
inline std::vector<std::string> lines_after_run_header(const std::string& text) {
  std::vector<std::string> lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) return std::vector<std::string>(lines.begin() + i + 1, lines.end());
  }
  return {};
}

// A path as a JSON string holds it: only its backslashes doubled.
inline std::string json_escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

// Options as the command line would set them, for a source with a comma in its path.
inline useropts options_for(const std::vector<std::string>& extra) {
  useropts o;
  ArgList args{"/usr/local/bin/rook"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("input.lnk");
  EXPECT_TRUE(parse_useropts(o, args));
  return o;
}

// The source the delimited tests write from.
inline SourceInfo source_for(const useropts& o) { return file_source("E:\\case,1\\a.lnk", o); }

inline std::string write_all(const std::vector<LnkRecord>& records, const useropts& o) {
  return write_records(records, o, source_for(o));
}

}  // namespace lnk::test

// Writing records as a run does: one writer, one source's provenance.
#pragma once

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

}  // namespace lnk::test

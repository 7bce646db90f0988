#include "report/idlist_breakout.h"

#include <cstdio>

#include "report/escape_text.h"
#include "report/time_format.h"

namespace lnk {

namespace {

constexpr uint32_t kMaxBreakoutDepth = 16;

std::string join(const std::string& base, const std::string& name) {
  if (name.empty()) return base;
  if (base.empty()) return name;
  if (base.back() == '\\') return base + name;
  return base + "\\" + name;
}

// Nested items (an item's own IDList) are listed under their parent's
// subpath but are not steps of the target's path.
void collect(const std::vector<ShellItem>& items, const RenderedIdList& rendered,
             const std::string& base, bool path_segments, uint32_t depth,
             std::map<uint64_t, IdlistSegment>& out) {
  if (depth > kMaxBreakoutDepth) return;
  std::string subpath = base;
  for (const auto& item : items) {
    const auto named = rendered.names.find(&item);
    subpath = join(subpath, named != rendered.names.end() ? named->second : item.name);
    IdlistSegment segment;
    segment.subpath = subpath;
    segment.is_path_segment = path_segments;
    segment.modify_time = item.modify_time;
    segment.access_time = item.access_time;
    segment.create_time = item.create_time;
    segment.mft_entry = item.mft_entry;
    segment.mft_seq = item.mft_seq;
    if (!segment.subpath.empty()) out.emplace(item.item_position, segment);
    if (!item.children.empty()) collect(item.children, rendered, subpath, false, depth + 1, out);
  }
}

void write_time(std::ostream& out, const char* label, uint64_t filetime, const cmd_params& options) {
  if (filetime == 0) return;
  std::string date_text, time_text;
  format_user_no_fraction(TimeValue::from_filetime(filetime), options.date_format,
                          options.time_format, date_text, time_text);
  out << label << date_text << " " << time_text << "\n";
}

}  // namespace

std::map<uint64_t, IdlistSegment> collect_idlist_segments(const std::vector<ShellItem>& items,
                                                          const RenderedIdList& rendered) {
  std::map<uint64_t, IdlistSegment> segments;
  collect(items, rendered, "", true, 0, segments);
  return segments;
}

void write_idlist_breakout(std::ostream& out, const std::vector<ShellItem>& items,
                           const RenderedIdList& rendered, const cmd_params& options) {
  auto segments = collect_idlist_segments(items, rendered);
  if (segments.empty()) return;
  out << "IDList subpath breakout\n";
  for (const auto& [position, segment] : segments) {
    out << " segment: " << escape_controls(segment.subpath) << "\n";
    if (!segment.is_path_segment) continue;
    write_time(out, "  modify [UTC]: ", segment.modify_time, options);
    write_time(out, "  access [UTC]: ", segment.access_time, options);
    write_time(out, "  create [UTC]: ", segment.create_time, options);
    if (segment.mft_entry != 0) {
      char line[96];
      std::snprintf(line, sizeof line, "  mft entry#:   0x%08llx [%llu]\n",
                    static_cast<unsigned long long>(segment.mft_entry),
                    static_cast<unsigned long long>(segment.mft_entry));
      out << line;
      std::snprintf(line, sizeof line, "  mft seq#:     0x%04x [%u]\n", segment.mft_seq,
                    static_cast<unsigned>(segment.mft_seq));
      out << line;
    }
  }
}

}  // namespace lnk

#include "storage/vmdk_descriptor.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace lnk {
namespace {

constexpr const char kDescriptorMark[] = "# Disk DescriptorFile";
// A 62 TB disk split at 2 GB has about 31,000 extents.
constexpr size_t kMaxExtentLines = 32768;

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string without_quotes(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
  return text;
}

bool parse_decimal(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// Next blank-separated word from at; at moves past it.
std::string next_word(const std::string& line, size_t& at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  const size_t start = at;
  while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
  return line.substr(start, at - start);
}

// RW 4192256 SPARSE "disk-s001.vmdk"   or   RW 6144 FLAT "disk-flat.vmdk" 0
bool is_extent_line(const std::string& line) {
  size_t at = 0;
  const std::string access = next_word(line, at);
  return access == "RW" || access == "RDONLY" || access == "NOACCESS";
}

bool parse_extent_line(const std::string& line, VmdkExtentLine& out) {
  size_t at = 0;
  out.access = next_word(line, at);
  if (!parse_decimal(next_word(line, at), out.sectors)) return false;
  out.type = next_word(line, at);
  std::transform(out.type.begin(), out.type.end(), out.type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (out.type.empty()) return false;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at < line.size() && line[at] == '"') {
    const size_t close = line.find('"', at + 1);
    if (close == std::string::npos) return false;
    out.file = line.substr(at + 1, close - at - 1);
    at = close + 1;
  }
  const std::string offset = next_word(line, at);
  return offset.empty() || parse_decimal(offset, out.offset_sectors);
}

void take_value(const std::string& line, VmdkDescriptor& out) {
  const std::string lower = to_lower_ascii(line);
  if (starts_with(lower, "cid=")) {
    out.cid = lower.substr(4);
  } else if (starts_with(lower, "parentcid=")) {
    out.parent_cid = lower.substr(10);
  } else if (starts_with(lower, "encoding=")) {
    out.encoding = lower.substr(9);
  } else if (starts_with(lower, "parentfilenamehint=")) {
    out.parent_hint = line.substr(19);
  } else if (starts_with(lower, "createtype=")) {
    out.create_type = without_quotes(lower.substr(11));
  }
}

}  // namespace

bool looks_like_vmdk_descriptor(std::span<const uint8_t> head) {
  const std::string_view mark(kDescriptorMark);
  return head.size() >= mark.size() && std::equal(mark.begin(), mark.end(), head.begin());
}

void parse_vmdk_descriptor(std::span<const uint8_t> text, VmdkDescriptor& out) {
  out = VmdkDescriptor{};
  const auto end = std::find(text.begin(), text.end(), uint8_t{0});
  const std::string all(text.begin(), end);
  size_t start = 0;
  // Each pass consumes one line and at least one character.
  while (start < all.size()) {
    size_t stop = all.find('\n', start);
    if (stop == std::string::npos) stop = all.size();
    const std::string line = trim_blanks(all.substr(start, stop - start));
    start = stop + 1;
    out.lines.push_back(line);
    if (line.empty() || line[0] == '#') continue;
    if (!is_extent_line(line)) {
      take_value(line, out);
      continue;
    }
    VmdkExtentLine extent;
    if (out.extents.size() < kMaxExtentLines && parse_extent_line(line, extent)) {
      out.extents.push_back(extent);
    } else {
      out.extents_unreadable = true;
    }
  }
}

}  // namespace lnk

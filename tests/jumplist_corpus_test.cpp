// Real jump lists against independent readers: olecfexport for the streams,
// tools/destlist.py for the DestList.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "carve/process_file.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/jumplist_records.h"
#include "lnk/parse_lnk.h"
#include "lnk/signature_search.h"
#include "report/record_values.h"
#include "tests/run_program.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

bool hex_stream_number(const std::string& name, uint64_t& number) {
  if (name.empty() || name.size() > 16) return false;
  size_t used = 0;
  number = std::stoull(name, &used, 16);
  return used == name.size() && name.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string command_output(const std::string& command, int& status) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return text;
  }
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  status = ::pclose(pipe);
  return text;
}

bool have_command(const std::string& command) {
  int status = 0;
  command_output(command + " >/dev/null 2>&1", status);
  return status == 0;
}

// Every stream olecfexport writes for the file, by name.
std::map<std::string, Bytes> exported_streams(const fs::path& file, const fs::path& target) {
  int status = 0;
  command_output("olecfexport -t " + test::shell_quoted(target.string()) + " " +
                     test::shell_quoted(file.string()) + " >/dev/null 2>&1",
                 status);
  std::map<std::string, Bytes> streams;
  const fs::path exported = target.string() + ".export";
  if (!fs::exists(exported)) return streams;
  for (const auto& item : fs::directory_iterator(exported)) {
    const fs::path data = item.path() / "StreamData.bin";
    if (fs::exists(data)) streams[item.path().filename().string()] = testing::read_bytes(data.string());
  }
  return streams;
}

std::vector<fs::path> corpus_files(const std::string& extension) {
  std::vector<fs::path> files;
  const fs::path root = testing::corpus_path("jumplists");
  if (!fs::exists(root)) return files;
  for (const auto& item : fs::recursive_directory_iterator(root))
    if (item.path().filename().string().find(extension) != std::string::npos) files.push_back(item.path());
  std::sort(files.begin(), files.end());
  return files;
}

// The same shortcut, read twice, agrees field by field.
void expect_same_record(const LnkRecord& a, const LnkRecord& b, const std::string& where) {
  EXPECT_EQ(a.parsed_size, b.parsed_size) << where;
  EXPECT_EQ(a.header.link_flags, b.header.link_flags) << where;
  EXPECT_EQ(a.header.write_time, b.header.write_time) << where;
  EXPECT_EQ(a.header.file_size, b.header.file_size) << where;
  EXPECT_EQ(a.local_base_path, b.local_base_path) << where;
  EXPECT_EQ(a.command_line_arguments, b.command_line_arguments) << where;
  EXPECT_EQ(a.machine_id, b.machine_id) << where;
  EXPECT_EQ(a.droid_object_id, b.droid_object_id) << where;
  const useropts options;
  const RecordValues x = derive_record_values(a, SourceInfo{}, options);
  const RecordValues y = derive_record_values(b, SourceInfo{}, options);
  EXPECT_EQ(x.idlist.path, y.idlist.path) << where;
  EXPECT_EQ(x.idlist.notes, y.idlist.notes) << where;
  EXPECT_EQ(x.property_values, y.property_values) << where;
}

// Streams whose sectors or mini sectors do not follow each other.
size_t fragmented_streams(const Bytes& bytes) {
  CompoundFile file;
  if (!parse_compound_file(file, bytes.data(), bytes.size())) return 0;
  size_t count = 0;
  for (const CfbDirectoryEntry& e : file.entries)
    count += e.object_type == kCfbStreamObject &&
             std::adjacent_find(e.chain.begin(), e.chain.end(), [](uint32_t a, uint32_t b) { return b != a + 1; }) !=
                 e.chain.end();
  return count;
}

struct Totals {
  size_t files = 0, streams = 0, allocated = 0, slack = 0, entry_only = 0, fragmented = 0;
  size_t destlist_entries = 0, destlist_counted = 0;
};

TEST(JumpListCorpus, EveryShortcutStreamIsReportedWholeOnceAsAllocated) {
  const std::vector<fs::path> files = corpus_files(".automaticDestinations-ms");
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  if (!have_command("command -v olecfexport")) GTEST_SKIP() << "olecfexport absent";
  const fs::path scratch = test::make_scratch_dir("jumplists");
  Totals totals;
  for (const fs::path& path : files) {
    Bytes bytes = testing::read_bytes(path.string());
    const std::map<std::string, Bytes> streams =
        exported_streams(path, scratch / std::to_string(totals.files));
    std::vector<LnkRecord> records;
    // Small lists reach the reader padded, as the file scan pads them.
    if (bytes.size() < 4096) bytes.resize(4096, 0);
    carve_jump_list_records(bytes, JumpListPlacement{},
                            [&](const LnkRecord& record, const ParsedBytes&) { records.push_back(record); });

    std::map<uint64_t, std::vector<const LnkRecord*>> allocated;
    size_t slack = 0, entry_only = 0;
    for (const LnkRecord& r : records) {
      if (r.source_type == "JMPLIST (carved allocated)") allocated[r.stream_number].push_back(&r);
      else if (r.source_type == "JMPLIST (carved slack)") ++slack;
      else if (r.destlist_only) ++entry_only;
      else ADD_FAILURE() << path << ": " << r.source_type;
    }
    size_t shortcut_streams = 0, allocated_records = 0;
    for (const auto& [number, list] : allocated) allocated_records += list.size();
    for (const auto& [name, data] : streams) {
      uint64_t number = 0;
      if (!hex_stream_number(name, number) || data.empty()) continue;
      ++shortcut_streams;
      const std::string where = path.filename().string() + " stream " + name;
      ASSERT_EQ(allocated[number].size(), 1u) << where;
      LnkRecord alone;
      ASSERT_TRUE(parse_lnk_record(alone, data, 0)) << where;
      EXPECT_EQ(alone.parsed_size, data.size()) << where;
      expect_same_record(*allocated[number].front(), alone, where);
    }
    EXPECT_EQ(allocated_records, shortcut_streams) << path;

    const auto destlist = streams.find("DestList");
    if (destlist != streams.end() && !destlist->second.empty()) {
      DestList decoded;
      ASSERT_TRUE(decode_destlist(ByteReader(destlist->second), decoded)) << path;
      EXPECT_TRUE(decoded.complete) << path;
      EXPECT_EQ(decoded.entries.size(), decoded.entry_count) << path;
      totals.destlist_entries += decoded.entries.size();
      totals.destlist_counted += decoded.entry_count;
      // Each stream's record carries its entry's time, host and position.
      for (size_t i = 0; i < decoded.entries.size(); ++i) {
        const DestListEntry& e = decoded.entries[i];
        const auto hit = allocated.find(e.entry_number);
        if (hit == allocated.end()) continue;
        EXPECT_EQ(hit->second.front()->mru_index, i + 1) << path;
        EXPECT_EQ(hit->second.front()->mru_time, e.last_access_time) << path;
        EXPECT_EQ(hit->second.front()->destlist_netbios, e.netbios_name) << path;
        EXPECT_EQ(hit->second.front()->jumplist_kind, JumplistKind::with_destlist) << path;
      }
    }
    std::printf("  %-70s streams %3zu allocated %3zu slack %3zu DestList-only %zu\n",
                path.lexically_relative(testing::corpus_path("jumplists")).string().c_str(), shortcut_streams,
                allocated_records, slack, entry_only);
    ++totals.files;
    totals.fragmented += fragmented_streams(bytes);
    totals.streams += shortcut_streams;
    totals.allocated += allocated_records;
    totals.slack += slack;
    totals.entry_only += entry_only;
  }
  std::printf("  %zu lists: %zu shortcut streams (%zu fragmented), %zu allocated records, %zu slack records, "
              "%zu DestList-only; DestList entries decoded %zu of %zu counted\n",
              totals.files, totals.streams, totals.fragmented, totals.allocated, totals.slack, totals.entry_only,
              totals.destlist_entries, totals.destlist_counted);
  EXPECT_EQ(totals.allocated, totals.streams);
  EXPECT_EQ(totals.destlist_entries, totals.destlist_counted);
  EXPECT_GE(totals.files, 40u);
}

std::string hex_of(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// The DestList of a compound file read through its own chain, or a bare
// DestList stream as it is.
bool cpp_destlist(const Bytes& bytes, DestList& out) {
  CompoundFile file;
  if (!parse_compound_file(file, bytes.data(), bytes.size())) return decode_destlist(ByteReader(bytes), out);
  for (const CfbDirectoryEntry& entry : file.entries)
    if (entry.object_type == kCfbStreamObject && entry.name == "DestList")
      return decode_destlist(ByteReader(read_stream(file, entry, bytes.data(), bytes.size())), out);
  return false;
}

// The lines tools/destlist.py --tsv prints, from the C++ decoder.
std::string cpp_lines(const Bytes& bytes, const std::string& path) {
  DestList d;
  std::ostringstream out;
  out << "file\t" << path << '\n';
  if (!cpp_destlist(bytes, d)) {
    out << "none\n";
    return out.str();
  }
  out << "header\t" << d.version << '\t' << d.entry_count << '\t' << d.pinned_count << '\t' << d.last_entry_number
      << '\t' << d.revision << '\n';
  for (const DestListEntry& e : d.entries)
    out << "entry\t" << e.entry_number << '\t' << e.last_access_time << '\t' << e.pin_status << '\t'
        << (e.has_access_count ? std::to_string(e.access_count) : "-") << '\t' << hex_of(e.netbios_name) << '\t'
        << hex_of(e.path) << '\n';
  return out.str();
}

// A Python that can read compound files, or empty.
std::string python_with_olefile() {
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (have_command(std::string(python) + " -c 'import olefile'")) return python;
  return {};
}

TEST(JumpListCorpus, DestListAgreesWithTheIndependentPythonDecoder) {
  std::vector<fs::path> files = corpus_files(".automaticDestinations-ms");
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  const std::string python = python_with_olefile();
  if (python.empty()) GTEST_SKIP() << "python3 with olefile absent";
  files.push_back(testing::corpus_path("jumplists/jumplist_parser/other/DestList"));
  std::string command = python + " " + test::shell_quoted(std::string(ROOK_SOURCE_DIR) + "/tools/destlist.py") +
                        " --tsv";
  for (const fs::path& path : files) command += " " + test::shell_quoted(path.string());
  int status = 0;
  const std::string python_lines = command_output(command, status);
  ASSERT_EQ(status, 0);
  std::string cpp_all;
  size_t compared = 0, entries = 0;
  std::map<uint32_t, size_t> versions;
  for (const fs::path& path : files) {
    const Bytes bytes = testing::read_bytes(path.string());
    cpp_all += cpp_lines(bytes, path.string());
    DestList d;
    if (cpp_destlist(bytes, d)) {
      ++versions[d.version];
      entries += d.entries.size();
    }
    ++compared;
  }
  // Compared file by file, so that a difference names its file.
  std::istringstream expected(python_lines), actual(cpp_all);
  std::string want, got;
  size_t line = 0;
  while (std::getline(expected, want)) {
    ++line;
    ASSERT_TRUE(std::getline(actual, got)) << "python line " << line << ": " << want;
    EXPECT_EQ(got, want) << "line " << line;
  }
  EXPECT_FALSE(std::getline(actual, got)) << got;
  std::printf("  %zu DestLists compared with tools/destlist.py, %zu entries; versions:", compared, entries);
  for (const auto& [version, count] : versions) std::printf(" v%u x%zu", version, count);
  std::printf("\n");
  EXPECT_GE(versions[1], 5u);
  EXPECT_GE(versions[6], 2u);
}

TEST(JumpListCorpus, CustomDestinationsGiveEverySignatureWithoutDeepscan) {
  const std::vector<fs::path> files = corpus_files(".customDestinations-ms");
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  size_t total = 0;
  for (const fs::path& path : files) {
    Bytes bytes = testing::read_bytes(path.string());
    size_t signatures = 0;
    std::vector<uint64_t> hits;
    SignatureSearch().find_all(bytes, hits);
    signatures = hits.size();
    // Through the file scan, as `rook FILE` reads it: no -deepscan needed.
    size_t records = 0;
    useropts options;
    RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo&) {
      EXPECT_EQ(r.jumplist_kind, JumplistKind::without_destlist);
      EXPECT_EQ(r.source_type, "JMPLIST (custom destinations)");
      ++records;
    });
    process_shortcut_file(path.string(), SourceInfo{}, options, outlet);
    EXPECT_EQ(records, signatures) << path;
    total += records;
  }
  std::printf("  %zu custom-destinations lists, %zu records\n", files.size(), total);
  EXPECT_GE(total, 40u);
}

}  // namespace
}  // namespace lnk

// Real jump lists against independent readers: olefile for the streams,
// tools/destlist.py for the DestList, a plain signature search for custom
// destinations.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

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

// One "file<TAB>stream<TAB>hex" line per stream of every file.
const char* kOlefileStreams =
    "import olefile, sys\n"
    "for f in sys.argv[1:]:\n"
    "    o = olefile.OleFileIO(f)\n"
    "    for e in o.listdir():\n"
    "        print(f, '/'.join(e), o.openstream(e).read().hex(), sep='\\t')\n";

std::string hex_of(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

Bytes from_hex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The lines tools/destlist.py --tsv prints, from the C++ readers: the
// DestList through the compound file's own chain, or a bare stream as it is.
std::string cpp_destlist_lines(const Bytes& bytes, const std::string& path, DestList& d) {
  std::ostringstream out;
  out << "file\t" << path << '\n';
  CompoundFile file;
  bool found = false;
  if (!parse_compound_file(file, bytes.data(), bytes.size())) found = decode_destlist(ByteReader(bytes), d);
  for (const CfbDirectoryEntry& entry : file.entries)
    if (entry.object_type == kCfbStreamObject && entry.name == "DestList")
      found = decode_destlist(ByteReader(read_stream(file, entry, bytes.data(), bytes.size())), d);
  if (!found) return out.str() + "none\n";
  out << "header\t" << d.version << '\t' << d.entry_count << '\t' << d.pinned_count << '\t' << d.last_entry_number
      << '\t' << d.revision << '\n';
  for (const DestListEntry& e : d.entries)
    out << "entry\t" << e.entry_number << '\t' << e.last_access_time << '\t' << e.pin_status << '\t'
        << (e.has_access_count ? std::to_string(e.access_count) : "-") << '\t' << hex_of(e.netbios_name) << '\t'
        << hex_of(e.path) << '\n';
  return out.str();
}

// The same shortcut, read from the list and alone, agrees field by field.
void expect_same_record(const LnkRecord& a, const LnkRecord& b, const std::string& where) {
  EXPECT_EQ(std::tie(a.parsed_size, a.header.link_flags, a.header.write_time, a.header.file_size),
            std::tie(b.parsed_size, b.header.link_flags, b.header.write_time, b.header.file_size))
      << where;
  EXPECT_EQ(std::tie(a.local_base_path, a.command_line_arguments, a.machine_id, a.droid_object_id),
            std::tie(b.local_base_path, b.command_line_arguments, b.machine_id, b.droid_object_id))
      << where;
  const RecordValues x = derive_record_values(a, SourceInfo{}, useropts{});
  const RecordValues y = derive_record_values(b, SourceInfo{}, useropts{});
  EXPECT_EQ(std::tie(x.idlist.path, x.idlist.notes, x.property_values),
            std::tie(y.idlist.path, y.idlist.notes, y.property_values))
      << where;
}

using JumpListCorpus = test::ScratchDirTest;

TEST_F(JumpListCorpus, EveryListAgreesWithTheIndependentReaders) {
  const fs::path root = testing::corpus_path("jumplists");
  if (!fs::exists(root)) GTEST_SKIP() << "corpus absent";
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (python.empty() && test::run_program(dir_, candidate, {"-c", "import olefile"}).status == 0) python = candidate;
  if (python.empty()) GTEST_SKIP() << "python3 with olefile absent";
  std::vector<std::string> automatic, custom;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = item.path().string();
    if (name.find(".automaticDestinations-ms") != std::string::npos) automatic.push_back(name);
    if (name.find(".customDestinations-ms") != std::string::npos) custom.push_back(name);
  }
  std::sort(automatic.begin(), automatic.end());
  std::vector<std::string> args = {"-c", kOlefileStreams};
  args.insert(args.end(), automatic.begin(), automatic.end());
  const test::CommandResult olefile = test::run_program(dir_, python, args);
  ASSERT_EQ(olefile.status, 0) << olefile.err;
  std::map<std::string, std::map<std::string, Bytes>> streams;
  std::istringstream lines(olefile.out);
  for (std::string file, name, hex; std::getline(lines, file, '\t') && std::getline(lines, name, '\t') &&
                                    std::getline(lines, hex);)
    streams[file][name] = from_hex(hex);

  size_t shortcut_streams = 0, slack = 0, entry_only = 0, destlist_entries = 0;
  std::map<uint32_t, size_t> versions;
  std::string cpp_lines;
  automatic.push_back(testing::corpus_path("jumplists/jumplist_parser/other/DestList"));
  for (const std::string& path : automatic) {
    Bytes bytes = testing::read_bytes(path);
    DestList destlist;
    cpp_lines += cpp_destlist_lines(bytes, path, destlist);
    versions[destlist.version] += !destlist.entries.empty();
    destlist_entries += destlist.entries.size();
    if (!streams.count(path)) continue;  // the bare DestList
    // Small lists reach the reader padded, as the file scan pads them.
    if (bytes.size() < 4096) bytes.resize(4096, 0);
    std::map<uint64_t, std::vector<LnkRecord>> allocated;
    carve_jump_list_records(bytes, JumpListPlacement{}, [&](const LnkRecord& r, const ParsedBytes&) {
      if (r.source_type == "JMPLIST (carved allocated)") allocated[r.stream_number].push_back(r);
      else if (r.source_type == "JMPLIST (carved slack)") ++slack;
      else if (r.destlist_only) ++entry_only;
      else ADD_FAILURE() << path << ": " << r.source_type;
    });
    size_t numbered = 0;
    for (const auto& [name, data] : streams[path]) {
      if (name.empty() || name.size() > 16 || name.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
          data.empty())
        continue;
      ++numbered;
      const std::string where = path + " stream " + name;
      const std::vector<LnkRecord>& found = allocated[std::stoull(name, nullptr, 16)];
      ASSERT_EQ(found.size(), 1u) << where;
      LnkRecord alone;
      ASSERT_TRUE(parse_lnk_record(alone, data, 0)) << where;
      EXPECT_EQ(alone.parsed_size, data.size()) << where;
      expect_same_record(found.front(), alone, where);
    }
    size_t records = 0;
    for (const auto& [number, list] : allocated) records += list.size();
    EXPECT_EQ(records, numbered) << path;
    shortcut_streams += numbered;
    // Each stream's record carries its entry's time, host and place.
    for (size_t i = 0; i < destlist.entries.size(); ++i) {
      const DestListEntry& e = destlist.entries[i];
      const auto hit = allocated.find(e.entry_number);
      if (hit == allocated.end()) continue;
      const LnkRecord& r = hit->second.front();
      EXPECT_EQ(std::make_tuple(r.mru_index, r.mru_time, r.destlist_netbios),
                std::make_tuple(uint32_t(i + 1), e.last_access_time, e.netbios_name))
          << path;
      EXPECT_EQ(r.jumplist_kind, JumplistKind::with_destlist) << path;
    }
  }
  // The DestLists, compared line by line so that a difference names its file.
  args = {ROOK_SOURCE_DIR "/tools/destlist.py", "--tsv"};
  args.insert(args.end(), automatic.begin(), automatic.end());
  const test::CommandResult python_lines = test::run_program(dir_, python, args);
  ASSERT_EQ(python_lines.status, 0) << python_lines.err;
  std::istringstream expected(python_lines.out), actual(cpp_lines);
  for (std::string want, got; std::getline(expected, want);) {
    ASSERT_TRUE(std::getline(actual, got)) << want;
    EXPECT_EQ(got, want);
  }

  // Custom destinations through the file scan, as `rook FILE` reads them:
  // every signature is a record, no -deepscan needed.
  size_t custom_records = 0;
  useropts options;
  for (const std::string& path : custom) {
    std::vector<uint64_t> hits;
    SignatureSearch().find_all(testing::read_bytes(path), hits);
    size_t records = 0;
    RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo&) {
      EXPECT_EQ(r.source_type, "JMPLIST (custom destinations)");
      ++records;
    });
    process_shortcut_file(path, SourceInfo{}, options, outlet);
    EXPECT_EQ(records, hits.size()) << path;
    custom_records += records;
  }
  std::printf("  %zu automatic lists: %zu shortcut streams, %zu slack records, %zu DestList-only, %zu DestList "
              "entries (v1 lists %zu, v6 %zu); %zu custom lists, %zu records\n",
              automatic.size(), shortcut_streams, slack, entry_only, destlist_entries, versions[1], versions[6],
              custom.size(), custom_records);
  EXPECT_GE(automatic.size(), 40u);
  EXPECT_GE(versions[1], 5u);
  EXPECT_GE(versions[6], 2u);
  EXPECT_GE(custom_records, 40u);
}

}  // namespace
}  // namespace lnk

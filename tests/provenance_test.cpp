// Where each record came from, whatever the layout; the CSV header's
// jump-list columns; every line of every layout is UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "tests/cfb_builder.h"
#include "tests/delimited_lines.h"
#include "tests/ntfs_builder.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::contains;

const std::string& kSample = test::kSampleLnk;

const auto& result_lines = test::lines_after_run_header;

test::Bytes bytes_of(const std::string& path) {
  const std::string text = test::slurp(path);
  return test::Bytes(text.begin(), text.end());
}

// fls's view of a volume: "[root]\dir\name" (" (deleted)" added) -> its
// ENTRY-TYPE-ID, for the files of the volume's unnamed data streams.
std::map<std::string, std::string> fls_identities(const std::string& image) {
  std::map<std::string, std::string> ids;
  for (const test::FlsName& n : test::fls_names(image, 0))
    if (!n.reallocated && n.id.find("-128-") != std::string::npos) ids[n.path + (n.deleted ? " (deleted)" : "")] = n.id;
  return ids;
}

class VolumeProvenance : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    test::ScratchDirTest::SetUp();
    if (!test::unpack_ntfs_fixtures(dir_)) GTEST_SKIP() << "tar with xz is needed to unpack the fixture volumes";
    image_ = (dir_ / "ntfs_compressed.img").string();
  }
  std::string image_;
};

// Each record of the evidence volume (allocated shortcuts, a jump list,
// deleted ones three folders deep, one whose folder chain broke) is named by
// the path fls gives it and identified by fls's ENTRY-128-ID; mactime lists
// those paths; the text report and JSON carry the same path and entry.
TEST_F(VolumeProvenance, BodyFileTextAndJsonNameThePathInTheVolume) {
  if (!test::have_tools({"fls", "mactime"})) GTEST_SKIP() << "sleuthkit is needed";
  const std::map<std::string, std::string> fls = fls_identities(image_);
  ASSERT_FALSE(fls.empty());

  const test::CommandResult body = run({image_, "-ntfs_scan", "-bodyfile", "-quiet"});
  ASSERT_EQ(body.status, 0) << body.err;
  std::vector<std::string> lines = result_lines(body.out);
  ASSERT_FALSE(lines.empty());
  lines.erase(lines.begin());  // the body file's header
  std::vector<std::string> paths;
  size_t deleted = 0;
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = test::split_fields(line, "|");
    ASSERT_EQ(fields.size(), 11u) << line;
    const size_t arrow = fields[1].find(" -> ");
    ASSERT_NE(arrow, std::string::npos) << line;
    const std::string path = fields[1].substr(0, arrow);
    EXPECT_TRUE(contains(fields[1], " (LNK TARGET)")) << line;
    // The orphan's folder chain is broken, so fls files it elsewhere.
    if (contains(path, "<path corrupted>")) continue;
    const auto listed = fls.find(path);
    ASSERT_NE(listed, fls.end()) << "fls lists no " << path;
    EXPECT_EQ(fields[2], listed->second) << path;
    paths.push_back(path);
    deleted += contains(path, " (deleted)");
  }
  EXPECT_GE(paths.size(), 7u);
  EXPECT_GE(deleted, 3u);

  const std::string body_file = test::write_file(dir_ / "body.txt", body.out);
  const std::string timeline = test::shell("mactime -b " + test::q(body_file) + " -d").out;
  for (const std::string& path : paths) EXPECT_TRUE(contains(timeline, path)) << path;

  // One location line per record, after the lines naming the source: the
  // path and the entry fls gives.
  const std::vector<std::string> text = result_lines(run({image_, "-ntfs_scan", "-quiet"}).out);
  size_t located = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i].rfind("location in volume:", 0) != 0) continue;
    ++located;
    EXPECT_TRUE(i > 0 && text[i - 1].rfind("source path/filename:", 0) == 0) << text[i];
    const std::string value = text[i].substr(26);
    const size_t numbers = value.find(" [MFT entry 0x");
    ASSERT_NE(numbers, std::string::npos) << value;
    const auto listed = fls.find(value.substr(0, numbers));
    if (listed == fls.end()) {
      EXPECT_TRUE(contains(value, "<path corrupted>")) << value;
      continue;
    }
    EXPECT_EQ(std::stoull(value.substr(numbers + 14, 8), nullptr, 16), std::stoull(listed->second)) << value;
  }
  EXPECT_EQ(located, lines.size());

  const std::string json = run({image_, "-ntfs_scan", "-json", "-quiet"}).out;
  EXPECT_EQ(test::split_lines(json).size(), lines.size());
  for (const std::string& shown : paths) {
    const bool gone = contains(shown, " (deleted)");
    const std::string keys = "\"volume_path\":\"" + test::json_escaped(shown.substr(0, shown.size() - (gone ? 10 : 0))) +
                             "\",\"deleted\":" + (gone ? "true" : "false");
    EXPECT_TRUE(contains(json, keys)) << shown;
  }
}

// Records carved from free clusters name the pass, and have no MFT entry.
TEST_F(VolumeProvenance, CarvedRecordsNameTheirPass) {
  const std::string small = (dir_ / "ntfs_small.img").string();
  const std::string text = run({small, "-ntfs_scan", "-include_unalloc_clusters", "-quiet"}).out;
  EXPECT_TRUE(contains(text, "\nlocation in volume:       Unalloc (carved)\n")) << text.substr(0, 2000);
  EXPECT_TRUE(contains(run({small, "-ntfs_scan", "-include_unalloc_clusters", "-json", "-quiet"}).out,
                       "\"carved_from\":\"Unalloc\""));
}

class ColumnsAndText : public test::ScratchDirTest {};

// A jump list whose one shortcut stream is the sample, large enough to be
// read as one.
test::Bytes built_jump_list() {
  test::Bytes stream = bytes_of(kSample);
  stream.resize(5000, 0);
  return test::simple_jump_list({stream});
}

// The header takes the jump-list columns from any member of the list, told
// by its name or, renamed, by its content; the shortcut listed first gets
// empty cells there. A jump list found only while reading (inside a file
// under -deepscan) is counted and named once on standard error.
TEST_F(ColumnsAndText, CsvColumnsFromEveryFileOfThePipeList) {
  const std::string named =
      test::write_file(dir_ / "5f7b5f1e01b83767.automaticDestinations-ms", built_jump_list());
  const std::string renamed = test::write_file(dir_ / "list.bin", built_jump_list());
  for (const std::string& list : {named, renamed}) {
    const test::CommandResult r = run({"-pipe", "-csv", "-quiet"}, kSample + "\n" + list + "\n");
    const std::vector<std::string> rows = result_lines(r.out);
    ASSERT_GE(rows.size(), 3u) << r.out;
    EXPECT_TRUE(contains(rows[0], ",appid,MRU/MFU,stream#,")) << list;
    const std::vector<std::string> shortcut = test::split_fields(rows[1], ","), entry = test::split_fields(rows[2], ",");
    ASSERT_EQ(shortcut.size(), entry.size());
    EXPECT_EQ(shortcut[2] + "|" + entry[2] + "|" + entry[3],
              (list == named ? "|5f7b5f1e01b83767 [Quick Access]|na" : "||na")) << rows[2];
    EXPECT_EQ(r.err, "");
  }

  test::Bytes blob = bytes_of(kSample);
  const test::Bytes list = built_jump_list();
  blob.insert(blob.end(), list.begin(), list.end());
  const std::string inside = test::write_file(dir_ / "blob.bin", blob);
  const test::CommandResult deep = run({inside, "-deepscan", "-csv", "-quiet"});
  EXPECT_EQ(deep.err, "1 record carried jump-list fields that the CSV header lacks; -json keeps every field\n");
  EXPECT_FALSE(contains(result_lines(deep.out)[0], "appid"));
  EXPECT_EQ(run({inside, "-deepscan", "-json", "-quiet"}).err, "");
}

// A volume whose MFT lists a shortcut (entry 16) before a jump list
// (entry 17), each file's data in clusters of its own.
test::Bytes volume_shortcut_then_jump_list() {
  test::VolumeLayout layout;
  test::VolumeImage image = test::basic_volume(layout, {});
  const uint32_t cluster = image.cluster_size();
  const std::pair<const char*, test::Bytes> files[] = {
      {"a.lnk", bytes_of(kSample)}, {"5f7b5f1e01b83767.automaticDestinations-ms", built_jump_list()}};
  uint64_t entry = 16, next_cluster = 32;
  for (const auto& [name, data] : files) {
    const uint64_t clusters = (data.size() + cluster - 1) / cluster;
    image.put_cluster(next_cluster, data);
    const test::Bytes runs = test::encode_runs({{clusters, static_cast<int64_t>(next_cluster)}});
    image.put_record(entry, test::file_record(make_reference(5, 5), name,
                                              {test::nonresident_attribute(kAttrData, runs, data.size(),
                                                                           clusters * cluster, "", 2)},
                                              1, 1, image.record_size()));
    ++entry;
    next_cluster += clusters;
  }
  return image.bytes();
}

// A volume scan reads the MFT's names before its first record, so a
// shortcut listed before a jump list still gets the jump-list columns.
TEST_F(ColumnsAndText, CsvColumnsFromWhatAVolumeHolds) {
  const std::string image = test::write_file(dir_ / "volume.img", volume_shortcut_then_jump_list());
  const test::CommandResult r = run({image, "-ntfs_scan", "-csv", "-quiet"});
  const std::vector<std::string> rows = result_lines(r.out);
  ASSERT_GE(rows.size(), 3u) << r.out << r.err;
  EXPECT_TRUE(contains(rows[0], ",appid,MRU/MFU,stream#,")) << rows[0];
  EXPECT_EQ(test::split_fields(rows[1], ",")[1], "[root]\\a.lnk");
  EXPECT_EQ(r.err, "");
}

// The first line that is not UTF-8, or "" when every line is.
std::string first_line_not_utf8(const std::string& text) {
  for (const std::string& line : test::split_lines(text)) {
    for (size_t i = 0, length = 1; i < line.size(); i += length) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      bool ok = length != 0 && i + length <= line.size();
      for (size_t k = 1; ok && k < length; ++k) ok = (static_cast<unsigned char>(line[i + k]) & 0xC0) == 0x80;
      if (!ok) return line;
    }
  }
  return "";
}

// The whole corpus through every layout without -codepage: ANSI texts of
// many code pages, shell items, jump lists; no line that is not UTF-8. The
// CSV has one row of the header's width per record of the text report.
TEST_F(ColumnsAndText, EveryLineOfEveryLayoutOverTheCorpusIsUtf8) {
  const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "the sample corpus is absent";
  std::string names = kSample + "\n";
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (entry.is_regular_file()) names += entry.path().string() + "\n";
  size_t records = 0;
  for (const char* layout : {"-text", "-csv", "-csvl2t", "-bodyfile", "-json", "-timesketch"}) {
    std::vector<std::string> args{"-pipe", "-quiet"};
    if (std::string(layout) != "-text") args.push_back(layout);
    const test::CommandResult r = run(args, names);
    EXPECT_EQ(first_line_not_utf8(r.out), "") << layout;
    EXPECT_GT(r.out.size(), 100000u) << layout;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << layout;
    for (const std::string& line : test::split_lines(r.out)) records += line.rfind("source path/filename:", 0) == 0;
    if (std::string(layout) != "-csv") continue;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> rows = result_lines(r.out);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.size(), records + 1);
    const size_t columns = test::split_fields(rows[0], ",").size();
    for (const std::string& row : rows) EXPECT_EQ(test::split_fields(row, ",").size(), columns) << row;
  }
}

}  // namespace
}  // namespace lnk

// The Timesketch events a record gives and the HTML report's guard against
// what the evidence says. tools/check_timesketch.py and tools/check_html.py
// check both over the corpus in every input mode, and in a browser.
#include <filesystem>
#include <sstream>

#include "report/html_report.h"
#include "report/record_values.h"
#include "report/timesketch_report.h"
#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::kJan2;
using test::kJune5;
using test::kMar1;

// A FILETIME of 1969: not a valid instant.
constexpr uint64_t kBefore1970 = test::kUnixEpoch - 864000000000ULL;

std::vector<std::string> event_texts(const LnkRecord& record, const SourceInfo& source, const useropts& options) {
  std::vector<std::string> texts;
  const RecordValues values = derive_record_values(record, source, options);
  for (const RecordEvent& e : record_events(record, source, options, values)) {
    const char* times = e.times == EventTimes::target ? "target" : e.times == EventTimes::source_file ? "file" : "id";
    texts.push_back(std::string(times) + " " + e.event.marks + " " + e.event.type_text);
  }
  return texts;
}

TEST(TimesketchEvents, EachGroupOfTimesMergedOnItsOwn) {
  LnkRecord shortcut;
  shortcut.header.write_time = shortcut.header.creation_time = kJune5;
  shortcut.header.access_time = kJan2;
  shortcut.droid_time = kMar1;
  shortcut.birth_droid_time = kMar1;
  LnkRecord entry = shortcut;
  entry.jumplist_kind = JumplistKind::with_destlist;
  entry.mru_time = kJan2;
  entry.birth_droid_time = kJune5;
  LnkRecord slack = entry;
  slack.from_slack = true;
  slack.mru_time = 0;
  slack.droid_time = kBefore1970;

  SourceInfo file;
  file.source_modified = file.source_accessed = kMar1;
  file.source_created = kJan2;
  SourceInfo volume_file = file;  // found through the MFT
  volume_file.mft_scan = true;
  volume_file.src_inode = 64;
  volume_file.source_mft_changed = kMar1;
  SourceInfo volume_clusters = volume_file;  // carved from free clusters
  volume_clusters.src_inode = 0;

  const useropts plain = test::options_for({"-timesketch"});
  const useropts rawscan = test::options_for({"-timesketch", "-rawscan"});
  const std::vector<std::string> target = {"target M..B Last Modified; Created", "target .A.. Last Access"};
  // The MRU time merges into the access time's event.
  const std::string access_mru = "target .AC. Last Access; MRU Time";
  const std::vector<std::string> own = {"file ...B Source File Created",
                                        "file MA.. Source File Modified; Source File Accessed"};
  const std::string object = "id  ObjectID Time", birth = "id  Birth ObjectID Time";
  const struct {
    const char* name;
    const LnkRecord& record;
    const SourceInfo& source;
    const useropts& options;
    std::vector<std::string> expected;
  } cases[] = {
      {"shortcut file", shortcut, file, plain, {target[0], target[1], own[0], own[1], object}},
      {"jump-list entry", entry, file, plain, {target[0], access_mru, own[0], own[1], object, birth}},
      {"entry from slack", slack, file, plain, {target[0], target[1], own[0], own[1], birth}},
      {"carved from an image", shortcut, file, rawscan, {target[0], target[1], object}},
      {"jump list carved", entry, file, rawscan, {target[0], access_mru, own[0], own[1], object, birth}},
      {"file on a volume", shortcut, volume_file, plain,
       {target[0], target[1], own[0], "file MAC. Source File Modified; Source File Accessed; Source File MFT Changed",
        object}},
      {"volume clusters", shortcut, volume_clusters, plain, {target[0], target[1], object}},
  };
  for (const auto& c : cases) EXPECT_EQ(event_texts(c.record, c.source, c.options), c.expected) << c.name;
}

// Whatever a record holds, the page's own four scripts are the only markup
// the data can end in, and every text of the run header reads as text.
TEST(HtmlReport, EvidenceTextsCannotBecomeMarkup) {
  const std::string hostile = "</script><script>alert(1)</script><!--<b a=\"'\">&amp;\xff";
  LnkRecord record;
  record.relative_path = hostile;
  record.name_string = "</SCRIPT ><!-- -->";
  record.header.write_time = kJune5;
  SourceInfo source;
  source.opened_path = source.source_path = "E:\\" + hostile + ".lnk";
  const useropts o = test::options_for({});
  std::ostringstream out;
  HtmlReport report(out, o);
  report.begin_run("command: \"rook " + hostile + "\"\n");
  const std::string incomplete = out.str();
  for (int i = 0; i < 2; ++i) report.add(record, source, derive_record_values(record, source, o));
  report.end_run();
  const std::string page = out.str();

  EXPECT_EQ(incomplete.find("rook-records"), std::string::npos);
  EXPECT_NE(incomplete.find("the report file is incomplete"), std::string::npos);
  EXPECT_NE(page.find("command: &quot;rook &lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;&lt;!--&lt;b a="
                      "&quot;&#39;&quot;&gt;&amp;amp;\xef\xbf\xbd&quot;"),
            std::string::npos);
  size_t scripts = 0, closes = 0;
  std::string lowered = page;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t at = 0; (at = lowered.find("<script", at)) != std::string::npos; ++at) ++scripts;
  for (size_t at = 0; (at = lowered.find("</script", at)) != std::string::npos; ++at) ++closes;
  EXPECT_EQ(scripts, 4u);
  EXPECT_EQ(closes, 4u);
  EXPECT_EQ(lowered.find("<!--"), std::string::npos);
  EXPECT_EQ(page.find('\xff'), std::string::npos);
  EXPECT_NE(page.find("\"records\":2,"), std::string::npos);
}

class HtmlRun : public test::ScratchDirTest {};

// The page is finished however the run ends, and never shares a file with
// the results.
TEST_F(HtmlRun, EndsWholeAndHasAFileOfItsOwn) {
  const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
  const std::string page = (dir_ / "report.html").string();
  test::CommandResult r = run({sample, "-html", page});
  EXPECT_EQ(r.status, 0);
  std::string written = test::slurp_text(page);
  EXPECT_NE(written.find("\"records\":1,"), std::string::npos);
  EXPECT_EQ(written.substr(written.size() - 8), "</html>\n");
  // No NTFS volume in a shortcut file: the run ends with status -1 and the
  // page of the run before stays as it was.
  r = run({sample, "-ntfs_scan", "-html", page});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(test::slurp_text(page), written);

  r = run({sample, "-csv", "-out", page, "-html", (dir_ / "." / "report.html").string()});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(test::contains(r.err, "-out names it too, aborting")) << r.err;
}

}  // namespace
}  // namespace lnk

// Evidence is never written: the results file, the -diags log and the
// -outdir dumps leave every input as it was, whatever the command line says.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "carve/process_file.h"
#include "carve/record_dump.h"
#include "lnk/parse_lnk.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

struct Snapshot {
  std::string bytes;
  fs::file_time_type modified{};
  // The inode change time, which any write or link moves (POSIX only).
  int64_t changed_seconds = 0;
  int64_t changed_nanoseconds = 0;
  bool operator==(const Snapshot& other) const = default;
};

// Bytes and the times a write would move (the access time is the kernel's
// to keep, under relatime, and says nothing about writes).
Snapshot snapshot(const fs::path& path) {
  Snapshot s;
  s.bytes = test::slurp(path);
  s.modified = fs::last_write_time(path);
#ifndef _WIN32
  struct stat st {};
  ::stat(path.c_str(), &st);
  s.changed_seconds = st.st_ctim.tv_sec;
  s.changed_nanoseconds = st.st_ctim.tv_nsec;
#endif
  return s;
}

class Evidence : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    evidence_ = test::write_file(dir_ / "evidence.lnk", test::sample_shortcut());
    before_ = snapshot(evidence_);
  }
  void expect_untouched() { EXPECT_TRUE(snapshot(evidence_) == before_) << "the evidence changed"; }

  std::string evidence_;
  Snapshot before_;
};

TEST_F(Evidence, ResultsFileOrLogNamingAnInputIsRefused) {
  const std::string refused = "prob opening file " + evidence_ + " for output: it is the input ";
  const std::string other_name = (dir_ / "." / "evidence.lnk").string();
  fs::create_hard_link(evidence_, dir_ / "hardlink.lnk");
  before_ = snapshot(evidence_);  // a new link moves the change time
  const struct { std::vector<std::string> args; std::string input; std::string named; } cases[] = {
      {{evidence_, "-out", evidence_}, "", evidence_},
      {{"-csv", other_name, "-out", evidence_}, "", other_name},
      {{(dir_ / "hardlink.lnk").string(), "-out", evidence_}, "", (dir_ / "hardlink.lnk").string()},
      {{"-rawscan", evidence_, "-outfile", evidence_}, "", evidence_},
      // A file listed on standard input, among others.
      {{"-pipe", "-csv", "-out", evidence_}, "/nonexistent/a.lnk\n" + evidence_ + "\n", evidence_},
      // The HTML report, written beside the layout, is a results file too.
      {{evidence_, "-html", evidence_}, "", evidence_},
      {{"-pipe", "-timesketch", "-html", evidence_}, other_name + "\n", other_name},
      {{"-pipe", "-diags", evidence_}, evidence_ + "\n", evidence_},
  };
  for (const auto& c : cases) {
    test::CommandResult r = run(c.args, c.input);
    EXPECT_EQ(r.status, 255) << c.args[0];
    EXPECT_TRUE(test::contains(r.err, refused + c.named + ", aborting\n")) << r.err;
    EXPECT_EQ(r.out, "");
    expect_untouched();
  }
}

// "rook -csv -out ev.lnk": the output name was forgotten, so the evidence
// was taken for the results file and there is no input. The usage is shown
// and the file stays as it was.
TEST_F(Evidence, ForgottenOutputNameLeavesTheFileAlone) {
  for (const char* option : {"-out", "-html"}) {
    test::CommandResult r = run({"-csv", option, evidence_});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(test::contains(r.err, "Usage")) << option;
    expect_untouched();
  }
}

TEST_F(Evidence, AnExistingResultsFileThatIsNoInputIsReplaced) {
  const fs::path results = dir_ / "results.csv";
  test::write_file(results, std::string(5000, 'x'));
  test::CommandResult r = run({evidence_, "-csv", "-out", results.string()});
  EXPECT_EQ(r.status, 0);
  const std::string written = test::slurp_text(results);
  EXPECT_EQ(written.rfind("rook ver: 0.85\n", 0), 0u);
  EXPECT_EQ(written.find('x' + std::string(10, 'x')), std::string::npos) << "the old contents were kept";
  expect_untouched();
}

// Every layout and scan reads the input and writes nothing to it.
TEST_F(Evidence, InputsAreOnlyRead) {
  const fs::path dumps = dir_ / "dumps";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {evidence_},
           {evidence_, "-csv", "-idltimes"},
           {evidence_, "-csvl2t"},
           {evidence_, "-bodyfile"},
           {evidence_, "-rawscan", "-outdir", dumps.string()},
           {evidence_, "-deepscan", "-outdir", dumps.string()}}) {
    EXPECT_EQ(run(args).status, 0);
    expect_untouched();
  }
  EXPECT_EQ(run({"-pipe", "-outdir", dumps.string()}, evidence_ + "\n").status, 0);
  expect_untouched();
}

// -outdir never writes over a file already in the folder: a second run into
// the same folder leaves the first run's dumps as they were.
TEST_F(Evidence, RecordDumpsNeverReplaceAFile) {
  const fs::path dumps = dir_ / "dumps";
  ASSERT_EQ(run({evidence_, "-outdir", dumps.string()}).status, 0);
  const fs::path first = dumps / record_dump_name(1, 0, static_cast<uint32_t>(before_.bytes.size()));
  ASSERT_TRUE(fs::exists(first));
  test::write_file(first, std::string("kept"));
  ASSERT_EQ(run({evidence_, "-outdir", dumps.string()}).status, 0);
  EXPECT_EQ(test::slurp(first), "kept");
}

// The dump of every corpus shortcut is the bytes of its record as they lie
// in the file, whatever the decoder made of them.
TEST(RecordDumps, CorpusDumpsEqualTheRecordBytes) {
  const fs::path root = testing::corpus_path("lnk");
  if (!fs::is_directory(root)) GTEST_SKIP() << "corpus absent";
  const fs::path dumps = test::make_scratch_dir("dumps");
  useropts options;
  size_t compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::vector<uint8_t> bytes = testing::read_bytes(entry.path().string());
    LnkRecord record;
    if (!parse_lnk_record(record, bytes, 0)) continue;
    fs::remove_all(dumps);
    fs::create_directories(dumps);
    RecordOutlet outlet(nullptr, dumps.string());
    process_shortcut_file(entry.path().string(), SourceInfo{}, options, outlet);
    outlet.commit_dumps();
    const fs::path dump = dumps / record_dump_name(1, 0, record.parsed_size);
    ASSERT_TRUE(fs::exists(dump)) << entry.path();
    EXPECT_EQ(testing::read_bytes(dump.string()),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + record.parsed_size))
        << entry.path();
    ++compared;
  }
  fs::remove_all(dumps);
  EXPECT_GT(compared, 900u);
  std::printf("dumps compared with their records: %zu\n", compared);
}

}  // namespace
}  // namespace lnk

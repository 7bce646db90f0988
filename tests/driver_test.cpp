// Runs the built program as a child process and checks what a user sees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cmdline/usage.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -100;
  std::string out;
  std::string err;
};

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class DriverTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("rook_driver_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  RunResult run(const std::vector<std::string>& args, const std::string& input = "") {
    std::ofstream(dir_ / "stdin", std::ios::binary) << input;
    std::string command = quoted(ROOK_BINARY);
    for (const auto& a : args) command += " " + quoted(a);
    command += " <" + quoted((dir_ / "stdin").string()) + " >" + quoted((dir_ / "stdout").string()) +
               " 2>" + quoted((dir_ / "stderr").string());
    RunResult r;
    int raw = std::system(command.c_str());
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = slurp(dir_ / "stdout");
    r.err = slurp(dir_ / "stderr");
    return r;
  }

  std::string file(const std::string& name, const std::string& content = "not a shortcut") {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }

  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  static std::string without_admin_notice(std::string err) {
    const std::string notice = "... running w/o admin privileges ...\n";
    if (err.rfind(notice, 0) == 0) err.erase(0, notice.size());
    return err;
  }

  fs::path dir_;
};

TEST_F(DriverTest, HelpAndEmptyLineShowUsageAndSucceed) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"x.lnk", "-HELP"}, {"-csv", "/?"}, {"--help", "-deepscan", "-rawscan"}}) {
    RunResult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, usage_text());
    EXPECT_EQ(r.out, "");
  }
  // Title and version follow the rule line.
  const std::string top = std::string(77, '-') + "\n\nrook ver: 0.85\n\nUsage\n";
  EXPECT_EQ(usage_text().substr(0, top.size()), top);
}

TEST_F(DriverTest, OptionsWithoutInputShowUsageAndFail) {
  RunResult r = run({"-csv"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), usage_text());
  // The run header comes first, even for CSV, followed by an empty line.
  EXPECT_EQ(r.out.rfind("rook ver: 0.85\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "\"" + std::string(ROOK_BINARY) + " -csv\"\n\n"));
}

TEST_F(DriverTest, MissingInputIsReportedWithStatusZero) {
  std::string missing = (dir_ / "nope.lnk").string();
  RunResult r = run({missing, "-csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_admin_notice(r.err), "can't read specified file: " + missing + ", aborting\n");

  // An unknown option before the name becomes the input name.
  r = run({"-bogus", missing});
  EXPECT_EQ(without_admin_notice(r.err), "can't read specified file: -bogus, aborting\n");

  ::setenv("ROOK_DRIVER_DIR", dir_.string().c_str(), 1);
  r = run({"%ROOK_DRIVER_DIR%/nope.lnk"});
  EXPECT_EQ(without_admin_notice(r.err), "can't read specified file: " + missing + ", aborting\n");
}

TEST_F(DriverTest, OptionConflictsEndTheRun) {
  RunResult r = run({"-deepscan", "-rawscan", "x"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err),
            "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
            "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
            "\t[-deepscan] is used for individual files\n");
  EXPECT_EQ(r.out, "");

  r = run({"-sqlite", "db", "x"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "This option is not offered in this build\n");
}

TEST_F(DriverTest, SingleInputModes) {
  std::string input = file("data.bin");
  RunResult r = run({input, "-rawscan", "-quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_admin_notice(r.err), "");
  EXPECT_TRUE(r.out.size() > 2 && r.out.substr(r.out.size() - 2) == "\n\n");

  // A folder has a status but does not open as an image.
  const std::string folder = dir_.string();
  r = run({"-csv", "-rawscan", folder});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_admin_notice(r.err),
            "file: " + folder + " [using large file scan]\nproblem reading " + folder + ", aborting\n");

  r = run({"-ntfs_scan", input});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "NTFS volume access is not available in this build\n");

  // Options before or after the name give the same result.
  RunResult before = run({"-csv", input});
  RunResult after = run({input, "-csv"});
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.err, after.err);
}

TEST_F(DriverTest, ResultsFileTakesTheOutput) {
  std::string input = file("data.bin");
  std::string results = (dir_ / "results.txt").string();
  RunResult r = run({input, "-out", results});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  std::string written = slurp(results);
  EXPECT_EQ(written.rfind("rook ver: 0.85\n", 0), 0u);

  std::string unwritable = (dir_ / "no" / "r.txt").string();
  r = run({input, "-out", unwritable});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "prob opening file " + unwritable + " for output, aborting\n");
}

TEST_F(DriverTest, ShadowCopyAndPartitionNeedAdministrator) {
  const std::string device = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2";
  RunResult r = run({"-vss", "2"});
  RunResult raw = run({"-vss", "2", "-rawscan"});
  RunResult part = run({"-partition", "c", "-deepscan"});
  // The deepscan test comes before the privilege test.
  EXPECT_EQ(part.status, 255);
  EXPECT_EQ(without_admin_notice(part.err), "can't use option [-deepscan] with partitions\n");
  if (::geteuid() != 0) {
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err,
              "... running w/o admin privileges ...\n"
              "need to have admin privs for this option, aborting\n");
    EXPECT_EQ(raw.status, 255);
    return;
  }
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "defaulting to -ntfs_scan option\nprob validating volume " + device +
                       " as a NTFS partition, aborting...\n");
  EXPECT_EQ(raw.status, 255);
  EXPECT_EQ(raw.err, "problem reading " + device + ", aborting\n");

  r = run({"-partition", "z"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "defaulting to -ntfs_scan option\nproblem reading z, aborting\n");
}

TEST_F(DriverTest, VmdkSet) {
  RunResult r = run({"-vmdk", "a.vmdk | b.vmdk", "-vmdk", "c.vmdk", "-deepscan"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(contains(r.out, "can't use option [-deepscan] with VMWare disks\n"));
  EXPECT_FALSE(contains(r.err, "VMWare"));

  r = run({"-vmdk", "a.vmdk;b.vmdk"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "VMware disk access is not available in this build\n");

  // A list with no names falls through to the next modes.
  r = run({"-vmdk", " | "});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), usage_text());
}

TEST_F(DriverTest, PipeReadsNamesFromStandardInput) {
  RunResult r = run({"-pipe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("rook ver: 0.85\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "\"<filelist> ... | "));
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");

  std::string present = file("a.lnk");
  std::string missing = (dir_ / "b.lnk").string();
  std::string skipped = (dir_ / "c.txt").string();
  r = run({"-pipe", "-quiet", "-filter", "*.lnk"}, present + "\r\n" + skipped + "\n\n" + missing + "\r");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_admin_notice(r.err), "prob accessing file " + missing + "\n");

  const std::string folder = dir_.string();
  r = run({"-pipe", "-quiet", "-rawscan"}, folder + "\n" + present + "\n" + folder + "\n");
  EXPECT_EQ(without_admin_notice(r.err),
            "problem reading " + folder + ", aborting\nproblem reading " + folder + ", aborting\n");
  EXPECT_TRUE(contains(r.out, "file: " + folder + " [using large file scan]\nlnk offset, "));
}

TEST_F(DriverTest, EndOfRunProfileAndSignal) {
  std::string input = file("data.bin");
  std::string event = "/rook_test_" + std::to_string(::getpid());
  ::sem_unlink(event.c_str());
  RunResult r = run({input, "-profile", "-signal", event});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, " secs \n"));
  sem_t* sem = ::sem_open(event.c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  EXPECT_EQ(::sem_trywait(sem), 0);
  ::sem_close(sem);
  ::sem_unlink(event.c_str());

  // A -1 ending leaves before the end-of-run steps.
  r = run({"-ntfs_scan", input, "-profile"});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(contains(r.err, " secs "));
}

TEST_F(DriverTest, DiagnosticLogNamesPipedFiles) {
  std::string present = file("a.lnk");
  std::string log = (dir_ / "diag.txt").string();
  RunResult r = run({"-pipe", "-diags", log}, present + "\n");
  EXPECT_EQ(r.status, 0);
  std::string text = slurp(log);
  EXPECT_EQ(text, "->" + std::string(ROOK_BINARY) + " -pipe -diags " + log + "\n->" + present + "\n");
}

}  // namespace
}  // namespace lnk

// Runs the built program as a child process and checks what a user sees.
#ifndef _WIN32
#include <semaphore.h>
#endif
#include "tests/set_environment.h"

#include "cmdline/run_report.h"
#include "cmdline/usage.h"
#include "platform/platform.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::contains;

std::string without_admin_notice(std::string err) {
  const std::string notice = "... running w/o admin privileges ...\n";
  if (err.rfind(notice, 0) == 0) err.erase(0, notice.size());
  return err;
}

class DriverTest : public test::ScratchDirTest {
 protected:
  std::string file(const std::string& name) { return test::write_file(dir_ / name, std::string("not a shortcut")); }
};

TEST_F(DriverTest, HelpAndEmptyLineShowUsageAndSucceed) {
  // Asked for, the usage goes to standard output; an empty line gets it on
  // standard error like every other usage ending.
  test::CommandResult r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, usage_text());
  EXPECT_EQ(r.out, "");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"x.lnk", "-HELP"}, {"-csv", "/?"}, {"--help", "-deepscan", "-rawscan"}}) {
    r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage_text());
    EXPECT_EQ(r.err, "");
  }
  // Title and version follow the rule line.
  const std::string top = std::string(77, '-') + "\n\nrook ver: 0.85\n\nUsage\n";
  EXPECT_EQ(usage_text().substr(0, top.size()), top);
}

// What each command line ends with: exit status and standard error.
TEST_F(DriverTest, StatusAndMessagesOfEachEnding) {
  const std::string input = file("data.bin");
  const std::string missing = (dir_ / "nope.lnk").string();
  const std::string folder = dir_.string();
  const std::string unwritable = (dir_ / "no" / "r.txt").string();
  ::setenv("ROOK_DRIVER_DIR", folder.c_str(), 1);
  const std::string unread = "done: 0 sources read, 0 records written, 1 skipped (1 cannot be read)\n";
  const struct { std::vector<std::string> args; int status; std::string err; } cases[] = {
      {{"-csv"}, 255, usage_text()},
      {{"%ROOK_DRIVER_DIR%/nope.lnk"}, 255, "can't read specified file: " + folder + "/nope.lnk, aborting\n" + unread},
      {{"-deepscan", "-rawscan", "x"}, 255,
       "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
       "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
       "\t[-deepscan] is used for individual files\n"},
      {{"-sqlite", "db", "x"}, 255, "This option is not offered in this build\n"},
      {{input, "-rawscan", "-quiet"}, 0, ""},
      // A folder has a status but does not open as an image.
      {{"-csv", "-rawscan", folder}, 255,
       "file: " + folder + " [using large file scan]\nproblem reading " + folder + ", aborting\n" +
           directory_hint(folder) + "done: 0 sources read, 0 records written, 1 skipped (1 directory)\n"},
            // A file that is no volume and holds no partition table.
      {{"-ntfs_scan", input}, 255, "couldn't find any partitions on disk\n"},
      {{input, "-out", unwritable}, 255, "prob opening file " + unwritable + " for output, aborting\n"},
      // The deepscan test comes before the privilege test.
      {{"-partition", "c", "-deepscan"}, 255, "can't use option [-deepscan] with partitions\n"},
      {{"-vmdk", "a.vmdk;b.vmdk"}, 255, "a.vmdk can't be opened\n"},
      // A list with no names falls through to the next modes.
      {{"-vmdk", " | "}, 255, usage_text()},
  };
  for (const auto& c : cases) {
    test::CommandResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(without_admin_notice(r.err), c.err) << c.args[0];
  }
}

TEST_F(DriverTest, RunHeaderComesFirstAndEndsWithAnEmptyLine) {
  test::CommandResult r = run({"-csv"});
  EXPECT_EQ(r.out.rfind("rook ver: 0.85\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "\"" + std::string(ROOK_BINARY) + " -csv\"\n\n"));
  r = run({file("data.bin"), "-rawscan", "-quiet"});
  EXPECT_TRUE(r.out.size() > 2 && r.out.substr(r.out.size() - 2) == "\n\n");
  EXPECT_EQ(run({"-deepscan", "-rawscan", "x"}).out, "");
  // Options before or after the name give the same result.
  const std::string input = file("data.bin");
  test::CommandResult before = run({"-csv", input});
  test::CommandResult after = run({input, "-csv"});
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.err, after.err);
  // A results file takes the output.
  const std::string results = (dir_ / "results.txt").string();
  r = run({input, "-out", results});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::slurp_text(results).rfind("rook ver: 0.85\n", 0), 0u);
}

TEST_F(DriverTest, ShadowCopyAndPartitionNeedAdministrator) {
  const std::string device = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2";
  test::CommandResult r = run({"-vss", "2"});
  test::CommandResult raw = run({"-vss", "2", "-rawscan"});
  EXPECT_EQ(raw.status, 255);
  if (!platform::is_administrator()) {
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "... running w/o admin privileges ...\nneed to have admin privs for this option, aborting\n");
    return;
  }
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "defaulting to -ntfs_scan option\nprob validating volume " + device +
                       " as a NTFS partition, aborting...\n"
                       "done: 0 sources read, 0 records written, 1 skipped (1 cannot be read)\n");
  EXPECT_EQ(raw.err, "problem reading " + device + ", aborting\n");
  r = run({"-partition", "z"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "defaulting to -ntfs_scan option\nproblem reading z, aborting\n");
}

TEST_F(DriverTest, VmdkDeepscanMessageGoesToTheResults) {
  test::CommandResult r = run({"-vmdk", "a.vmdk | b.vmdk", "-vmdk", "c.vmdk", "-deepscan"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(contains(r.out, "can't use option [-deepscan] with VMWare disks\n"));
  EXPECT_FALSE(contains(r.err, "VMWare"));
}

TEST_F(DriverTest, PipeReadsNamesFromStandardInput) {
  test::CommandResult r = run({"-pipe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("rook ver: 0.85\n", 0), 0u);
  EXPECT_TRUE(contains(r.out, "\"<filelist> ... | "));
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");

  const std::string present = file("a.lnk");
  const std::string missing = (dir_ / "b.lnk").string();
  const std::string skipped = (dir_ / "c.txt").string();
  r = run({"-pipe", "-quiet", "-filter", "*.lnk"}, present + "\r\n" + skipped + "\n\n" + missing + "\r");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "prob accessing file " + missing + "\n");

  const std::string folder = dir_.string();
  r = run({"-pipe", "-quiet", "-rawscan"}, folder + "\n" + present + "\n" + folder + "\n");
  // -quiet leaves out hints and the summary, never the messages.
  EXPECT_EQ(without_admin_notice(r.err),
            "problem reading " + folder + ", aborting\nproblem reading " + folder + ", aborting\n");
  EXPECT_TRUE(contains(r.out, "file: " + folder + " [using large file scan]\nlnk offset, "));
}

TEST_F(DriverTest, EndOfRunProfileSignalAndDiagnosticLog) {
  const std::string input = file("a.lnk");
#ifdef _WIN32
  // The waiting side creates the event, as a script waiting for rook would.
  const std::string event = "rook_test_" + std::to_string(::_getpid());
  HANDLE waiting = CreateEventW(nullptr, TRUE, FALSE, platform::utf8_to_wide(event).c_str());
  ASSERT_NE(waiting, nullptr);
  test::CommandResult r = run({input, "-profile", "-signal", event});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, " secs \n"));
  EXPECT_EQ(WaitForSingleObject(waiting, 0), WAIT_OBJECT_0);
  CloseHandle(waiting);
#else
  const std::string event = "/rook_test_" + std::to_string(::getpid());
  ::sem_unlink(event.c_str());
  test::CommandResult r = run({input, "-profile", "-signal", event});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.err, " secs \n"));
  sem_t* sem = ::sem_open(event.c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  EXPECT_EQ(::sem_trywait(sem), 0);
  ::sem_close(sem);
  ::sem_unlink(event.c_str());
#endif
  // A -1 ending leaves before the end-of-run steps.
  r = run({"-ntfs_scan", input, "-profile"});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(contains(r.err, " secs "));

  const std::string log = (dir_ / "diag.txt").string();
  EXPECT_EQ(run({"-pipe", "-diags", log}, input + "\n").status, 0);
  EXPECT_EQ(test::slurp_text(log), "->" + std::string(ROOK_BINARY) + " -pipe -diags " + log + "\n->" + input + "\n");
}

}  // namespace
}  // namespace lnk

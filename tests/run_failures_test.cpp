// How a run ends when it cannot do what was asked: an output that takes
// no more bytes, an input that cannot be read, a command line that names
// no option. Each ends with one message and status -1 (255 here); a
// reader that goes away ends the run without a word.
#include "tests/run_program.h"

#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::shell_quoted;

const std::string kSample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";

std::string without_admin_notice(std::string err) {
  const std::string notice = "... running w/o admin privileges ...\n";
  if (err.rfind(notice, 0) == 0) err.erase(0, notice.size());
  return err;
}

class RunFailures : public test::ScratchDirTest {
 protected:
  void TearDown() override {
#ifndef _WIN32
    if (mounted_) ::umount2(full_.c_str(), MNT_DETACH);
#endif
    ScratchDirTest::TearDown();
  }

#ifndef _WIN32
  // The program run by sh, after the shell commands before (in a subshell
  // of its own) and with the redirections of tail; standard error captured
  // through a pipe, which a file-size limit does not stop.
  test::CommandResult shell(const std::vector<std::string>& args, const std::string& tail,
                            const std::string& before = "") {
    std::string command = "(" + before + "exec timeout 60 " + shell_quoted(ROOK_BINARY);
    for (const std::string& a : args) command += " " + shell_quoted(a);
    const std::string status = (dir_ / "status").string();
    command += ") " + tail + "; echo $? >" + shell_quoted(status);
    std::system(("sh -c " + shell_quoted(command) + " 2>&1 | cat >" + shell_quoted((dir_ / "err").string())).c_str());
    test::CommandResult r;
    r.status = std::atoi(test::slurp(status).c_str());
    r.err = without_admin_notice(test::slurp(dir_ / "err"));
    return r;
  }

  // A folder that will take no more bytes once filled: a small tmpfs where
  // mounting is allowed, else a file-size limit of 0 for the program with
  // SIGXFSZ ignored, so that its every write into a regular file fails with
  // EFBIG. reason_ is the text the system gives for the failure.
  void make_full_folder() {
    full_ = dir_ / "full";
    fs::create_directories(full_);
    if (::mount("tmpfs", full_.c_str(), "tmpfs", 0, "size=16k") == 0) {
      mounted_ = true;
      reason_ = "No space left on device";
      return;
    }
    limit_ = "ulimit -f 0; trap '' XFSZ; ";
    reason_ = "File too large";
  }
  void fill_folder() {
    if (mounted_)
      std::system(("dd if=/dev/zero of=" + shell_quoted((full_ / "filler").string()) + " bs=4096 count=64 2>/dev/null")
                      .c_str());
  }
#endif

  fs::path full_;
  bool mounted_ = false;
  std::string limit_;
  std::string reason_;
};

#ifndef _WIN32
TEST_F(RunFailures, StandardOutputThatTakesNothingEndsTheRun) {
  const struct { const char* tail; const char* reason; } cases[] = {
      {">/dev/full", "No space left on device"},
      {">&-", "Bad file descriptor"},
  };
  for (const auto& c : cases) {
    const test::CommandResult r = shell({kSample}, c.tail);
    EXPECT_EQ(r.status, 255) << c.tail;
    // Nothing arrived, the record included.
    EXPECT_EQ(r.err, std::string("prob writing standard output: ") + c.reason +
                         ", aborting\ndone: 0 sources read, 0 records written\n")
        << c.tail;
  }
  const test::CommandResult version = shell({"--version"}, ">/dev/full");
  EXPECT_EQ(version.status, 255);
  EXPECT_EQ(version.err, "prob writing standard output: No space left on device, aborting\n");
  // A closed standard output is not taken over by a file the run opens.
  const std::string log = (dir_ / "diag.txt").string();
  EXPECT_EQ(shell({kSample, "-diags", log}, ">&-").status, 255);
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(RunFailures, FullFolderForResultsDumpsAndLogEndsTheRunAndKeepsWhatWasThere) {
  make_full_folder();
  const std::string out = (full_ / "out.txt").string();
  const std::string dumps = (full_ / "dumps").string();
  const std::string log = (full_ / "diag.txt").string();
  test::write_file(out, std::string("earlier results"));
  fs::create_directories(dumps);
  fill_folder();

  test::CommandResult r = shell({kSample, "-out", out}, ">/dev/null", limit_);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "prob writing " + out + ": " + reason_ + ", aborting\ndone: 0 sources read, 0 records written\n");
  EXPECT_EQ(test::slurp(out), "earlier results");

  // The record goes on to the results only once its dump was written.
  r = shell({kSample, "-outdir", dumps}, ">/dev/null", limit_);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("prob writing " + dumps + "/carvelnk_0001_0x000000000_0x", 0), 0u) << r.err;
  EXPECT_TRUE(contains(r.err, ".bin: " + reason_ + ", aborting\ndone: 1 source read, 0 records written\n")) << r.err;

  r = shell({kSample, "-diags", log}, ">/dev/null", limit_);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "prob writing " + log + ": " + reason_ + ", aborting\n");

  // No half-written file is left behind.
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(full_))
    EXPECT_TRUE(entry.path() == out || entry.path() == dumps || entry.path().filename() == "filler") << entry.path();
}

// The reader's end of the pipe closes after one line, with the results far
// from written: SIGPIPE ends the run, or with SIGPIPE ignored every write
// fails with EPIPE; neither is a failure to tell the examiner about.
TEST_F(RunFailures, ReaderThatGoesAwayEndsTheRunQuietly) {
  std::string names;
  for (int i = 0; i < 300; ++i) names += kSample + "\n";
  test::write_file(dir_ / "names", names);
  const std::string tail = "<" + shell_quoted((dir_ / "names").string()) + " | head -1 >/dev/null";
  for (const std::string before : {"", "trap '' PIPE; "}) {
    const test::CommandResult r = shell({"-pipe"}, tail, before);
    EXPECT_EQ(r.status, 0) << before;  // head's
    EXPECT_EQ(r.err, "") << before;
  }
}
#endif

TEST_F(RunFailures, InputsThatCannotBeReadEndWithStatusMinusOne) {
  // A list with a missing member: the others are examined and their
  // results kept, the missing one named and counted.
  const std::string missing = (dir_ / "nope.lnk").string();
  const std::string out = (dir_ / "out.txt").string();
  test::CommandResult r = run({"-pipe", "-out", out}, kSample + "\n" + missing + "\n" + kSample + "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_admin_notice(r.err), "prob accessing file " + missing +
                                             "\ndone: 2 sources read, 2 records written, 1 skipped (1 cannot be read)\n");
  EXPECT_TRUE(contains(test::slurp_text(out), "source path/filename:"));

  // Nothing read at all: an earlier results file stays as it was.
  r = run({"-pipe", "-out", out, "-quiet"}, missing + "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(contains(test::slurp_text(out), "source path/filename:"));

  // A folder named as the one input is not read either.
  EXPECT_EQ(run({dir_.string(), "-quiet"}).status, 255);
}

TEST_F(RunFailures, WordsThatAreNoOptionStopTheRunBeforeAnythingIsWritten) {
  const std::string dumps = (dir_ / "dumps").string();
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{kSample, "--csv"}, "unknown option: --csv (did you mean -csv?)\n"},
      {{"-QUITE", kSample}, "unknown option: -QUITE (did you mean -quiet?)\n"},
      {{"-foo", kSample}, "unknown option: -foo\n"},
      {{kSample, "-out"}, "option needs a value: -out\n"},
      // An option's name is no value: -csv would be taken as the layout.
      {{kSample, "-out", "-csv"}, "option needs a value: -out\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"-outdir", dumps});
    const test::CommandResult r = run(args);
    EXPECT_EQ(r.status, 255) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "") << c.err;
    EXPECT_FALSE(fs::exists(dumps)) << c.err;
  }
  // A name that starts with "-": after "--", or with a folder in front.
  fs::copy_file(kSample, dir_ / "-x.lnk");
  for (const auto& args : std::vector<std::vector<std::string>>{{"-csv", "--", "-x.lnk"}, {"-csv", "./-x.lnk"}}) {
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    const test::CommandResult r = run(args);
    fs::current_path(cwd);
    EXPECT_EQ(r.status, 0) << args[1];
    EXPECT_EQ(without_admin_notice(r.err), "done: 1 source read, 1 record written\n") << args[1];
  }
}

}  // namespace
}  // namespace lnk

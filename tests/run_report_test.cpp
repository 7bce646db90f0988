// What a run says on standard error besides its results: status lines only
// on a terminal, the summary line, hints for sources that give nothing, and
// warnings for unused command-line words; and the -json stream itself.
#include <regex>

#include "cmdline/options.h"
#include "cmdline/usage.h"
#include "tests/delimited_lines.h"
#include "cmdline/run_report.h"
#include "tests/run_program.h"
#include "storage/ewf_source.h"
#include "storage/vss_source.h"

namespace lnk {
namespace {

using test::contains;

const std::string& kSample = test::kSampleLnk;

class RunReport : public test::ScratchDirTest {
 protected:
  std::string junk(const std::string& name, size_t size) {
    return test::write_file(dir_ / name, std::string(size, 'x'));
  }
  // Results without the lines that name the run itself.
  static std::string results(const std::string& out) {
    std::string kept;
    for (const std::string& line : test::split_lines(out))
      if (line.rfind("run time:", 0) != 0 && line.rfind("command:", 0) != 0) kept += line + "\n";
    return kept;
  }
};

TEST_F(RunReport, SummaryCountsSourcesRecordsAndSkipsWithTheirReasons) {
  EXPECT_EQ(run({kSample, "-quiet"}).err, "");

  const std::string empty = junk("empty.lnk", 0);
  const std::string folder = (dir_ / "folder").string();
  std::filesystem::create_directory(folder);
  const std::string list = kSample + "\n" + kSample + "\n" + empty + "\n" + (dir_ / "gone.lnk").string() +
                           "\n" + folder + "\n" + folder + "\n";
  const test::CommandResult r = run({"-pipe", "-csv"}, list);
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.err.ends_with("\ndone: 3 sources read, 2 records written, 1 without records, 3 skipped (1 cannot be read: " +
                              (dir_ / "gone.lnk").string() + ", 2 directories)\n")) << r.err;
  // Neither a message nor a summary ever reaches the results.
  EXPECT_FALSE(contains(r.out, "done:") || contains(r.out, "directory"));

  // -rawscan counts a carved source once, whatever it holds.
  EXPECT_EQ(run({junk("blob.bin", 5000), "-rawscan"}).err, "done: 1 source read, 0 records written, 1 without records\n");
}

TEST_F(RunReport, HintsNameTheNextStepForSourcesThatGiveNothing) {
  const std::string small = junk("small.lnk", 1000);
  EXPECT_EQ(run({small}).err, "no shortcut record found in " + small +
                                  "; -deepscan searches it at every byte\n"
                                  "done: 1 source read, 0 records written, 1 without records\n");
  const std::string image = junk("disk.img", 70000);
  EXPECT_EQ(test::split_lines(run({image}).err)[0],
            "no shortcut record found in the first 32 KiB of " + image +
                "; -deepscan searches the whole file, -rawscan carves a disk image");
  // With the search already whole, or nothing to search, there is no hint.
  for (const auto& args : std::vector<std::vector<std::string>>{{small, "-deepscan"}, {image, "-rawscan"}, {junk("tiny.lnk", 40)}})
    EXPECT_FALSE(contains(run(args).err, "no shortcut record")) << args.back();

  // A disk image or container read as a file points to -ntfs_scan; and
  // -deepscan over a container says what it searches.
  std::string mbr(70000, '\0');
  mbr[446 + 4] = 0x07, mbr[446 + 8] = 63, mbr[446 + 12] = 64;  // NTFS from sector 63
  mbr[510] = '\x55', mbr[511] = '\xAA';
  const std::string disk = test::write_file(dir_ / "disk.raw", mbr);
  const std::string to_ntfs_scan = "; -ntfs_scan reads the shortcuts in its NTFS volume, -rawscan carves the whole disk";
  EXPECT_EQ(test::split_lines(run({disk}).err)[0],
            "no shortcut record found in the first 32 KiB of " + disk + ", a disk image" + to_ntfs_scan);
  EXPECT_EQ(test::split_lines(run({disk, "-deepscan"}).err)[0], "done: 1 source read, 0 records written, 1 without records");
  const std::string vmdk = (dir_ / "disk.vmdk").string();
  if (std::system(("qemu-img create -q -f vmdk " + test::shell_quoted(vmdk) + " 1M").c_str()) == 0) {
    EXPECT_TRUE(contains(run({vmdk}).err, vmdk + ", a VMware disk" + to_ntfs_scan + "\n"));
    EXPECT_EQ(test::split_lines(run({vmdk, "-deepscan"}).err)[0],
              vmdk + " is a VMware disk: -deepscan searches the container's stored bytes, not the disk it holds; "
                     "-rawscan carves the disk");
  }

  const std::string folder = dir_.string();
  EXPECT_EQ(run({folder}).err,
            directory_hint(folder) + "done: 0 sources read, 0 records written, 1 skipped (1 directory)\n");
#ifndef _WIN32
  EXPECT_EQ(directory_hint(folder),
            folder + " is a directory; to examine the files in it: find '" + folder + "' -type f | rook -pipe\n");
#endif

  // A list gives each kind of hint once; the summary counts the rest.
  EXPECT_EQ(run({"-pipe"}, small + "\n" + junk("other.lnk", 900) + "\n" + folder + "\n" + folder + "\n").err,
            "no shortcut record found in " + small + "; -deepscan searches it at every byte\n" +
                directory_hint(folder) +
                "done: 2 sources read, 0 records written, 2 without records, 2 skipped (2 directories)\n");
  EXPECT_EQ(run({"-pipe", "-quiet"}, small + "\n" + folder + "\n").err, "");
}

TEST_F(RunReport, EveryUnusedWordIsNamedAndTheRunGoesOn) {
  const std::string plain_out = results(run({kSample, "-csv"}).out);
  const std::string one_name = " (one input name is read; -pipe reads a list of names)\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{kSample, "-csv", "second.lnk"}, "unused argument: second.lnk" + one_name},
      {{kSample, "-csv", "-include_vss_clusters", "x"},
       "unused argument: -include_vss_clusters\nunused argument: x" + one_name},
  };
  for (const auto& [args, warnings] : cases) {
    const test::CommandResult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, warnings + "done: 1 source read, 1 record written\n") << args.back();
    EXPECT_EQ(results(r.out), plain_out) << args.back();
  }
  // With -pipe every word left over is unused.
  EXPECT_EQ(test::split_lines(run({"-pipe", kSample}, kSample + "\n").err)[0], "unused argument: " + kSample);
}

// --version: the run header's title line, the source revision, then each
// container library with the version it reports, or "not in this build".
TEST_F(RunReport, VersionGoesToStandardOutput) {
  const test::CommandResult r = run({kSample, "--version", "-csv"});
  EXPECT_EQ(std::pair(r.status, r.err), std::pair(0, std::string())) << r.err;
  EXPECT_EQ(r.out.rfind("rook ver: 0.85\nsource revision: ", 0), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "source revision: \n"));
  for (const char* name : {"\n  libewf", "\n  libvshadow", "\n  libbfio"}) EXPECT_TRUE(contains(r.out, name)) << name;
  EXPECT_EQ(contains(r.out, "\n  libewf: not in this build ("), !ewf_support_available());
  EXPECT_EQ(contains(r.out, "\n  libvshadow: not in this build ("), !shadow_support_available());
}

// Whether text names the option as a word of its own: "-csv" is not named
// by "-csvl2t", "-csv_separator" or "--csv".
bool names_option(const std::string& text, const std::string& option) {
  return std::regex_search(text, std::regex("(^|[^\\w-])" + option + "($|[^\\w-])"));
}

// The usage and the manual page name every option the parser's table
// holds, and the start-up words the driver answers before it.
TEST(Usage, HelpAndManualPageNameEveryOption) {
  std::string manual = test::slurp(ROOK_SOURCE_DIR "/docs/rook.1");
  for (size_t at = manual.find("\\-"); at != std::string::npos; at = manual.find("\\-", at)) manual.erase(at, 1);
  std::vector<std::string> options = option_names();
  ASSERT_GT(options.size(), 40u);
  options.insert(options.end(), {"-h", "--help", "--version"});
  for (const std::string& option : options) {
    EXPECT_TRUE(names_option(usage_text(), option)) << option << " is missing from the usage";
    EXPECT_TRUE(names_option(manual, option)) << option << " is missing from docs/rook.1";
  }
  for (const std::string& text : {usage_text(), manual}) {
    EXPECT_FALSE(contains(text, "not built yet"));
    EXPECT_TRUE(contains(text, "find /mnt/evidence -type f | rook -pipe"));
  }
}

// The carriage-return status lines are for a terminal: a redirected
// standard error gets the messages and the summary only.
TEST_F(RunReport, StatusLinesOnlyOnATerminal) {
  const std::string image = junk("disk.img", 300000);
  const std::string summary = "done: 1 source read, 0 records written, 1 without records";
  EXPECT_EQ(run({image, "-deepscan"}).err, summary + "\n");
  // Under script(1) standard error is a pseudo-terminal; the results go to a file.
  const std::string out = (dir_ / "results.txt").string();
  const std::string log = (dir_ / "terminal.log").string();
  for (const std::string quiet : {"", " -quiet"}) {
    const std::string command = test::shell_quoted(ROOK_BINARY) + " " + test::shell_quoted(image) + " -deepscan" +
                                quiet + " > " + test::shell_quoted(out);
    const test::CommandResult shown = test::run_program(dir_, "timeout", {"60", "script", "-qec", command, log});
    if (shown.status != 0) GTEST_SKIP() << "no pseudo-terminal: " << shown.err;
    const std::string terminal = test::slurp(log);
    EXPECT_EQ(contains(terminal, "percent done: 0") && contains(terminal, "\r"), quiet.empty()) << quiet;
    EXPECT_EQ(contains(terminal, summary), quiet.empty()) << quiet;
    EXPECT_EQ(test::slurp(out).find('\r'), std::string::npos);
  }
}

// tools/check_json.py reads every line of -json runs in each mode as JSON;
// a run that finds nothing writes nothing, not even the run header.
TEST_F(RunReport, JsonRunWithoutRecordsWritesNothing) { EXPECT_EQ(run({junk("none.lnk", 500), "-json"}).out, ""); }

}  // namespace
}  // namespace lnk

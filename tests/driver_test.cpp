// The command line: options, values and files they name, and the list of
// names read from standard input with its filters. Then the built program,
// run as a child process, and what a user sees: usage, run header, exit
// status and the one message of each ending, file lists on standard input,
// outputs that take no more bytes and readers that go away; and what a run
// says on standard error besides its results: status lines only on a
// terminal, the summary line, hints for sources that give nothing, and
// warnings for unused command-line words.
#ifndef _WIN32
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <regex>

#include "cmdline/diag_log.h"
#include "cmdline/options.h"
#include "cmdline/pipe_input.h"
#include "cmdline/run_report.h"
#include "cmdline/usage.h"
#include "platform/platform.h"
#include "storage/ewf_source.h"
#include "tests/delimited_lines.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::kSampleLnk;
using test::lines_after_run_header;
using test::shell_quoted;
using test::split_fields;
using test::without_admin_notice;

struct Parsed {
  bool ok;
  useropts options;
  ArgList left;
  std::string err;
};

Parsed parse(ArgList args) {
  Parsed p;
  args.insert(args.begin(), "rook");
  testing::internal::CaptureStderr();
  p.ok = parse_useropts(p.options, args);
  p.err = testing::internal::GetCapturedStderr();
  p.left = args;
  return p;
}

TEST(OptionMatching, WholeWordAnyCaseValuesTakenAsTheyStandAndFieldsReset) {
  Parsed p = parse({"-CSV", "x.lnk"});
  EXPECT_EQ(p.options.layout, Layout::csv);
  EXPECT_EQ(p.left, (ArgList{"rook", "x.lnk"}));
  p = parse({"-csvx", "x.lnk"});
  EXPECT_EQ(p.options.layout, Layout::text);
  EXPECT_EQ(p.left, (ArgList{"rook", "-csvx", "x.lnk"}));
  EXPECT_FALSE(has_argument("-pipe", {"-pipe", "x"}));  // the program path is not looked at
  EXPECT_TRUE(has_argument("-pipe", {"rook", "x", "-PIPE"}));

  ArgList args = {"rook", "-hostname", "-csv", "x"};
  std::string value;
  EXPECT_TRUE(take_value("-HOSTNAME", value, args) && value == "-csv") << value;
  EXPECT_EQ(args, (ArgList{"rook", "x"}));
  // An option in last place keeps its place as a positional argument.
  p = parse({"x", "-out"});
  EXPECT_TRUE(p.ok && !p.options.output_path_given);
  EXPECT_EQ(p.left, (ArgList{"rook", "x", "-out"}));

  // Processing resets every field and fills the fixed ones.
  useropts o;
  args.clear();
  EXPECT_FALSE(parse_useropts(o, args));
  o.carve_dump_dir = "stale";
  o.layout = Layout::csv;
  args = {"C:\\tools\\rook.exe", "a b", "x"};
  ASSERT_TRUE(parse_useropts(o, args));
  EXPECT_TRUE(o.carve_dump_dir.empty());
  EXPECT_EQ(o.program_base_name + "|" + o.command_line_text, "rook|C:\\tools\\rook.exe \"a b\" x");
  // The readable report is the default layout; the old names of layouts
  // that were never built give it too.
  EXPECT_TRUE(o.layout == Layout::text && o.field_separator.empty() && o.separator_char == 0);
  for (const char* old : {"-xml", "-csvgen", "-multiline"}) EXPECT_EQ(parse({old, "x"}).options.layout, Layout::text);
}

TEST(DateTimeFormats, AcceptedLengthsAndMessages) {
  const struct { const char* option; std::string value, stored; bool refused; } cases[] = {
      {"-dateformat", "YYYY-MM-DD", "yyyy-mm-dd", false}, {"-dateformat", "yy/mm", "mm/dd/yyyy", true},
      {"-timeformat", "hh:mm:ss.xxxxxx", "hh:mm:ss.xxxxxx", false},
      {"-timeformat", "HH:MM:SS", "hh:mm:ss", false},
      {"-timeformat", "hhmmss.xxxx", "hh:mm:ss.xxx", true},
      {"-timeformat", "hh:mm:ss.xx", "hh:mm:ss.xxx", true},  // 11 characters
      {"-timeformat", "hh-mm-ss", "hh:mm:ss.xxx", true},
  };
  for (const auto& c : cases) {
    const Parsed p = parse({c.option, c.value, "x"});
    EXPECT_TRUE(p.ok);
    EXPECT_EQ((std::string(c.option) == "-dateformat" ? p.options.date_format : p.options.time_format) + "|" + p.err,
              c.stored + "|" + (c.refused ? "invalid " + c.value + ", using default format\n" : "")) << c.value;
  }
}

TEST(Layouts, SeparatorsAndDateTimeSplitting) {
  const struct { ArgList args; std::string separator; char replaced, substitute; bool split_date_time; } cases[] = {
      {{"-csv"}, ",", ',', ' ', true},
      {{"-csv", "-pair_datetime"}, ",", ',', ' ', false},
      {{"-csv", "-pair_datetime", "-no_whitespace"}, ",", ',', ' ', true},
      {{"-bodyfile"}, "|", '|', ';', false},
      {{"-csv", "-csv_separator", "TAB"}, "\t", 0, 0, true},
      {{"-csv", "-csv_separator", ";"}, ";", 0, 0, true},
      {{"-csv", "-csv_separator", " | ", "-no_whitespace"}, "|", '|', ';', true},
      // The later layout option in processing order wins.
      {{"-bodyfile", "-csv"}, "|", '|', ';', false},
  };
  for (const auto& c : cases) {
    ArgList args = c.args;
    const useropts o = parse((args.push_back("x"), args)).options;
    const std::string line = c.args.back();
    EXPECT_NE(o.layout, Layout::text) << line;
    EXPECT_EQ(o.field_separator + o.separator_char + o.separator_substitute,
              c.separator + c.replaced + c.substitute) << line;
    EXPECT_TRUE(o.layout != Layout::csv || o.split_date_time == c.split_date_time) << line;
  }
  EXPECT_FALSE(parse({"-csv", "-no_whitespace", "x"}).options.whitespace_allowed);
}

TEST(NumberParser, BasesAndJunk) {
  const std::pair<const char*, uint64_t> good[] = {
      {"0x7E00", 32256}, {"32256", 32256}, {"0o77000", 32256}, {" 0X7e00\r\n", 32256}, {"x7e00", 32256},
      {"9876543210", 9876543210u}, {"0x9f", 159}, {"0o17", 15}};
  for (const auto& [text, expected] : good) {
    uint64_t value = 1;
    EXPECT_EQ(std::make_pair(parse_number(text, value), value), std::make_pair(true, expected)) << text;
  }
  for (const char* text : {"", "abc", "0x", "0xzz", "12ab", "-5", "0o78", "0x1ffffffffffffffff"}) {
    uint64_t value = 7;
    EXPECT_EQ(std::make_pair(parse_number(text, value), value), std::make_pair(false, uint64_t{7})) << text;
  }
  EXPECT_EQ(parse({"-offset", "0x7E00", "img"}).options.volume_offset, 32256u);
  const Parsed p = parse({"-offset", "sector63", "img"});
  EXPECT_EQ(std::to_string(p.options.volume_offset) + p.err, "0");
}

TEST(PathMapping, AliasesFilledAndAppliedAndNamesExpanded) {
  Parsed p = parse({"-alias", " C:\\Evidence\\A.LNK | E:\\case\\a.lnk ", "-aliaspath",
                    "F:\\mount\\ | \"D:\\orig\\\"", "x"});
  ASSERT_TRUE(p.ok);
  const useropts& o = p.options;
  const std::pair<std::string, std::string> mapped[] = {
      {"C:\\EVIDENCE\\a.lnk", "E:\\case\\a.lnk"},
      {"F:\\Mount\\Users\\b.lnk", "D:\\orig\\Users\\b.lnk"},
      {"F:\\mount", "F:\\mount"},  // the key must be shorter than the path
      {"G:\\other.lnk", "G:\\other.lnk"},
  };
  for (const auto& [path, shown] : mapped) EXPECT_EQ(map_alias_path(o, path), shown) << path;
  EXPECT_EQ(map_alias_path(cmd_params{}, "C:\\Evidence\\A.LNK"), "C:\\Evidence\\A.LNK");

  // Empty pieces do not count.
  p = parse({"-aliaspath", "a|| b |", "x"});
  EXPECT_EQ(p.options.path_aliases, (std::map<std::string, std::string>{{"a", "b"}}));
  // A root alias loses its "\" and then matches every non-empty path.
  p = parse({"-aliaspath", "\\|D:\\img", "x"});
  EXPECT_EQ(map_alias_path(p.options, "\\a.lnk"), "D:\\img\\a.lnk");
  EXPECT_EQ(map_alias_path(p.options, ""), "");

  ::setenv("ROOK_TEST_DIR", "/case/files", 1);
  ::unsetenv("ROOK_TEST_UNSET");
  // A value that itself holds "%" is not expanded again.
  ::setenv("ROOK_TEST_LOOP", "%ROOK_TEST_LOOP%", 1);
  // Names past the expansion limit stay as typed.
  const std::string long_path = std::string(520, 'a') + "%ROOK_TEST_DIR%";
  const std::tuple<std::string, bool, std::string> cases[] = {
      {"%ROOK_TEST_DIR%/a.lnk", false, "/case/files/a.lnk"},
      {"%ROOK_TEST_UNSET%/%ROOK_TEST_DIR%", false, "%ROOK_TEST_UNSET%//case/files"},
      {"%VSS%3\\Windows\\a.lnk", true, "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\Windows\\a.lnk"},
      {"%vss%3", false, "%vss%3"},
      {"100% sure %ROOK_TEST_DIR%", false, "100% sure %ROOK_TEST_DIR%"},
      {"%%", true, "%%"},
      {"%ROOK_TEST_LOOP%", false, "%ROOK_TEST_LOOP%"},
      {long_path, false, long_path},
  };
  for (const auto& [path, vss_form, expanded] : cases) EXPECT_EQ(expand_path(path, vss_form), expanded) << path;
}

class OptionFiles : public test::ScratchDirTest {};

// Options name the outputs; the run creates them once all were checked.
TEST_F(OptionFiles, OutputDirectoryCreatedLevelByLevel) {
  fs::path nested = dir_ / "one" / "two" / "three";
  Parsed p = parse({"-outdir", "\"" + nested.string() + "\"", "x"});
  EXPECT_TRUE(!fs::exists(dir_ / "one") && p.err.empty()) << p.err;
  EXPECT_EQ(p.options.carve_dump_dir, "\"" + nested.string() + "\"");
  EXPECT_EQ(run({"-outdir", "\"" + nested.string() + "\"", kSampleLnk, "-quiet"}).status, 0);
  EXPECT_TRUE(fs::is_directory(nested));

  test::write_file(dir_ / "plainfile", std::string("x"));
  fs::path blocked = dir_ / "plainfile" / "sub";
  const test::CommandResult r = run({"-outdir", blocked.string(), "x"});
  EXPECT_EQ(r.status, 255);
  // The reason is the system's own words.
  EXPECT_EQ(without_admin_notice(r.err), "can't create directory at " + blocked.string() + ": Not a directory, aborting\n");

  // The results file is expanded but not opened while options are read.
  ::setenv("ROOK_TEST_OUT", dir_.string().c_str(), 1);
  p = parse({"-OUTFILE", "%ROOK_TEST_OUT%/results.txt", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(fs::path(p.options.output_path), dir_ / "results.txt");
  EXPECT_FALSE(fs::exists(dir_ / "results.txt"));
}

TEST_F(OptionFiles, DiagnosticLogReplacedOnlyOnCommit) {
  fs::path log = dir_ / "diag.txt";
  test::write_file(log, std::string("an earlier log"));
  Parsed p = parse({"-diags", log.string(), "-csv", "x"});
  ASSERT_TRUE(p.ok);
  DiagLog diag;
  ASSERT_TRUE(diag.open(p.options.diag_log_path, p.options.command_line_text));
  diag.write("info: volume open");
  EXPECT_EQ(test::slurp(log), "an earlier log");
  ASSERT_TRUE(diag.commit());
  EXPECT_EQ(test::slurp_text(log), "->rook -diags " + log.string() + " -csv x\n->info: volume open\n");

  // An unopenable log is dropped without a word.
  p = parse({"-diags", (dir_ / "no" / "such" / "dir.txt").string(), "x"});
  EXPECT_TRUE(p.ok && p.err.empty()) << p.err;
  DiagLog unopened;
  EXPECT_FALSE(unopened.open(p.options.diag_log_path, "x"));
  unopened.write("lost");
}

// Every other option is consumed with its value; the two that turn
// something off do so. The cluster options need -ntfs_scan.
TEST(OtherOptions, ConsumedWithTheirValues) {
  Parsed p = parse({"-username", "Alice", "-hostname", "WS1", "-base10", "-quiet", "-signal", "evt", "-threads", "4",
                    "-fragment_files", "3", "-zlibex", "z", "-idltimes", "-pipe", "-profile", "-v", "x"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.left, (ArgList{"rook", "x"}));
  EXPECT_FALSE(p.options.sizes_in_hex);
  EXPECT_TRUE(p.options.quiet);
  EXPECT_EQ(p.options.username + p.options.event_name, "Aliceevt");

  EXPECT_EQ(parse({"-include_vss_clusters", "img"}).left, (ArgList{"rook", "-include_vss_clusters", "img"}));
  p = parse({"-include_vss_clusters", "-ntfs_scan", "-include_unalloc_clusters", "img"});
  EXPECT_TRUE(p.options.ntfs_scan && p.options.include_vss_clusters && p.options.include_unalloc_clusters);
  EXPECT_FALSE(p.options.include_pagefile_clusters);
  EXPECT_EQ(p.left, (ArgList{"rook", "img"}));
}

using Names = std::vector<std::string>;

Names read_names(const std::string& input, const std::string& filter = "") {
  cmd_params options;
  if (!filter.empty()) build_filter_list(options.filters, filter);
  std::FILE* f = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), f);
  std::rewind(f);
  LineReader reader(f);
  Names names;
  for (std::string name; next_pipe_name(reader, options, name);) names.push_back(name);
  std::fclose(f);
  return names;
}

TEST(PipeNames, LineEndsBlankLinesLongLinesAndFilter) {
  EXPECT_EQ(read_names("a.lnk\r\nb.lnk\nc.lnk\rd.lnk\n\re.lnk"), (Names{"a.lnk", "b.lnk", "c.lnk", "d.lnk", "e.lnk"}));
  EXPECT_EQ(read_names("\n\r\n\nonly.lnk\n\n"), (Names{"only.lnk"}));
  EXPECT_EQ(read_names(std::string("a.lnk\0ignored\nb.lnk", 20)), (Names{"a.lnk", "b.lnk"}));
  EXPECT_TRUE(read_names("").empty());
  EXPECT_EQ(read_names(std::string(5000, 'n') + "\n"), (Names{std::string(4095, 'n'), std::string(905, 'n')}));
  // Filtered, then expanded.
  ::setenv("ROOK_PIPE_HOME", "/home/u", 1);
  EXPECT_EQ(read_names("%ROOK_PIPE_HOME%/x.lnk\r\n/tmp/y.txt\n%ROOK_PIPE_HOME%/z.LNK\n", "*.lnk"),
            (Names{"/home/u/x.lnk", "/home/u/z.LNK"}));
}

// Filters split at commas, else at bars; a lone "*" anywhere, or "*"
// before a stream name, takes every name.
TEST(Filter, StarPositionsAndLists) {
  const struct { const char* filter; const char* path; bool accepted; } cases[] = {
      {"*.lnk", "C:\\dir\\a.LNK", true},        {"*.lnk", "C:\\dir\\a.lnk.bak", false},
      {"*.lnk", "/x/a.lnk.lnk", false},  // only the first occurrence of the pattern counts
      {"*recent*", "/x/MyRecentFiles.txt", true}, {"*recent*", "/recent/a.txt", false},
      {"a*|*.lnk", "/x/abc.txt", true}, {"a*|*.lnk", "/x/b.lnk", true}, {"a*|*.lnk", "/x/b.txt", false},
      {"a*b", "ab", true},  // a star in the middle is dropped
      {"a*b", "axb", false},
      {"Exact.LNK", "d/EXACT.lnk", true},         {"exact.lnk", "d/exact.lnk2", false},
      {"*", "", false},                           {"*|*.lnk", "anything.doc", true},
      {"*.txt|*|*.lnk", "anything.doc", true},    {"*:$data", "anything.doc", true},
      {"*.LNK:zone*", "a.lnk", true},             {"a*|b*, *.lnk", "/x/q.lnk", true},
      {"a*|b*, *.lnk", "/x/abc.txt", false},  // with a comma, a bar is no separator
      {" | ", "a.lnk", false},
  };
  for (const auto& c : cases) {
    std::vector<filter_entry> filters;
    EXPECT_TRUE(build_filter_list(filters, c.filter));
    EXPECT_EQ(filter_accepts(c.path, filters), c.accepted) << c.filter << " " << c.path;
  }
}

TEST(SplitPath, SeparatorsAndDotDot) {
  const struct { const char *path, *dir, *file; } cases[] = {
      {"C:\\Users\\a.lnk", "C:\\Users", "a.lnk"}, {"/home/u/a.lnk", "/home/u", "a.lnk"},
      {"a\\b/c", "a", "b/c"},  // backslash wins over a later slash
      {"C:\\x\\..", "C:\\x\\..", "."}, {"/x/..", "/x//..", "."}, {"..", "..", "."}, {"/root.lnk", ".", "/root.lnk"},
  };
  for (const auto& c : cases) {
    std::string dir, file;
    EXPECT_TRUE(split_path(c.path, dir, file)) << c.path;
    EXPECT_EQ(dir + "|" + file, std::string(c.dir) + "|" + c.file) << c.path;
  }
  std::string dir, file;
  EXPECT_FALSE(split_path("", dir, file));
}

class DriverTest : public test::ScratchDirTest {
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
  std::string sample_copy(const std::string& name) {
    fs::copy_file(kSampleLnk, dir_ / name, fs::copy_options::overwrite_existing);
    return (dir_ / name).string();
  }
};

TEST_F(DriverTest, HelpAndEmptyLineShowUsageAndSucceed) {
  // Asked for, the usage goes to standard output; an empty line gets it on
  // standard error like every other usage ending.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"x.lnk", "-HELP"}, {"-csv", "/?"}, {"--help", "-deepscan", "-rawscan"}}) {
    const test::CommandResult r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + "|" + r.err, args.empty() ? "|" + usage_text() : usage_text() + "|") << args.size();
  }
  EXPECT_EQ(usage_text().rfind(std::string(77, '-') + "\n\nrook ver: 0.85\n\nUsage\n", 0), 0u);
}

TEST_F(DriverTest, StatusAndMessagesOfEachEnding) {
  const std::string input = junk("data.bin", 14);
  const std::string folder = dir_.string();
  const std::string unwritable = (dir_ / "no" / "r.txt").string();
  const std::string dumps = (dir_ / "dumps").string();
  const std::string log = (dir_ / "log.txt").string();
  std::string boot_sector(4096, '\0');
  boot_sector.replace(3, 8, "NTFS    ");
  const std::string boot = test::write_file(dir_ / "boot.img", boot_sector);
  ::setenv("ROOK_DRIVER_DIR", folder.c_str(), 1);
  const auto unread = [](const std::string& name) {
    return "done: 0 sources read, 0 records written, 1 skipped (1 cannot be read: " + name + ")\n";
  };
  const std::string deepscan =
      "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
      "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n\t[-deepscan] is used for individual files\n";
  const auto bad_value = [](const std::string& option, const std::string& value, const std::string& forms) {
    return "invalid value for " + option + ": " + value + " (accepted: " + forms + "), aborting\n";
  };
  const std::string offset_forms = "a byte offset in decimal, 0x hexadecimal or 0o octal (32256, 0x7e00, 0o77000)";
  const std::string threads_forms = "a whole number from 1 to 256";
  const std::string empty = folder + "/empty";
  fs::create_directory(empty);
  const struct { std::vector<std::string> args; int status; std::string err; bool header; } cases[] = {
      {{"-csv"}, 255, usage_text(), true},
      {{"%ROOK_DRIVER_DIR%/nope.lnk"}, 255, "can't read specified file: " + folder + "/nope.lnk: No such file or directory, aborting\n" + unread(folder + "/nope.lnk"), true},
      {{"-deepscan", "-rawscan", "x"}, 255, deepscan, false},
      {{"-ntfs_scan", "-deepscan", "x"}, 255, deepscan, false},
      {{"-sqlite", "db", "x"}, 255, "This option is not offered in this build\n", false},
      {{"-alias", "a|b|c", "x"}, 255, "imbalanced alias to true pathfiles, aborting\n", false},
      {{input, "-rawscan", "-quiet"}, 0, "", true},
      // A folder is walked: its files are the inputs; -ntfs_scan reads one image.
      {{"-csv", "-rawscan", empty}, 0, "done: 0 sources read, 0 records written\n", true},
      {{"-outdir", dumps, "-ntfs_scan", empty}, 255,
       "-ntfs_scan reads one disk or volume image: name one file, not several or a folder\n", false},
      // A file that is no volume and holds no partition table.
      {{"-ntfs_scan", input}, 255, "couldn't find any partitions on disk\n", true},
      {{input, "-out", unwritable}, 255, "prob opening file " + unwritable + " for output, aborting\n", false},
      // Nothing is created before every output was checked, nor for a run without input.
      {{"-outdir", dumps, kSampleLnk, "-out", unwritable}, 255, "prob opening file " + unwritable + " for output, aborting\n", false},
      {{"-outdir", dumps + "/sub"}, 255, usage_text(), true},
      // Two outputs in one file would lose one of them.
      {{kSampleLnk, "-out", log, "-diags", log}, 255, "prob opening file " + log + " for output: -out names it too, aborting\n", false},
      {{kSampleLnk, "-html", log, "-diags", log}, 255, "prob opening file " + log + " for output: -html names it too, aborting\n", false},
      // A boot sector and no volume behind it: the message names the image.
      {{"-ntfs_scan", boot}, 255, "problem reading " + boot + ", aborting\n", true},
      // The deepscan test comes before the privilege test.
      {{"-partition", "c", "-deepscan"}, 255, "can't use option [-deepscan] with partitions\n", true},
      {{"-vmdk", "a.vmdk;b.vmdk"}, 255, "a.vmdk can't be opened\n", true},
      // This one message goes to the results, not to standard error.
      {{"-vmdk", "a.vmdk | b.vmdk", "-vmdk", "c.vmdk", "-deepscan"}, 255, "", true},
      // A list with no names falls through to the next modes.
      {{"-vmdk", " | "}, 255, usage_text(), true},
      // Words that are no option stop the run before anything is created.
      {{"-outdir", dumps, kSampleLnk, "--csv"}, 255, "unknown option: --csv (did you mean -csv?)\n", false},
      {{"-outdir", dumps, "-QUITE", kSampleLnk}, 255, "unknown option: -QUITE (did you mean -quiet?)\n", false},
      {{"-outdir", dumps, "-foo", kSampleLnk}, 255, "unknown option: -foo\n", false},
      {{"-outdir", dumps, kSampleLnk, "-out"}, 255, "option needs a value: -out\n", false},
      // An option's name is no value: -csv would be taken as the layout.
      {{"-outdir", dumps, kSampleLnk, "-out", "-csv"}, 255, "option needs a value: -out\n", false},
      {{"-outdir", dumps, "-version"}, 255, "unknown option: -version (did you mean --version?)\n", false},
      // Values that are not one of the option's forms: not ignored, not read as another number.
      {{"-outdir", dumps, kSampleLnk, "-offset", "67584s"}, 255, bad_value("-offset", "67584s", offset_forms), false},
      {{"-outdir", dumps, kSampleLnk, "-offset", "-5"}, 255, bad_value("-offset", "-5", offset_forms), false},
      {{"-outdir", dumps, kSampleLnk, "-offset", "12x34"}, 255, bad_value("-offset", "12x34", offset_forms), false},
      {{"-outdir", dumps, kSampleLnk, "-threads", "banana"}, 255, bad_value("-threads", "banana", threads_forms), false},
      {{"-outdir", dumps, kSampleLnk, "-threads", "100000"}, 255, bad_value("-threads", "100000", threads_forms), false},
      {{"-outdir", dumps, "-vss", "banana"}, 255,
       bad_value("-vss", "banana", "a shadow copy number (1 is the oldest) or all"), false},
      {{"-outdir", dumps, kSampleLnk, "-cpu", "0x"}, 255, bad_value("-cpu", "0x", "a whole number"), false},
  };
  for (const auto& c : cases) {
    const std::string line = c.args[0] + " " + c.args.back();
    test::CommandResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << line;
    EXPECT_EQ(without_admin_notice(r.err), c.err) << line;
    EXPECT_EQ(r.out.rfind("rook ver: 0.85\n", 0), c.header ? 0u : std::string::npos) << line;
    EXPECT_TRUE(c.status == 255 || (r.out.size() >= 2 && r.out.substr(r.out.size() - 2) == "\n\n")) << line;
  }
  EXPECT_FALSE(fs::exists(dumps) || fs::exists(log));
  EXPECT_TRUE(contains(run({"-vmdk", "a.vmdk", "-deepscan"}).out, "can't use option [-deepscan] with VMWare disks\n"));
}

TEST_F(DriverTest, CommandLineInHeaderAndNamesAfterOptions) {
  EXPECT_TRUE(contains(run({"-csv"}).out, "\"" + std::string(ROOK_BINARY) + " -csv\"\n\n"));
  // A name that starts with "-": after "--", or with a folder in front.
  fs::copy_file(kSampleLnk, dir_ / "-x.lnk");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  for (const auto& args : std::vector<std::vector<std::string>>{{"-csv", "--", "-x.lnk"}, {"-csv", "./-x.lnk"}}) {
    const test::CommandResult r = run(args);
    EXPECT_EQ(r.status, 0) << args[1];
    EXPECT_EQ(without_admin_notice(r.err), "done: 1 source read, 1 record written\n") << args[1];
  }
  fs::current_path(cwd);
}

TEST_F(DriverTest, ShadowCopyAndPartitionNeedAdministrator) {
  const std::string device = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2";
  test::CommandResult r = run({"-vss", "2"});
  test::CommandResult raw = run({"-vss", "2", "-rawscan"});
  EXPECT_EQ(r.status + raw.status, 2 * 255);
  if (!platform::is_administrator()) {
    EXPECT_EQ(r.err, "... running w/o admin privileges ...\nneed to have admin privs for this option, aborting\n");
    return;
  }
  EXPECT_EQ(r.err, "defaulting to -ntfs_scan option\nprob validating volume " + device +
                       " as a NTFS partition, aborting...\n" + "done: 0 sources read, 0 records written, 1 skipped "
                       "(1 cannot be read: " + device + ")\n");
  EXPECT_EQ(raw.err, "problem reading " + device + ", aborting\n");
  r = run({"-partition", "z"});
  EXPECT_EQ(std::to_string(r.status) + " " + r.err, "255 defaulting to -ntfs_scan option\nproblem reading z, aborting\n");
}

TEST_F(DriverTest, PipeReadsNamesFromStandardInput) {
  test::CommandResult r = run({"-pipe"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "\"<filelist> ... | "));
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");
  // -quiet leaves out hints and the summary, never the messages.
  const std::string folder = dir_.string();
  r = run({"-pipe", "-quiet", "-rawscan"}, folder + "\n" + junk("a.lnk", 14) + "\n" + folder + "\n");
  EXPECT_EQ(without_admin_notice(r.err),
            "problem reading " + folder + ", aborting\nproblem reading " + folder + ", aborting\n");
  EXPECT_TRUE(contains(r.out, "file: " + folder + " [using large file scan]\nlnk offset, "));
  // With nothing read, an earlier results file stays as it was.
  const std::string out = test::write_file(dir_ / "out.txt", std::string("earlier"));
  EXPECT_EQ(run({"-pipe", "-out", out, "-quiet"}, (dir_ / "nope.lnk").string() + "\n").status, 255);
  EXPECT_EQ(test::slurp(out), "earlier");
}

// A list of files: the timeline layouts write one header for the run.
TEST_F(DriverTest, PipeTimelineLayoutsWriteOneHeaderPerRun) {
  const std::string list = kSampleLnk + "\n" + sample_copy("two,parts.lnk") + "\n";
  std::vector<std::string> lines = lines_after_run_header(run({"-pipe", "-csvl2t", "-quiet"}, list).out);
  ASSERT_EQ(lines.size(), 7u);  // one header, three distinct target times per record, oldest first
  EXPECT_EQ(lines[0].rfind("date,time,timezone,MACB,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("03/14/2023, 09:26:53.500,UTC,...B,LNK,", 0), 0u);
  const std::string separator = fs::path("/").make_preferred().string();
  EXPECT_NE(lines[6].find(separator + "two parts.lnk,"), std::string::npos);
  for (const std::string& line : lines) EXPECT_EQ(split_fields(line, ",").size(), 17u) << line;

  lines = lines_after_run_header(run({"-pipe", "-bodyfile", "-quiet"}, list).out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("md5|name|", 0), 0u);
  // The same record from two files: only the source path after "<- " differs.
  EXPECT_NE(lines[2].find(separator + "two,parts.lnk; cmdargs-/safe|"), std::string::npos);
  EXPECT_EQ(lines[1].substr(lines[1].find("; cmdargs")), lines[2].substr(lines[2].find("; cmdargs")));
}

// -noheader files open in their readers as they are: csv.DictReader and
// pandas take the first line as the column names; mactime reads every body
// line and shows no event for a time the shortcut lacks (it has no MRU time).
TEST_F(DriverTest, NoHeaderFilesOpenInTheirReaders) {
  const std::string list = kSampleLnk + "\n" + sample_copy("two,parts.lnk") + "\n";
  const std::string csv = (dir_ / "r.csv").string(), body = (dir_ / "r.body").string();
  ASSERT_EQ(run({"-pipe", "-csv", "-noheader", "-quiet", "-out", csv}, list).status, 0);
  ASSERT_EQ(run({"-pipe", "-bodyfile", "-noheader", "-quiet", "-out", body}, list).status, 0);
  EXPECT_EQ(test::split_lines(test::slurp(body)).size(), 2u);
  EXPECT_EQ(run({kSampleLnk, "-noheader", "-quiet"}).out.rfind("source path/filename: ", 0), 0u);
  const test::CommandResult timeline = test::run_program(dir_, "mactime", {"-b", body, "-d"});
  if (timeline.status == 0) {
    EXPECT_EQ(test::split_lines(timeline.out).size(), 7u) << timeline.out;  // its header, 3 times a record
    EXPECT_FALSE(contains(timeline.out, "Xxx Xxx 00 0000")) << timeline.out;
  }
  // Each reader with the first Python that has it.
  auto python = [&](const std::string& module, const std::string& script) {
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
      const test::CommandResult r = test::run_program(dir_, candidate, {"-c", "import " + module + ", sys\n" + script, csv});
      if (r.status == 0) return r.out;
    }
    return std::string("absent");
  };
  const std::string rows = python("csv", "rows = list(csv.DictReader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
                                         "print(len(rows), *list(rows[0])[:2], sep='|')");
  // Under Wine the Linux Python cannot open a Windows path.
  if (rows == "absent") GTEST_SKIP() << "no Python that reads " << csv;
  EXPECT_EQ(rows, "2|source path/filename|source type\n");
  const std::string header = test::split_lines(test::slurp(csv)).at(0);
  const std::string frame = python("pandas", "f = pandas.read_csv(sys.argv[1])\nprint(*f.shape, f.columns[0], sep='|')");
  if (frame == "absent") GTEST_SKIP() << "pandas absent";
  EXPECT_EQ(frame, "2|" + std::to_string(split_fields(header, ",").size()) + "|source path/filename\n");
}

// Nothing a list names stops the run.
TEST_F(DriverTest, PipeNothingInTheListStopsTheRun) {
  const std::string missing = (dir_ / "missing.lnk").string();
  const std::string through_file = sample_copy("plain.lnk") + "/inner.lnk";
#ifdef _WIN32
  // A named pipe nobody writes to: opening it must not hang the run.
  const std::string fifo = "\\\\.\\pipe\\rook_test_" + std::to_string(::_getpid()) + ".lnk";
  HANDLE pipe = CreateNamedPipeW(platform::utf8_to_wide(fifo).c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 4,
                                 0, 0, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const std::unique_ptr<void, decltype(&CloseHandle)> pipe_closer(pipe, &CloseHandle);
#else
  const std::string fifo = (dir_ / "pipe.lnk").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
  fs::create_directories(dir_ / "folder.lnk");
  const std::string list = std::string(5000, 'n') + "\n" + missing + "\n" + through_file + "\n" + fifo + "\n" +
                           (dir_ / "folder.lnk").string() + "\n/dev/null\n" +
                           test::write_file(dir_ / "empty.lnk", std::string()) + "\n" +
                           test::write_file(dir_ / "junk.lnk", std::string(70000, '\x4c')) + "\n" + kSampleLnk + "\n";
  const test::CommandResult r = run({"-pipe", "-csv", "-quiet"}, list);
  EXPECT_EQ(r.status, 255);  // names that could not be read
  std::vector<std::string> problems;
  for (const std::string& line : test::split_lines(r.err))
    if (line.rfind("prob accessing file ", 0) == 0) problems.push_back(line.substr(20));
  // The long line arrives as two names; each problem says why.
  std::vector<std::string> expected{std::string(4095, 'n') + ": File name too long", std::string(905, 'n') + ": File name too long",
                                    missing + ": No such file or directory", through_file + ": Not a directory",
                                    fifo + ": neither a file nor a block device", "/dev/null: neither a file nor a block device"};
#ifdef _WIN32
  // Whether Windows reports a pipe and a POSIX device name varies.
  for (auto* names : {&problems, &expected}) {
    std::erase_if(*names, [&](const std::string& name) { return name.rfind(fifo, 0) == 0 || name.rfind("/dev/null", 0) == 0; });
    // The system's words for a failure are its own.
    for (std::string& name : *names) name.resize(name.rfind(": "));
  }
#endif
  EXPECT_EQ(problems, expected);
  const std::vector<std::string> rows = lines_after_run_header(r.out);
  ASSERT_EQ(rows.size(), 2u);  // the header and the one record
  EXPECT_EQ(split_fields(rows[1], ",")[0], kSampleLnk);
}

#ifndef _WIN32
// Several operands and folders are the list `find ... -type f | LC_ALL=C sort`
// gives -pipe: the same records, messages and status in every layout; links
// in a folder are neither followed nor listed.
TEST_F(DriverTest, OperandsAndFoldersAreTheSortedListPipeReads) {
  const fs::path tree = dir_ / "tree";
  fs::create_directories(tree / "sub");
  for (const char* name : {"b.lnk", "Z.lnk", "sub/a.lnk"}) fs::copy_file(kSampleLnk, tree / name);
  test::write_file(tree / "sub" / "junk.bin", std::string(900, 'x'));
  fs::create_directory_symlink(tree, tree / "sub" / "up");
  fs::create_symlink(kSampleLnk, tree / "link.lnk");
  const std::string one = sample_copy("one.lnk"), two = sample_copy("two.lnk");
  const test::CommandResult found =
      test::shell("find " + shell_quoted(two) + " " + shell_quoted(one) + " " + shell_quoted(tree.string()) +
                  " -type f | LC_ALL=C sort");
  ASSERT_EQ(test::split_lines(found.out).size(), 6u) << found.out;
  for (const char* layout : {"-multiline", "-csv", "-csvl2t", "-bodyfile", "-json", "-timesketch"}) {
    const test::CommandResult operands = run({two, one, tree.string(), layout});
    const test::CommandResult piped = run({"-pipe", layout}, found.out);
    EXPECT_EQ(std::tie(operands.status, operands.err), std::tie(piped.status, piped.err)) << layout;
    EXPECT_EQ(results(operands.out), results(piped.out)) << layout;
  }
  EXPECT_EQ(run({two, one, tree.string(), "-quiet"}).status, 0);
}
#endif

TEST_F(DriverTest, EndOfRunProfileSignalAndDiagnosticLog) {
  const std::string input = junk("a.lnk", 14);
#ifdef _WIN32
  // The waiting side creates the event, as a script waiting for rook would.
  const std::string event = "rook_test_" + std::to_string(::_getpid());
  HANDLE waiting = CreateEventW(nullptr, TRUE, FALSE, platform::utf8_to_wide(event).c_str());
  ASSERT_NE(waiting, nullptr);
  test::CommandResult r = run({input, "-profile", "-signal", event});
  EXPECT_EQ(WaitForSingleObject(waiting, 0), WAIT_OBJECT_0);
  CloseHandle(waiting);
#else
  const std::string event = "/rook_test_" + std::to_string(::getpid());
  ::sem_unlink(event.c_str());
  test::CommandResult r = run({input, "-profile", "-signal", event});
  sem_t* sem = ::sem_open(event.c_str(), 0);
  ASSERT_NE(sem, SEM_FAILED);
  EXPECT_EQ(::sem_trywait(sem), 0);
  ::sem_close(sem);
  ::sem_unlink(event.c_str());
#endif
  EXPECT_TRUE(r.status == 0 && contains(r.err, " secs \n")) << r.err;
  // A -1 ending leaves before the end-of-run steps.
  r = run({"-ntfs_scan", input, "-profile"});
  EXPECT_TRUE(r.status == 255 && !contains(r.err, " secs ")) << r.err;

  const std::string log = (dir_ / "diag.txt").string();
  EXPECT_EQ(run({"-pipe", "-diags", log}, input + "\n").status, 0);
  EXPECT_EQ(test::slurp_text(log), "->" + std::string(ROOK_BINARY) + " -pipe -diags " + log + "\n->" + input + "\n");
}

const std::string& kSample = test::kSampleLnk;

using RunReport = DriverTest;

TEST_F(RunReport, SummaryCountsSourcesRecordsAndSkipsWithTheirReasons) {
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
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{kSample, "-csv", "-include_vss_clusters"}, "unused argument: -include_vss_clusters\n"},
      {{"-include_pagefile_clusters", "-csv", "--", kSample}, "unused argument: -include_pagefile_clusters\n"},
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
  for (const char* name : {"\n  libewf", "\n  libbfio"}) EXPECT_TRUE(contains(r.out, name)) << name;
  EXPECT_FALSE(contains(r.out, "libvshadow"));
  EXPECT_EQ(contains(r.out, "\n  libewf: not in this build ("), !ewf_support_available());
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
TEST_F(RunReport, JsonRunWithoutRecordsWritesNothing) {
  EXPECT_EQ(run({junk("none.lnk", 500), "-json"}).out, "");
}

#ifndef _WIN32
// Outputs that take no more bytes, and readers that go away, run through sh.
class RunFailures : public test::ScratchDirTest {
 protected:
  void TearDown() override {
    if (mounted_) ::umount2(full_.c_str(), MNT_DETACH);
    ScratchDirTest::TearDown();
  }

  // The program after the shell commands before (in a subshell of its own),
  // with the redirections of tail; standard error through a pipe, which a
  // file-size limit does not stop.
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

  // A folder that takes no more bytes once filled: a small tmpfs where
  // mounting is allowed, else a file-size limit of 0 with SIGXFSZ ignored,
  // so that every write into a regular file fails with EFBIG.
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

  fs::path full_;
  bool mounted_ = false;
  std::string limit_, reason_;
};

TEST_F(RunFailures, StandardOutputThatTakesNothingEndsTheRun) {
  for (const auto& [tail, reason] : {std::pair{">/dev/full", "No space left on device"}, {">&-", "Bad file descriptor"}}) {
    const test::CommandResult r = shell({kSampleLnk}, tail);
    EXPECT_EQ(r.status, 255) << tail;
    // Nothing arrived, the record included.
    EXPECT_EQ(r.err, std::string("prob writing standard output: ") + reason +
                         ", aborting\ndone: 0 sources read, 0 records written\n") << tail;
  }
  const test::CommandResult version = shell({"--version"}, ">/dev/full");
  EXPECT_EQ(std::to_string(version.status) + " " + version.err,
            "255 prob writing standard output: No space left on device, aborting\n");
  // A closed standard output is not taken over by a file the run opens.
  const std::string log = (dir_ / "diag.txt").string();
  EXPECT_EQ(shell({kSampleLnk, "-diags", log}, ">&-").status, 255);
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(RunFailures, FullFolderForResultsDumpsAndLogEndsTheRunAndKeepsWhatWasThere) {
  make_full_folder();
  const std::string out = (full_ / "out.txt").string();
  const std::string dumps = (full_ / "dumps").string();
  const std::string log = (full_ / "diag.txt").string();
  test::write_file(out, std::string("earlier results"));
  fs::create_directories(dumps);
  if (mounted_)
    std::system(("dd if=/dev/zero of=" + shell_quoted((full_ / "filler").string()) + " bs=4096 count=64 2>/dev/null")
                    .c_str());

  test::CommandResult r = shell({kSampleLnk, "-out", out}, ">/dev/null", limit_);
  EXPECT_EQ(std::to_string(r.status) + " " + r.err,
            "255 prob writing " + out + ": " + reason_ + ", aborting\ndone: 0 sources read, 0 records written\n");
  EXPECT_EQ(test::slurp(out), "earlier results");

  // The record goes on to the results only once its dump was written.
  r = shell({kSampleLnk, "-outdir", dumps}, ">/dev/null", limit_);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err.rfind("prob writing " + dumps + "/carvelnk_0001_0x000000000_0x", 0), 0u) << r.err;
  EXPECT_TRUE(contains(r.err, ".bin: " + reason_ + ", aborting\ndone: 1 source read, 0 records written\n")) << r.err;

  r = shell({kSampleLnk, "-diags", log}, ">/dev/null", limit_);
  EXPECT_EQ(std::to_string(r.status) + " " + r.err, "255 prob writing " + log + ": " + reason_ + ", aborting\n");

  // No half-written file is left behind.
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(full_))
    EXPECT_TRUE(entry.path() == out || entry.path() == dumps || entry.path().filename() == "filler") << entry.path();
}

// A log that cannot take its place (a file mounted over its name) fails the
// run; the results, which move last, leave the earlier ones as they were.
TEST_F(RunFailures, OutputThatCannotTakeItsPlaceFailsTheRun) {
  const std::string log = test::write_file(dir_ / "diag.txt", std::string("earlier log"));
  const std::string out = test::write_file(dir_ / "out.txt", std::string("earlier results"));
  const std::string cover = test::write_file(dir_ / "cover", std::string("x"));
  if (::mount(cover.c_str(), log.c_str(), nullptr, MS_BIND, nullptr) != 0) GTEST_SKIP() << "bind mounts need root";
  full_ = log;
  mounted_ = true;
  const test::CommandResult r = run({kSampleLnk, "-diags", log, "-out", out, "-quiet"});
  EXPECT_EQ(std::to_string(r.status) + " " + without_admin_notice(r.err),
            "255 prob writing " + log + ": " + platform::error_text(EBUSY) + ", aborting\n");
  EXPECT_EQ(test::slurp(out), "earlier results");
}

// A run ended by SIGTERM or SIGINT, here while it waits for a full pipe on
// standard error, leaves none of its new files behind; a signal the run was
// started to ignore (nohup) stays ignored.
TEST_F(RunFailures, SignalRemovesTheFilesBeingWritten) {
  std::string names;
  for (int i = 0; i < 3000; ++i) names += (dir_ / ("absent_" + std::to_string(i) + std::string(80, 'x'))).string() + "\n";
  const std::string list = test::write_file(dir_ / "names", names);
  const fs::path outputs = dir_ / "outputs";
  fs::create_directories(outputs);
  for (const auto& [signal_number, ignored] : {std::pair{SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}}) {
    int error_pipe[2];
    ASSERT_EQ(::pipe(error_pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(error_pipe[1], 2);
      ::dup2(::open(list.c_str(), O_RDONLY), 0);
      if (ignored) ::signal(signal_number, SIG_IGN);
      ::execl(ROOK_BINARY, ROOK_BINARY, "-pipe", "-out", (outputs / "out.txt").c_str(), "-diags",
              (outputs / "log.txt").c_str(), "-html", (outputs / "page.html").c_str(), nullptr);
      ::_exit(127);
    }
    ::close(error_pipe[1]);
    const auto pending = [&] { return std::distance(fs::directory_iterator(outputs), fs::directory_iterator{}); };
    for (int i = 0; i < 1000 && pending() < 3; ++i) ::usleep(10000);
    EXPECT_EQ(pending(), 3);
    ::kill(child, signal_number);
    char drained[4096];
    while (ignored && ::read(error_pipe[0], drained, sizeof drained) > 0) {
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(error_pipe[0]);
    EXPECT_TRUE(ignored ? WIFEXITED(status) : WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    EXPECT_EQ(pending(), 0) << signal_number;
  }
}

// The reader's end of the pipe closes after one line, with the results far
// from written: SIGPIPE ends the run, or with SIGPIPE ignored every write
// fails with EPIPE; neither is a failure to tell the examiner about.
TEST_F(RunFailures, ReaderThatGoesAwayEndsTheRunQuietly) {
  std::string names;
  for (int i = 0; i < 300; ++i) names += kSampleLnk + "\n";
  test::write_file(dir_ / "names", names);
  const std::string tail = "<" + shell_quoted((dir_ / "names").string()) + " | head -1 >/dev/null";
  for (const std::string before : {"", "trap '' PIPE; "}) {
    const test::CommandResult r = shell({"-pipe"}, tail, before);
    EXPECT_EQ(r.status, 0) << before;  // head's
    EXPECT_EQ(r.err, "") << before;
  }
}
#endif

}  // namespace
}  // namespace lnk

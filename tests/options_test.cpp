#include "cmdline/options.h"

#include "cmdline/diag_log.h"
#include "tests/set_environment.h"

#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

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

TEST(OptionMatching, WholeWordAnyCase) {
  Parsed p = parse({"-CSV", "x.lnk"});
  EXPECT_EQ(p.options.layout, Layout::csv);
  EXPECT_EQ(p.left, (ArgList{"rook", "x.lnk"}));

  p = parse({"-csvx", "x.lnk"});
  EXPECT_EQ(p.options.layout, Layout::text);
  EXPECT_EQ(p.left, (ArgList{"rook", "-csvx", "x.lnk"}));

  EXPECT_FALSE(has_argument("-pipe", {"-pipe", "x"}));  // the program path is not looked at
  EXPECT_TRUE(has_argument("-pipe", {"rook", "x", "-PIPE"}));
}

TEST(OptionMatching, ValueTakenEvenWhenItLooksLikeAnOption) {
  ArgList args = {"rook", "-hostname", "-csv", "x"};
  std::string value;
  EXPECT_TRUE(take_value("-HOSTNAME", value, args));
  EXPECT_EQ(value, "-csv");
  EXPECT_EQ(args, (ArgList{"rook", "x"}));

  // An option in last place keeps its place as a positional argument.
  Parsed p = parse({"x", "-out"});
  EXPECT_TRUE(p.ok);
  EXPECT_FALSE(p.options.output_path_given);
  EXPECT_EQ(p.left, (ArgList{"rook", "x", "-out"}));
}

TEST(OptionProcessing, ResetsEverythingAndFillsFixedFields) {
  useropts o;
  ArgList none;
  EXPECT_FALSE(parse_useropts(o, none));
  o.carve_dump_dir = "stale";
  o.layout = Layout::csv;
  ArgList args = {"C:\\tools\\rook.exe", "a b", "x"};
  ASSERT_TRUE(parse_useropts(o, args));
  EXPECT_TRUE(o.carve_dump_dir.empty());
  EXPECT_EQ(o.program_base_name + "|" + o.command_line_text, "rook|C:\\tools\\rook.exe \"a b\" x");
  // The readable report is the default layout; the old names of layouts
  // that were never built give it too.
  EXPECT_TRUE(o.layout == Layout::text && o.field_separator.empty() && o.separator_char == 0);
  for (const char* old : {"-xml", "-csvgen", "-multiline"}) EXPECT_EQ(parse({old, "x"}).options.layout, Layout::text);
}

TEST(OptionProcessing, RefusalsEndTheRun) {
  const std::string deepscan_message =
      "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
      "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
      "\t[-deepscan] is used for individual files\n";
  const std::pair<ArgList, std::string> cases[] = {
      {{"-sqlite", "db", "x"}, "This option is not offered in this build\n"},
      {{"-deepscan", "-rawscan", "x"}, deepscan_message},
      {{"-ntfs_scan", "-deepscan", "x"}, deepscan_message},
      {{"-alias", "a|b|c", "x"}, "imbalanced alias to true pathfiles, aborting\n"},
  };
  for (const auto& [args, message] : cases) {
    Parsed p = parse(args);
    EXPECT_FALSE(p.ok) << args[0];
    EXPECT_EQ(p.err, message) << args[0];
  }
  Parsed p = parse({"-deepscan", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.scan_step, 1u);
}

TEST(DateTimeFormats, AcceptedLengthsAndMessages) {
  const struct { const char* option; std::string value, stored; bool refused; } cases[] = {
      {"-dateformat", "YYYY-MM-DD", "yyyy-mm-dd", false},
      {"-dateformat", "yy/mm", "mm/dd/yyyy", true},
      {"-timeformat", "hh:mm:ss.xxxxxx", "hh:mm:ss.xxxxxx", false},
      {"-timeformat", "HH:MM:SS", "hh:mm:ss", false},
      {"-timeformat", "hhmmss.xxxx", "hh:mm:ss.xxx", true},
      {"-timeformat", "hh:mm:ss.xx", "hh:mm:ss.xxx", true},  // 11 characters
      {"-timeformat", "hh-mm-ss", "hh:mm:ss.xxx", true},
  };
  for (const auto& c : cases) {
    Parsed p = parse({c.option, c.value, "x"});
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(std::string(c.option) == "-dateformat" ? p.options.date_format : p.options.time_format, c.stored)
        << c.value;
    EXPECT_EQ(p.err, c.refused ? "invalid " + c.value + ", using default format\n" : "") << c.value;
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
  };
  for (const auto& c : cases) {
    ArgList args = c.args;
    args.push_back("x");
    const useropts o = parse(args).options;
    const std::string line = args[args.size() - 2];
    EXPECT_NE(o.layout, Layout::text) << line;
    EXPECT_EQ(o.field_separator, c.separator) << line;
    EXPECT_EQ(o.separator_char, c.replaced) << line;
    EXPECT_EQ(o.separator_substitute, c.substitute) << line;
    if (o.layout == Layout::csv) {
      EXPECT_EQ(o.split_date_time, c.split_date_time) << line;
    }
  }
  EXPECT_FALSE(parse({"-csv", "-no_whitespace", "x"}).options.whitespace_allowed);
  // The later layout option in processing order wins.
  Parsed p = parse({"-bodyfile", "-csv", "x"});
  EXPECT_EQ(p.options.layout, Layout::bodyfile);
}

TEST(ScannerOptions, IncludeOptionsNeedNtfsScan) {
  Parsed p = parse({"-include_vss_clusters", "img"});
  EXPECT_FALSE(p.options.include_vss_clusters);
  EXPECT_EQ(p.left, (ArgList{"rook", "-include_vss_clusters", "img"}));

  p = parse({"-include_vss_clusters", "-ntfs_scan", "-include_unalloc_clusters", "img"});
  EXPECT_TRUE(p.options.ntfs_scan && p.options.include_vss_clusters && p.options.include_unalloc_clusters);
  EXPECT_FALSE(p.options.include_pagefile_clusters);
  EXPECT_EQ(p.left, (ArgList{"rook", "img"}));
}

TEST(NumberParser, BasesAndJunk) {
  for (const char* text : {"0x7E00", "32256", "0o77000", " 0X7e00\r\n", "x7e00"}) {
    uint64_t value = 1;
    EXPECT_TRUE(parse_number(text, value)) << text;
    EXPECT_EQ(value, 32256u) << text;
  }
  for (const char* text : {"", "abc", "0x", "0xzz", "12ab", "-5", "0o78", "0x1ffffffffffffffff"}) {
    uint64_t value = 7;
    EXPECT_FALSE(parse_number(text, value)) << text;
    EXPECT_EQ(value, 7u) << text;
  }
  EXPECT_EQ(parse({"-offset", "0x7E00", "img"}).options.volume_offset, 32256u);
  Parsed p = parse({"-offset", "sector63", "img"});
  EXPECT_EQ(p.options.volume_offset, 0u);
  EXPECT_EQ(p.err, "");
}

TEST(Aliases, MapsFilledAndApplied) {
  Parsed p = parse({"-alias", " C:\\Evidence\\A.LNK | E:\\case\\a.lnk ", "-aliaspath",
                    "F:\\mount\\ | \"D:\\orig\\\"", "x"});
  ASSERT_TRUE(p.ok);
  const useropts& o = p.options;
  EXPECT_EQ(o.alias_pairs.at("c:\\evidence\\a.lnk"), "E:\\case\\a.lnk");
  EXPECT_EQ(o.path_aliases.at("f:\\mount"), "D:\\orig");
  EXPECT_EQ(map_alias_path(o, "C:\\EVIDENCE\\a.lnk"), "E:\\case\\a.lnk");
  EXPECT_EQ(map_alias_path(o, "F:\\Mount\\Users\\b.lnk"), "D:\\orig\\Users\\b.lnk");
  // The key must be shorter than the path.
  EXPECT_EQ(map_alias_path(o, "F:\\mount"), "F:\\mount");
  EXPECT_EQ(map_alias_path(o, "G:\\other.lnk"), "G:\\other.lnk");
  EXPECT_EQ(map_alias_path(cmd_params{}, "C:\\Evidence\\A.LNK"), "C:\\Evidence\\A.LNK");

  // Empty pieces do not count.
  p = parse({"-aliaspath", "a|| b |", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.path_aliases.at("a"), "b");

  // A root alias loses its "\" and then matches every non-empty path.
  p = parse({"-aliaspath", "\\|D:\\img", "x"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.path_aliases.at(""), "D:\\img");
  EXPECT_EQ(map_alias_path(p.options, "\\a.lnk"), "D:\\img\\a.lnk");
  EXPECT_EQ(map_alias_path(p.options, ""), "");
}

TEST(PathExpansion, EnvironmentAndShadowCopyForms) {
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

// Output directory, diagnostic log and results file: what is created, what
// is refused and with which message.
class OptionFiles : public test::ScratchDirTest {};

TEST_F(OptionFiles, OutputDirectoryCreatedLevelByLevel) {
  fs::path nested = dir_ / "one" / "two" / "three";
  Parsed p = parse({"-outdir", "\"" + nested.string() + "\"", "x"});
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_EQ(p.options.carve_dump_dir, "\"" + nested.string() + "\"");
  EXPECT_EQ(p.err, "");

  test::write_file(dir_ / "plainfile", std::string("x"));
  fs::path blocked = dir_ / "plainfile" / "sub";
  p = parse({"-outdir", blocked.string(), "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "can't create directory at " + blocked.string() + ": Not a directory, aborting\n");
}

TEST_F(OptionFiles, DiagnosticLogFirstLineIsCommandLine) {
  fs::path log = dir_ / "diag.txt";
  useropts o;
  test::write_file(log, std::string("an earlier log"));
  ArgList args = {"rook", "-diags", log.string(), "-csv", "x"};
  ASSERT_TRUE(parse_useropts(o, args));
  // Replaced only when the run ends well and the log is none of its inputs.
  DiagLog diag;
  ASSERT_TRUE(diag.open(o.diag_log_path, o.command_line_text));
  diag.write("info: volume open");
  EXPECT_EQ(test::slurp(log), "an earlier log");
  ASSERT_TRUE(diag.commit());
  EXPECT_EQ(test::slurp_text(log), "->rook -diags " + log.string() + " -csv x\n->info: volume open\n");

  // An unopenable log is dropped without a word.
  Parsed p = parse({"-diags", (dir_ / "no" / "such" / "dir.txt").string(), "x"});
  EXPECT_TRUE(p.ok);
  DiagLog unopened;
  EXPECT_FALSE(unopened.open(p.options.diag_log_path, "x"));
  unopened.write("lost");
  EXPECT_EQ(p.err, "");
}

TEST_F(OptionFiles, OutputFileProbedOrRefused) {
  ::setenv("ROOK_TEST_OUT", dir_.string().c_str(), 1);
  Parsed p = parse({"-OUTFILE", "%ROOK_TEST_OUT%/results.txt", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(fs::path(p.options.output_path), dir_ / "results.txt");

  // Nothing is created or opened while the options are read: the named file
  // may be the evidence itself, and the folder keeps no probe behind.
  test::write_file(dir_ / "evidence.lnk", std::string("evidence bytes"));
  p = parse({"-csv", "-out", (dir_ / "evidence.lnk").string()});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(test::slurp(dir_ / "evidence.lnk"), "evidence bytes");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  std::string bad = (dir_ / "missing" / "r.txt").string();
  p = parse({"-out", bad, "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "prob opening file " + bad + " for output, aborting\n");
}

// Every other option is consumed with its value; the two that turn
// something off do so.
TEST(OtherOptions, ConsumedWithTheirValues) {
  Parsed p = parse({"-username", "Alice", "-hostname", "WS1", "-base10", "-quiet", "-signal", "evt", "-threads", "4",
                    "-fragment_files", "3", "-zlibex", "z", "-idltimes", "-pipe", "-profile", "-v", "x"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.left, (ArgList{"rook", "x"}));
  EXPECT_FALSE(p.options.sizes_in_hex);
  EXPECT_TRUE(p.options.quiet);
  EXPECT_EQ(p.options.username + p.options.event_name + p.options.zlibex_text, "Aliceevtz");
}

}  // namespace
}  // namespace lnk

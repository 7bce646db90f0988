// The command line: options, values and files they name, and the list of
// names read from standard input with its filters.
#include "cmdline/options.h"

#include <cstdio>

#include "cmdline/diag_log.h"
#include "cmdline/pipe_input.h"
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

TEST_F(OptionFiles, OutputDirectoryCreatedLevelByLevel) {
  fs::path nested = dir_ / "one" / "two" / "three";
  Parsed p = parse({"-outdir", "\"" + nested.string() + "\"", "x"});
  EXPECT_TRUE(fs::is_directory(nested) && p.err.empty()) << p.err;
  EXPECT_EQ(p.options.carve_dump_dir, "\"" + nested.string() + "\"");

  test::write_file(dir_ / "plainfile", std::string("x"));
  fs::path blocked = dir_ / "plainfile" / "sub";
  p = parse({"-outdir", blocked.string(), "x"});
  EXPECT_FALSE(p.ok);
  // The reason is the system's own words.
  EXPECT_EQ(p.err.rfind("can't create directory at " + blocked.string() + ": ", 0), 0u) << p.err;
  EXPECT_TRUE(p.err.ends_with(", aborting\n")) << p.err;

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
  EXPECT_EQ(p.options.username + p.options.event_name + p.options.zlibex_text, "Aliceevtz");

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

}  // namespace
}  // namespace lnk

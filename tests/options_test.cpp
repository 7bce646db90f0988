#include "cmdline/options.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
  p.ok = parse_useropts(p.options, args, "ver: 0.85");
  p.err = testing::internal::GetCapturedStderr();
  p.left = args;
  return p;
}

fs::path fresh_temp_dir(const std::string& tag) {
  fs::path dir = fs::temp_directory_path() / ("rook_opts_" + tag + "_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(OptionMatching, WholeWordAnyCase) {
  Parsed p = parse({"-CSV", "x.lnk"});
  EXPECT_TRUE(p.options.csv);
  EXPECT_EQ(p.left, (ArgList{"rook", "x.lnk"}));

  p = parse({"-csvx", "x.lnk"});
  EXPECT_FALSE(p.options.csv);
  EXPECT_TRUE(p.options.multiline);
  EXPECT_EQ(p.left, (ArgList{"rook", "-csvx", "x.lnk"}));
}

TEST(OptionMatching, ValueTakenEvenWhenItLooksLikeAnOption) {
  ArgList args = {"rook", "-hostname", "-csv", "x"};
  std::string value;
  EXPECT_TRUE(take_value("-HOSTNAME", value, args));
  EXPECT_EQ(value, "-csv");
  EXPECT_EQ(args, (ArgList{"rook", "x"}));

  // An option in last place keeps its place as a positional argument.
  args = {"rook", "x", "-out"};
  EXPECT_FALSE(take_value("-out", value, args));
  EXPECT_EQ(args, (ArgList{"rook", "x", "-out"}));
  Parsed p = parse({"x", "-out"});
  EXPECT_TRUE(p.ok);
  EXPECT_FALSE(p.options.output_path_given);
  EXPECT_EQ(p.left, (ArgList{"rook", "x", "-out"}));
}

TEST(OptionMatching, PresenceTestSkipsProgramPath) {
  EXPECT_FALSE(has_argument("-pipe", {"-pipe", "x"}));
  EXPECT_TRUE(has_argument("-pipe", {"rook", "x", "-PIPE"}));
}

TEST(OptionProcessing, EmptyListAndUnofferedOptionFail) {
  useropts o;
  ArgList none;
  EXPECT_FALSE(parse_useropts(o, none, "ver: 0.85"));
  Parsed p = parse({"-sqlite", "db", "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "This option is not offered in this build\n");
}

TEST(OptionProcessing, ResetsEverythingAndFillsFixedFields) {
  useropts o;
  o.source_path = "stale";
  o.csv = true;
  ArgList args = {"C:\\tools\\rook.exe", "a b", "x"};
  ASSERT_TRUE(parse_useropts(o, args, "ver: 0.85"));
  EXPECT_TRUE(o.source_path.empty());
  EXPECT_FALSE(o.csv);
  EXPECT_EQ(o.program_base_name, "rook");
  EXPECT_EQ(o.command_line_text, "C:\\tools\\rook.exe \"a b\" x");
  EXPECT_EQ(o.artifact_name, "LNK");
  EXPECT_EQ(o.version_text, "ver: 0.85");
  EXPECT_TRUE(o.show_target_mft_entry);
  // The readable report is the default layout.
  EXPECT_TRUE(o.multiline);
  EXPECT_EQ(o.field_separator, "");
  EXPECT_EQ(o.separator_char, 0);
}

TEST(DateTimeFormats, AcceptedLengthsAndMessages) {
  Parsed p = parse({"-dateformat", "YYYY-MM-DD", "x"});
  EXPECT_EQ(p.options.date_format, "yyyy-mm-dd");
  EXPECT_EQ(p.err, "");

  p = parse({"-dateformat", "yy/mm", "x"});
  EXPECT_EQ(p.options.date_format, "mm/dd/yyyy");
  EXPECT_EQ(p.err, "invalid yy/mm, using default format\n");
  EXPECT_TRUE(p.ok);

  p = parse({"-timeformat", "hh:mm:ss.xxxxxx", "x"});
  EXPECT_EQ(p.options.time_format, "hh:mm:ss.xxxxxx");
  p = parse({"-timeformat", "hhmmss.xxxx", "x"});
  EXPECT_EQ(p.options.time_format, "hh:mm:ss.xxx");
  EXPECT_EQ(p.err, "invalid hhmmss.xxxx, using default format\n");
  p = parse({"-timeformat", "hh-mm-ss", "x"});
  EXPECT_EQ(p.options.time_format, "hh:mm:ss.xxx");
  p = parse({"-timeformat", "HH:MM:SS", "x"});
  EXPECT_EQ(p.options.time_format, "hh:mm:ss");
}

TEST(Layouts, SplitDateTimeFollowsPairingAndWhitespace) {
  Parsed p = parse({"-csv", "x"});
  EXPECT_TRUE(p.options.split_date_time);
  EXPECT_EQ(p.options.field_separator, ",");
  EXPECT_EQ(p.options.separator_char, ',');
  EXPECT_EQ(p.options.separator_substitute, ' ');
  EXPECT_FALSE(p.options.multiline);

  p = parse({"-csv", "-pair_datetime", "x"});
  EXPECT_FALSE(p.options.split_date_time);
  p = parse({"-csv", "-pair_datetime", "-no_whitespace", "x"});
  EXPECT_TRUE(p.options.split_date_time);
  EXPECT_FALSE(p.options.whitespace_allowed);

  p = parse({"-bodyfile", "x"});
  EXPECT_EQ(p.options.separator_char, '|');
  EXPECT_EQ(p.options.separator_substitute, ';');

  // The later layout option in processing order wins.
  p = parse({"-bodyfile", "-csv", "x"});
  EXPECT_TRUE(p.options.bodyfile);
  EXPECT_FALSE(p.options.csv);
}

TEST(Layouts, CsvSeparatorChoices) {
  Parsed p = parse({"-csv", "-csv_separator", "TAB", "x"});
  EXPECT_EQ(p.options.field_separator, "\t");
  EXPECT_EQ(p.options.separator_char, 0);
  EXPECT_EQ(p.options.separator_substitute, 0);

  p = parse({"-csv", "-csv_separator", ";", "x"});
  EXPECT_EQ(p.options.field_separator, ";");
  EXPECT_EQ(p.options.separator_char, 0);

  p = parse({"-csv", "-csv_separator", " | ", "-no_whitespace", "x"});
  EXPECT_EQ(p.options.field_separator, "|");
  EXPECT_EQ(p.options.separator_char, '|');
}

TEST(ScannerOptions, IncludeOptionsNeedNtfsScan) {
  Parsed p = parse({"-include_vss_clusters", "img"});
  EXPECT_FALSE(p.options.include_vss_clusters);
  EXPECT_EQ(p.left, (ArgList{"rook", "-include_vss_clusters", "img"}));

  p = parse({"-include_vss_clusters", "-ntfs_scan", "-include_unalloc_clusters", "img"});
  EXPECT_TRUE(p.options.ntfs_scan);
  EXPECT_TRUE(p.options.include_vss_clusters);
  EXPECT_TRUE(p.options.include_unalloc_clusters);
  EXPECT_FALSE(p.options.include_pagefile_clusters);
  EXPECT_EQ(p.left, (ArgList{"rook", "img"}));
}

TEST(ScannerOptions, DeepscanExcludesImageScans) {
  Parsed p = parse({"-deepscan", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.scan_step, 1u);

  const std::string message =
      "options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n"
      "\t[-rawscan and -ntfs_scan] are used for 'dd' images\n"
      "\t[-deepscan] is used for individual files\n";
  p = parse({"-deepscan", "-rawscan", "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, message);
  p = parse({"-ntfs_scan", "-deepscan", "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, message);
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
  Parsed p = parse({"-offset", "0x7E00", "img"});
  EXPECT_EQ(p.options.volume_offset, 32256u);
  p = parse({"-offset", "sector63", "img"});
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

  cmd_params empty;
  EXPECT_EQ(map_alias_path(empty, "C:\\Evidence\\A.LNK"), "C:\\Evidence\\A.LNK");
}

TEST(Aliases, OddListFails) {
  Parsed p = parse({"-alias", "a|b|c", "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "imbalanced alias to true pathfiles, aborting\n");
  // Empty pieces do not count.
  p = parse({"-aliaspath", "a|| b |", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.path_aliases.at("a"), "b");
}

TEST(PathExpansion, EnvironmentAndShadowCopyForms) {
  ::setenv("ROOK_TEST_DIR", "/case/files", 1);
  ::unsetenv("ROOK_TEST_UNSET");
  EXPECT_EQ(expand_path("%ROOK_TEST_DIR%/a.lnk", false), "/case/files/a.lnk");
  EXPECT_EQ(expand_path("%ROOK_TEST_UNSET%/%ROOK_TEST_DIR%", false), "%ROOK_TEST_UNSET%//case/files");
  EXPECT_EQ(expand_path("%VSS%3\\Windows\\a.lnk", true),
            "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3\\Windows\\a.lnk");
  EXPECT_EQ(expand_path("%vss%3", false), "%vss%3");
  EXPECT_EQ(expand_path("100% sure %ROOK_TEST_DIR%", false), "100% sure %ROOK_TEST_DIR%");
  EXPECT_EQ(expand_path("%%", true), "%%");
  // A value that itself holds "%" is not expanded again.
  ::setenv("ROOK_TEST_LOOP", "%ROOK_TEST_LOOP%", 1);
  EXPECT_EQ(expand_path("%ROOK_TEST_LOOP%", false), "%ROOK_TEST_LOOP%");
  // Names past the expansion limit stay as typed.
  std::string long_path(520, 'a');
  EXPECT_EQ(expand_path(long_path + "%ROOK_TEST_DIR%", false), long_path + "%ROOK_TEST_DIR%");
}

TEST(OutputDirectory, CreatedLevelByLevel) {
  fs::path base = fresh_temp_dir("outdir");
  fs::path nested = base / "one" / "two" / "three";
  Parsed p = parse({"-outdir", "\"" + nested.string() + "\"", "x"});
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_EQ(p.options.carve_dump_dir, "\"" + nested.string() + "\"");
  EXPECT_EQ(p.err, "");

  std::ofstream(base / "plainfile") << "x";
  fs::path blocked = base / "plainfile" / "sub";
  p = parse({"-outdir", blocked.string(), "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.carve_dump_dir, "");
  EXPECT_EQ(p.err, "can't create directory at " + blocked.string() + "\n");
  fs::remove_all(base);
}

TEST(DiagnosticLog, FirstLineIsCommandLine) {
  fs::path base = fresh_temp_dir("diags");
  fs::path log = base / "diag.txt";
  useropts o;
  ArgList args = {"rook", "-diags", log.string(), "-csv", "x"};
  ASSERT_TRUE(parse_useropts(o, args, "ver: 0.85"));
  EXPECT_TRUE(o.diag_log_active);
  diag_write(o, "info: volume open");
  diag_printf(o, "err: %s at %d", "bad record", 7);
  diag_printf(o, "%s", std::string(400, 'z').c_str());
  std::ifstream in(log);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "->rook -diags " + log.string() + " -csv x");
  std::getline(in, line);
  EXPECT_EQ(line, "->info: volume open");
  std::getline(in, line);
  EXPECT_EQ(line, "->err: bad record at 7");
  std::getline(in, line);
  EXPECT_EQ(line, "->" + std::string(255, 'z'));

  // An unopenable log is dropped without a word.
  Parsed p = parse({"-diags", (base / "no" / "such" / "dir.txt").string(), "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_FALSE(p.options.diag_log_active);
  EXPECT_EQ(p.options.diag_log_path, "");
  EXPECT_EQ(p.err, "");
  fs::remove_all(base);
}

TEST(OutputFile, CreatedOnceOrRefused) {
  fs::path base = fresh_temp_dir("out");
  ::setenv("ROOK_TEST_OUT", base.string().c_str(), 1);
  Parsed p = parse({"-OUTFILE", "%ROOK_TEST_OUT%/results.txt", "x"});
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.options.output_path, (base / "results.txt").string());
  EXPECT_TRUE(fs::exists(base / "results.txt"));

  std::string bad = (base / "missing" / "r.txt").string();
  p = parse({"-out", bad, "x"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.err, "prob opening file " + bad + " for output, aborting\n");
  fs::remove_all(base);
}

TEST(OtherOptions, StoredAsGiven) {
  Parsed p = parse({"-username", "Alice", "-hostname", "WS1", "-base10", "-quiet", "-signal", "evt",
                    "-threads", "4", "-fragment_files", "3", "-zlibex", "z", "-idltimes", "-pipe",
                    "-profile", "-v", "x"});
  ASSERT_TRUE(p.ok);
  const useropts& o = p.options;
  EXPECT_TRUE(o.username_given && o.hostname_given);
  EXPECT_EQ(o.username, "Alice");
  EXPECT_EQ(o.hostname, "WS1");
  EXPECT_FALSE(o.sizes_in_hex);
  EXPECT_FALSE(o.progress);
  EXPECT_EQ(o.event_name, "evt");
  EXPECT_EQ(o.thread_count, 4u);
  EXPECT_EQ(o.fragment_count, 3u);
  EXPECT_TRUE(o.separate_files);
  EXPECT_TRUE(o.zlibex);
  EXPECT_EQ(o.zlibex_text, "z");
  EXPECT_TRUE(o.idltimes && o.pipe && o.profile && o.verbose);
  EXPECT_EQ(p.left, (ArgList{"rook", "x"}));
}

}  // namespace
}  // namespace lnk

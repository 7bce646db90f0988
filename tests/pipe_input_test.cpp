#include "cmdline/pipe_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

namespace lnk {
namespace {

std::vector<std::string> read_names(const std::string& input, const std::string& filter = "") {
  cmd_params options;
  if (!filter.empty()) build_filter_list(options.filters, filter);
  std::FILE* f = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), f);
  std::rewind(f);
  LineReader reader(f);
  std::vector<std::string> names;
  std::string name;
  while (next_pipe_name(reader, options, name)) names.push_back(name);
  std::fclose(f);
  return names;
}

bool accepts(const std::string& filter, const std::string& path) {
  std::vector<filter_entry> filters;
  EXPECT_TRUE(build_filter_list(filters, filter));
  return filter_accepts(path, filters);
}

TEST(PipeNames, EveryLineEndGivesTheSameName) {
  EXPECT_EQ(read_names("a.lnk\r\nb.lnk\nc.lnk\rd.lnk\n\re.lnk"),
            (std::vector<std::string>{"a.lnk", "b.lnk", "c.lnk", "d.lnk", "e.lnk"}));
  EXPECT_EQ(read_names("\n\r\n\nonly.lnk\n\n"), (std::vector<std::string>{"only.lnk"}));
  EXPECT_TRUE(read_names("").empty());
}

TEST(PipeNames, LongLineArrivesInPieces) {
  std::vector<std::string> names = read_names(std::string(5000, 'n') + "\n");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].size(), 4095u);
  EXPECT_EQ(names[1].size(), 905u);
}

TEST(PipeNames, FilteredThenExpanded) {
  ::setenv("ROOK_PIPE_HOME", "/home/u", 1);
  EXPECT_EQ(read_names("%ROOK_PIPE_HOME%/x.lnk\r\n/tmp/y.txt\n%ROOK_PIPE_HOME%/z.LNK\n", "*.lnk"),
            (std::vector<std::string>{"/home/u/x.lnk", "/home/u/z.LNK"}));
}

TEST(Filter, StarPositions) {
  EXPECT_TRUE(accepts("*.lnk", "C:\\dir\\a.LNK"));
  EXPECT_FALSE(accepts("*.lnk", "C:\\dir\\a.lnk.bak"));
  // Only the first occurrence of the pattern counts.
  EXPECT_FALSE(accepts("*.lnk", "/x/a.lnk.lnk"));
  EXPECT_TRUE(accepts("*recent*", "/x/MyRecentFiles.txt"));
  EXPECT_FALSE(accepts("*recent*", "/recent/a.txt"));
  EXPECT_TRUE(accepts("a*|*.lnk", "/x/abc.txt"));
  EXPECT_TRUE(accepts("a*|*.lnk", "/x/b.lnk"));
  EXPECT_FALSE(accepts("a*|*.lnk", "/x/b.txt"));
  // A star in the middle is dropped: a*b is the plain pattern ab.
  EXPECT_TRUE(accepts("a*b", "ab"));
  EXPECT_FALSE(accepts("a*b", "axb"));
  EXPECT_TRUE(accepts("Exact.LNK", "d/EXACT.lnk"));
  EXPECT_FALSE(accepts("exact.lnk", "d/exact.lnk2"));
  EXPECT_FALSE(accepts("*", ""));
}

TEST(Filter, ListSplitting) {
  std::vector<filter_entry> filters;
  ASSERT_TRUE(build_filter_list(filters, "a*|b*, *.lnk"));
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].pattern, "a*|b*");
  EXPECT_EQ(filters[1].name_pattern, ".lnk");
  EXPECT_TRUE(filters[1].leading_wildcard);

  ASSERT_TRUE(build_filter_list(filters, "*.txt|*|*.lnk"));
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_TRUE(filters[0].match_all);
  EXPECT_TRUE(accepts("*|*.lnk", "anything.doc"));

  ASSERT_TRUE(build_filter_list(filters, "*.LNK:zone*"));
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].name_pattern, ".lnk");
  EXPECT_EQ(filters[0].colon_part, "zone");
  EXPECT_TRUE(filters[0].colon_trailing_wildcard);
  EXPECT_TRUE(accepts("*.lnk:zone*", "a.lnk"));
  ASSERT_TRUE(build_filter_list(filters, "*:$data"));
  EXPECT_TRUE(filters[0].match_all);

  ASSERT_TRUE(build_filter_list(filters, " | "));
  ASSERT_EQ(filters.size(), 1u);
}

TEST(SplitPath, SeparatorsAndDotDot) {
  std::string dir, file;
  ASSERT_TRUE(split_path("C:\\Users\\a.lnk", dir, file));
  EXPECT_EQ(dir, "C:\\Users");
  EXPECT_EQ(file, "a.lnk");
  ASSERT_TRUE(split_path("/home/u/a.lnk", dir, file));
  EXPECT_EQ(dir, "/home/u");
  EXPECT_EQ(file, "a.lnk");
  // Backslash wins over a later slash.
  ASSERT_TRUE(split_path("a\\b/c", dir, file));
  EXPECT_EQ(dir, "a");
  EXPECT_EQ(file, "b/c");
  ASSERT_TRUE(split_path("C:\\x\\..", dir, file));
  EXPECT_EQ(dir, "C:\\x\\..");
  EXPECT_EQ(file, ".");
  ASSERT_TRUE(split_path("/x/..", dir, file));
  EXPECT_EQ(dir, "/x//..");
  ASSERT_TRUE(split_path("..", dir, file));
  EXPECT_EQ(dir, "..");
  EXPECT_EQ(file, ".");
  ASSERT_TRUE(split_path("/root.lnk", dir, file));
  EXPECT_EQ(dir, ".");
  EXPECT_EQ(file, "/root.lnk");
  EXPECT_FALSE(split_path("", dir, file));
}

}  // namespace
}  // namespace lnk

#include "cmdline/pipe_input.h"

#include <gtest/gtest.h>
#include "tests/set_environment.h"

#include <cstdio>

namespace lnk {
namespace {

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

TEST(PipeNames, LineEndsBlankLinesAndLongLines) {
  EXPECT_EQ(read_names("a.lnk\r\nb.lnk\nc.lnk\rd.lnk\n\re.lnk"), (Names{"a.lnk", "b.lnk", "c.lnk", "d.lnk", "e.lnk"}));
  EXPECT_EQ(read_names("\n\r\n\nonly.lnk\n\n"), (Names{"only.lnk"}));
  EXPECT_EQ(read_names(std::string("a.lnk\0ignored\nb.lnk", 20)), (Names{"a.lnk", "b.lnk"}));
  EXPECT_TRUE(read_names("").empty());
  EXPECT_EQ(read_names(std::string(5000, 'n') + "\n"), (Names{std::string(4095, 'n'), std::string(905, 'n')}));
}

TEST(PipeNames, FilteredThenExpanded) {
  ::setenv("ROOK_PIPE_HOME", "/home/u", 1);
  EXPECT_EQ(read_names("%ROOK_PIPE_HOME%/x.lnk\r\n/tmp/y.txt\n%ROOK_PIPE_HOME%/z.LNK\n", "*.lnk"),
            (Names{"/home/u/x.lnk", "/home/u/z.LNK"}));
}

TEST(Filter, StarPositions) {
  const struct { const char* filter; const char* path; bool accepted; } cases[] = {
      {"*.lnk", "C:\\dir\\a.LNK", true},
      {"*.lnk", "C:\\dir\\a.lnk.bak", false},
      {"*.lnk", "/x/a.lnk.lnk", false},  // only the first occurrence of the pattern counts
      {"*recent*", "/x/MyRecentFiles.txt", true},
      {"*recent*", "/recent/a.txt", false},
      {"a*|*.lnk", "/x/abc.txt", true},
      {"a*|*.lnk", "/x/b.lnk", true},
      {"a*|*.lnk", "/x/b.txt", false},
      {"a*b", "ab", true},  // a star in the middle is dropped
      {"a*b", "axb", false},
      {"Exact.LNK", "d/EXACT.lnk", true},
      {"exact.lnk", "d/exact.lnk2", false},
      {"*", "", false},
      {"*|*.lnk", "anything.doc", true},
      {"*.lnk:zone*", "a.lnk", true},
  };
  for (const auto& c : cases) {
    std::vector<filter_entry> filters;
    EXPECT_TRUE(build_filter_list(filters, c.filter));
    EXPECT_EQ(filter_accepts(c.path, filters), c.accepted) << c.filter << " " << c.path;
  }
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

  ASSERT_TRUE(build_filter_list(filters, "*.LNK:zone*"));
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].name_pattern, ".lnk");
  EXPECT_EQ(filters[0].colon_part, "zone");
  EXPECT_TRUE(filters[0].colon_trailing_wildcard);
  ASSERT_TRUE(build_filter_list(filters, "*:$data"));
  EXPECT_TRUE(filters[0].match_all);

  ASSERT_TRUE(build_filter_list(filters, " | "));
  EXPECT_EQ(filters.size(), 1u);
}

TEST(SplitPath, SeparatorsAndDotDot) {
  const struct { const char *path, *dir, *file; } cases[] = {
      {"C:\\Users\\a.lnk", "C:\\Users", "a.lnk"},
      {"/home/u/a.lnk", "/home/u", "a.lnk"},
      {"a\\b/c", "a", "b/c"},  // backslash wins over a later slash
      {"C:\\x\\..", "C:\\x\\..", "."},
      {"/x/..", "/x//..", "."},
      {"..", "..", "."},
      {"/root.lnk", ".", "/root.lnk"},
  };
  for (const auto& c : cases) {
    std::string dir, file;
    ASSERT_TRUE(split_path(c.path, dir, file)) << c.path;
    EXPECT_EQ(dir, c.dir) << c.path;
    EXPECT_EQ(file, c.file) << c.path;
  }
  std::string dir, file;
  EXPECT_FALSE(split_path("", dir, file));
}

}  // namespace
}  // namespace lnk

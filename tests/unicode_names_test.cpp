// Files with non-ASCII names, named on the command line, in a -pipe list and
// as the results file: opened, and printed as they were given.
#include <filesystem>

#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::contains;

const std::string kSample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class UnicodeNames : public test::ScratchDirTest {
 protected:
  // A copy of the sample shortcut under name; returns its path in UTF-8.
  std::string sample_as(const std::string& name) {
    const fs::path path = dir_ / fs::path(std::u8string(name.begin(), name.end()));
    fs::copy_file(kSample, path, fs::copy_options::overwrite_existing);
    return utf8_of(path);
  }
};

const char* const kNames[] = {"Привет мир.lnk", "日本語のファイル.lnk", "한국어_Ñandú.lnk"};

TEST_F(UnicodeNames, NamedOnTheCommandLine) {
  for (const char* name : kNames) {
    const std::string path = sample_as(name);
    const test::CommandResult r = run({path});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_TRUE(contains(r.out, "source path/filename:     " + path + "\n")) << r.out;
    const size_t command = r.out.find("\ncommand:");
    ASSERT_NE(command, std::string::npos);
    EXPECT_TRUE(contains(r.out.substr(command, r.out.find('\n', command + 1) - command), path)) << r.out;
    // The record itself was read, not only the name printed.
    EXPECT_TRUE(contains(r.out, "Target file size:")) << r.out;
    EXPECT_FALSE(contains(r.err, "can't read")) << r.err;
  }
}

// The list on standard input, the results to a file with a non-ASCII name.
TEST_F(UnicodeNames, ListedOnStandardInputIntoANonAsciiResultsFile) {
  std::string list;
  std::vector<std::string> paths;
  for (const char* name : kNames) {
    paths.push_back(sample_as(name));
    list += paths.back() + "\n";
  }
  const std::string results = utf8_of(dir_) + "/результаты 結果.txt";
  const test::CommandResult r = run({"-pipe", "-csv", "-quiet", "-out", results}, list);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::vector<std::string> lines =
      test::lines_after_run_header(test::slurp_text(fs::path(std::u8string(results.begin(), results.end()))));
  ASSERT_EQ(lines.size(), 1 + paths.size());
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(test::split_fields(lines[1 + i], ",")[0], paths[i]);
}

}  // namespace
}  // namespace lnk

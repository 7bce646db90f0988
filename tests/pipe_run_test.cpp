// File lists on standard input, end to end through the built program.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::kSampleLnk;
using test::lines_after_run_header;
using test::split_fields;

class PipeRun : public test::ScratchDirTest {
 protected:
  std::string sample_copy(const std::string& name) {
    fs::copy_file(kSampleLnk, dir_ / name, fs::copy_options::overwrite_existing);
    return (dir_ / name).string();
  }
};

TEST_F(PipeRun, TimelineLayoutsWriteOneHeaderPerRun) {
  const std::string list = kSampleLnk + "\n" + sample_copy("two,parts.lnk") + "\n";
  std::vector<std::string> lines = lines_after_run_header(run({"-pipe", "-csvl2t", "-no_whitespace", "-quiet"}, list).out);
  ASSERT_EQ(lines.size(), 7u);  // one header, three distinct target times per record
  EXPECT_EQ(lines[0].rfind("date,time,timezone,MACB,", 0), 0u);
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

TEST_F(PipeRun, NothingInTheListStopsTheRun) {
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
  // The long line arrives as two names.
  std::vector<std::string> expected{std::string(4095, 'n'), std::string(905, 'n'), missing, through_file, fifo, "/dev/null"};
#ifdef _WIN32
  // Whether Windows reports a pipe and a POSIX device name varies.
  for (auto* names : {&problems, &expected})
    std::erase_if(*names, [&](const std::string& name) { return name == fifo || name == "/dev/null"; });
#endif
  EXPECT_EQ(problems, expected);
  const std::vector<std::string> rows = lines_after_run_header(r.out);
  ASSERT_EQ(rows.size(), 2u);  // the header and the one record
  EXPECT_EQ(split_fields(rows[1], ",")[0], kSampleLnk);
}

}  // namespace
}  // namespace lnk

// The platform layer: the byte reader, code pages, UTF-8/UTF-16, terminals,
// file status and files with non-ASCII names.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/folder_walk.h"
#include "platform/text.h"
#include "tests/delimited_lines.h"
#include "tests/image_test_support.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kFffd = "\xEF\xBF\xBD";

std::string decode(const Bytes& bytes, uint32_t codepage) { return platform::ansi_to_utf8(bytes, codepage); }

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

TEST(ByteReader, NumbersRangesAndTexts) {
  const std::vector<uint8_t> b = {0x4c, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00};
  ByteReader r(b);
  EXPECT_EQ(std::make_tuple(r.u32(0), r.u16(4), r.failed()), std::make_tuple(0x4cu, 0x1401u, false));
  EXPECT_EQ(r.u64(1), 0u);  // needs 9 bytes
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.u32(0), 0x4cu);  // later reads in range still work, the failure sticks
  EXPECT_TRUE(r.failed());

  // Ranges cannot wrap; sub-readers are clipped.
  EXPECT_TRUE(fits(10, 0, 10) && !fits(11, 0, 10) && !fits(UINT64_MAX, 2, 10) && !fits(8, UINT64_MAX - 4, 10));
  const std::vector<uint8_t> ten(10, 0xAA);
  EXPECT_EQ(std::make_tuple(ByteReader(ten).sub(6, 100).size(), ByteReader(ten).sub(11, 1).size()),
            std::make_tuple(4u, 0u));

  // Texts stop at a NUL, at their budget or at the end of the bytes.
  const std::vector<uint8_t> t = {'A', 0, 'B', 0, 0, 0, 'C', 0, 'x', 'y', 0, 'z'};
  const ByteReader texts(t);
  EXPECT_EQ(std::make_tuple(texts.utf16z(0, 100), texts.utf16z(0, 2)), std::make_tuple("AB", "A"));
  EXPECT_EQ(texts.utf16z(6, 100), "C\xe7\xa5\xb8\xe7\xa8\x80");  // no terminator: ends at the buffer end
  EXPECT_EQ(std::make_tuple(texts.ansiz(8, 100), texts.ansiz(11, 100), texts.ansiz(12, 100)),
            std::make_tuple("xy", "z", ""));
}

// Expected texts come from Python's code-page tables.
TEST(CodePage, EachOfferedPageDecodesItsLettersAndRandomBytesToValidUtf8) {
  const struct { uint32_t codepage; Bytes bytes; const char* text; } cases[] = {
      {1250, {0x8A, 0xE8}, "Šč"},     {1251, {0xC6, 0xB8}, "Жё"},     {1252, {0x80, 0xE9}, "€é"},
      {1253, {0xD9, 0xDC}, "Ωά"},     {1254, {0xD0, 0xFE}, "Ğş"},     {1255, {0xE0, 0xF9}, "אש"},
      {1256, {0xC7, 0xC8}, "اب"},     {1257, {0xC0, 0xFE}, "Ąž"},     {1258, {0xD0, 0xF5}, "Đơ"},
      {437, {0x80, 0xA4}, "Çñ"},      {850, {0x9B, 0x92}, "øÆ"},      {866, {0x86, 0xF1}, "Жё"},
      {874, {0xA1, 0xA2}, "กข"},      {932, {0x82, 0xA0, 0x8A, 0xBF}, "あ漢"},
      {936, {0xC4, 0xE3, 0xBA, 0xC3}, "你好"},                         {949, {0xB0, 0xA1, 0xC7, 0xD1}, "가한"},
      {950, {0xA4, 0x40, 0xA4, 0xA4}, "一中"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(platform::codepage_supported(c.codepage)) << c.codepage;
    EXPECT_EQ(decode(c.bytes, c.codepage), c.text) << c.codepage;
  }

  // Whatever the bytes, the result is well-formed UTF-8 and every byte below
  // 0x80 outside a double-byte character survives.
  std::mt19937 generator(15);
  for (uint32_t codepage : {1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 437u, 850u, 866u, 874u,
                            932u, 936u, 949u, 950u, 65001u, 12345u}) {
    for (int round = 0; round < 300; ++round) {
      Bytes bytes(generator() % 48);
      for (auto& b : bytes) b = static_cast<uint8_t>(generator());
      const std::string text = decode(bytes, codepage);
      ASSERT_EQ(valid_utf8(text), text) << codepage << " round " << round;
      ASSERT_GE(text.size(), bytes.size()) << codepage;
    }
  }
}

// Every byte that is no character becomes one U+FFFD and decoding goes on
// with the next byte, the same in both builds.
TEST(CodePage, UnmappedBytesCombiningMarksAndUnknownPages) {
  const struct { uint32_t codepage; Bytes bytes; std::string text; } cases[] = {
      {1252, {0x41, 0x81, 0x42}, "A" + kFffd + "B"},  // a hole of 1252
      {1251, {0x98}, kFffd},
      {1253, {0xAA}, kFffd},                      // above 0x9F, still a hole
      {932, {0x41, 0x82}, "A" + kFffd},           // the text ends after a lead byte
      {932, {0x82, 0x20, 0x82, 0xA0}, kFffd + " あ"},  // a lead byte before a blank
      {932, {0xF0, 0x40}, kFffd + "@"},            // user-defined range, not text
      {950, {0x80, 0xA4, 0x40}, kFffd + "一"},
      {936, {0xA4, 0x41}, kFffd + "A"},
      {1252, {0x00, 0xE9, 0x00}, std::string("\0é\0", 4)},  // NULs are kept, not an end
      {1252, {}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.bytes, c.codepage), c.text) << c.codepage;

  // glibc would compose alef and qamats into U+FB2F; Windows does not.
  EXPECT_EQ(decode({0xE0, 0xC8, 0xF9}, 1255), "\u05D0\u05B8\u05E9");
  EXPECT_EQ(decode({0x61, 0xEC}, 1258), "a\u0301");
  EXPECT_FALSE(platform::codepage_supported(12345));
  EXPECT_EQ(decode({0x41, 0xE9, 0x42}, 12345), "A" + kFffd + "B");
  EXPECT_EQ(decode({0x41, 0x42}, 12345), "AB");
  // Code page 65001 is UTF-8 itself: only malformed bytes change.
  EXPECT_EQ(decode({0xC3, 0xA9, 0xC0, 0xAF, 0xF0, 0x9F, 0x98, 0x80}, 65001), "é" + kFffd + kFffd + "😀");
  // A second call on the same page starts afresh after a cut-off character.
  EXPECT_EQ(decode({0x82}, 932), kFffd);
  EXPECT_EQ(decode({0xB1, 0x41}, 932), "ｱA");  // a one-byte katakana
}

TEST(Utf, Utf8AndUtf16RoundTripRepairAndGuidText) {
  const std::string text = "aé€😀日本";
  const std::u16string units = utf8_to_utf16(text);
  EXPECT_EQ(units, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0x65E5, 0x672C}));
  EXPECT_EQ(utf16_to_utf8(units), text);
  EXPECT_EQ(valid_utf8(text), text);

  // Malformed forms: each byte that starts no valid sequence is one U+FFFD.
  const struct { std::string bytes; std::string repaired; } cases[] = {
      {"\xC0\xAF", kFffd + kFffd},                      // overlong "/"
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},          // overlong, three bytes
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},          // an encoded surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
      {"a\xE2\x82", "a" + kFffd + kFffd},               // cut off at the end
      {"\x80z", kFffd + "z"},                            // a lone continuation byte
      {"\xFF", kFffd},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(valid_utf8(c.bytes), c.repaired);
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(c.bytes)), c.repaired);
  }
  // Lone surrogates in UTF-16 likewise; a pair is one character.
  EXPECT_EQ(utf16le_to_utf8(std::vector<uint8_t>{0x3d, 0xd8, 0x00, 0xde}), "\xf0\x9f\x98\x80");
  EXPECT_EQ(utf16le_to_utf8(std::vector<uint8_t>{0x3d, 0xd8, 'a', 0}), "\xef\xbf\xbd" "a");
  EXPECT_EQ(utf16_to_utf8(std::u16string{0xD800, u'A'}), kFffd + "A");
  EXPECT_EQ(utf16_to_utf8(std::u16string{0xDC00}), kFffd);
  EXPECT_EQ(utf16_to_utf8(std::u16string{u'A', 0xD83D}), "A" + kFffd);

  Guid g;
  ASSERT_TRUE(parse_guid("00021401-0000-0000-C000-000000000046", g));
  const Guid stored = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  EXPECT_EQ(g, stored);
  EXPECT_EQ(guid_text(g), "00021401-0000-0000-c000-000000000046");
  EXPECT_EQ(guid_literal("00021401-0000-0000-C000-000000000046"), stored);
  EXPECT_EQ(guid_text(guid_literal("0907616e-f5e6-48d8-9d61-a91c3d28106d")),
            "0907616e-f5e6-48d8-9d61-a91c3d28106d");
}

#ifdef _WIN32
TEST(Utf, WideStringsOfTheWindowsCalls) {
  EXPECT_EQ(platform::wide_to_utf8(L"Привет \U0001F600"), "Привет 😀");
  EXPECT_EQ(platform::utf8_to_wide("日本\xFF"), std::wstring(L"日本\uFFFD"));
  EXPECT_EQ(platform::wide_to_utf8(nullptr), "");
}

// On POSIX the status line tests cover this through a pseudo-terminal.
TEST(Terminal, StandardErrorToAFileIsNoTerminal) {
  const fs::path dir = test::make_scratch_dir("terminal");
  HANDLE file = CreateFileW((dir / "err.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, file);
  const bool to_file = platform::stderr_is_terminal();
  bool to_console = false;
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
  if (console != INVALID_HANDLE_VALUE) {
    SetStdHandle(STD_ERROR_HANDLE, console);
    to_console = platform::stderr_is_terminal();
    CloseHandle(console);
  }
  SetStdHandle(STD_ERROR_HANDLE, saved);
  CloseHandle(file);
  fs::remove_all(dir);
  EXPECT_FALSE(to_file);
  if (console == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console attached to this process";
  EXPECT_TRUE(to_console);
}
#endif

class PlatformFiles : public test::ScratchDirTest {};

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
// File systems stamp times from a clock that may lag the one read here by a
// few milliseconds.
constexpr uint64_t kStampSlack = 20 * 10000;

uint64_t filetime_now() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFiletime +
         static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100);
}

#ifndef _WIN32
// A partition's place on its disk from a sysfs tree laid out as the kernel
// lays it out: a partition, a whole disk, a mapped device, a name sysfs
// does not know.
TEST_F(PlatformFiles, PartitionStartFromSysfs) {
  const fs::path sys = dir_ / "block";
  const auto entry = [&](const std::string& name, std::vector<std::pair<std::string, std::string>> files) {
    fs::create_directories(sys / name);
    for (const auto& [file, text] : files) {
      if (text.empty()) fs::create_directories(sys / name / file);
      else test::write_file(sys / name / file, text + "\n");
    }
    test::write_file(dir_ / name, std::string("device"));  // stands in for /dev/NAME
    return utf8_of(dir_ / name);
  };
  struct Case { std::string path; bool known; uint64_t offset; int32_t number; };
  const Case cases[] = {
      {entry("sdb2", {{"partition", "2"}, {"start", "14336"}}), true, 14336 * 512, 2},
      {entry("sdb", {}), true, 0, -1},
      {entry("sdc1", {{"partition", "1"}, {"start", "not a number"}}), false, 0, -1},
      {entry("dm-3", {{"dm", ""}}), false, 0, -1},
      {utf8_of(dir_ / "unlisted"), false, 0, -1},
  };
  for (const Case& c : cases) {
    platform::DeviceGeometry g;
    platform::read_partition_start(c.path, g, utf8_of(sys));
    EXPECT_EQ(std::make_tuple(g.partition_known, g.partition_offset, g.partition_number, g.partition_note.empty()),
              std::make_tuple(c.known, c.offset, c.number, c.known))
        << c.path;
  }
}
#endif

#ifndef _WIN32
// A folder operand is walked as `find DIR -type f` lists it: links neither
// followed nor listed, a pipe left out, a folder that cannot be listed
// named, and a bind mount of a folder inside itself walked once.
TEST_F(PlatformFiles, FolderWalkLeavesLinksAndLoopsOut) {
  const fs::path top = dir_ / "top";
  fs::create_directories(top / "b" / "deep");
  fs::create_directories(top / "loop");
  for (const char* name : {"z.lnk", "a.lnk", "b/x", "b/deep/y"}) test::write_file(top / name, std::string("x"));
  fs::create_directory_symlink(top, top / "b" / "up");
  fs::create_symlink(top / "a.lnk", top / "link.lnk");
  ASSERT_EQ(::mkfifo((top / "pipe").c_str(), 0600), 0);
  const bool bound = test::shell("mount --bind " + test::q(top) + " " + test::q(top / "loop") + " 2>/dev/null").status == 0;
  platform::FolderWalk walk = platform::walk_folder(utf8_of(top));
  if (bound) test::shell("umount " + test::q(top / "loop"));
  std::sort(walk.files.begin(), walk.files.end());
  const std::string t = utf8_of(top);
  EXPECT_EQ(walk.files, (std::vector<std::string>{t + "/a.lnk", t + "/b/deep/y", t + "/b/x", t + "/z.lnk"}));
  EXPECT_TRUE(walk.unlisted.empty());
  if (!bound) std::cout << "bind mounts need root: the loop case was not run\n";

  walk = platform::walk_folder(utf8_of(top / "a.lnk"));
  ASSERT_EQ(walk.unlisted.size(), 1u);
  EXPECT_EQ(walk.unlisted[0].second, std::strerror(ENOTDIR));
}
#endif

TEST_F(PlatformFiles, CreationTimeIsWhenTheFileWasMade) {
#ifdef __linux__
  {  // procfs keeps no birth time: the creation time is unknown, not the change time.
    platform::FileStatus status;
    status.created = 1;
    status.created_known = true;
    ASSERT_TRUE(platform::file_status("/proc/self/stat", status));
    EXPECT_EQ(std::make_tuple(status.created_known, status.created), std::make_tuple(false, 0u));
    EXPECT_NE(status.modified, 0u);
  }
#endif
  const fs::path path = dir_ / "born.bin";
  const uint64_t before = filetime_now();
  test::write_file(path, std::string("x"));
  const uint64_t after = filetime_now();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  // Moves the change time on POSIX, not the creation time.
  fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
  test::write_file(dir_ / "later.bin", std::string("y"));

  platform::FileStatus status;
  ASSERT_TRUE(platform::file_status(utf8_of(path), status));
  if (!status.created_known) {
    EXPECT_EQ(status.created, 0u);
    GTEST_SKIP() << "the scratch folder's file system keeps no creation time";
  }
  EXPECT_GE(status.created + kStampSlack, before);
  EXPECT_LE(status.created, after + kStampSlack);
  platform::FileStatus later;
  ASSERT_TRUE(platform::file_status(utf8_of(dir_ / "later.bin"), later));
  EXPECT_GT(later.created, status.created + 50 * 10000);
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
}

// Names in Cyrillic, Japanese and Korean reach the file system intact
// through every call that takes a path; the status gives size and times.
TEST_F(PlatformFiles, NonAsciiNamesOpenReadAndWrite) {
  for (const std::string name : {"Отчёт.bin", "日本語のファイル.bin", "한국어 ñ.bin"}) {
    const std::string path = utf8_of(dir_) + "/" + name;
    std::ofstream(platform::native_path(path), std::ios::binary) << "content";
    EXPECT_TRUE(fs::exists(path_of(path))) << path;

    platform::FileStatus status;
    ASSERT_TRUE(platform::file_status(path, status)) << path;
    auto file = platform::open_input(path);
    ASSERT_NE(file, nullptr) << path;
    char buffer[8] = {};
    EXPECT_EQ(std::make_tuple(status.size, file->size(), file->read_at(3, buffer, sizeof buffer)),
              std::make_tuple(7u, 7u, 4));
    EXPECT_EQ(std::string(buffer), "tent");
  }
  // 2001-02-03 04:05:06 UTC, as set.
  const std::string path = utf8_of(dir_) + "/Отчёт.bin";
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(981173106));
  fs::last_write_time(path_of(path), std::chrono::file_clock::from_sys(when));
  platform::FileStatus status;
  ASSERT_TRUE(platform::file_status(path, status));
  EXPECT_EQ(status.modified, kUnixEpochAsFiletime + 981173106ULL * 10000000ULL);
  EXPECT_NE(status.accessed, 0u);
  EXPECT_FALSE(platform::file_status(utf8_of(dir_ / "absent.bin"), status));
  EXPECT_FALSE(platform::file_status("", status));

  const std::string folder = utf8_of(dir_) + "/Папка";
  EXPECT_TRUE(platform::make_directory(folder) && platform::is_directory(folder));
  EXPECT_TRUE(fs::is_directory(path_of(folder)));
  // A folder is no input file.
  EXPECT_EQ(platform::open_input(folder), nullptr);
}

// Files with non-ASCII names, named on the command line, in a -pipe list and
// as the results file: opened, and printed as they were given.
TEST_F(PlatformFiles, UnicodeNamesOnTheCommandLineAndListedOnStandardInput) {
  const auto sample_as = [&](const std::string& name) {
    const fs::path path = dir_ / path_of(name);
    fs::copy_file(std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk", path);
    return utf8_of(path);
  };
  std::string list;
  std::vector<std::string> paths;
  for (const char* name : {"Привет мир.lnk", "日本語のファイル.lnk", "한국어_Ñandú.lnk"}) {
    const std::string path = sample_as(name);
    paths.push_back(path);
    list += path + "\n";
    const test::CommandResult r = run({path});
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_TRUE(test::contains(r.out, "source path/filename:     " + path + "\n")) << r.out;
    const size_t command = r.out.find("\ncommand:");
    ASSERT_NE(command, std::string::npos);
    EXPECT_TRUE(test::contains(r.out.substr(command, r.out.find('\n', command + 1) - command), path)) << r.out;
    // The record itself was read, not only the name printed.
    EXPECT_TRUE(test::contains(r.out, "Target file size:")) << r.out;
    EXPECT_FALSE(test::contains(r.err, "can't read")) << r.err;
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

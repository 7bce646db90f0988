// Volumes laid out the way Windows leaves a profile (a compressed Recent
// folder, a deleted folder tree, a folder whose record was reused), made by
// tests/data/make_ntfs_fixtures.sh: every shortcut and jump list sleuthkit
// lists is reported under sleuthkit's path, record for record as the
// program reports the file icat copies out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

bool jump_list_name(const std::string& path) {
  const std::string lower = to_lower_ascii(path);
  return lower.ends_with("destinations-ms");
}

// One -json record: a key of its source, its type, and the record
// without its source and without the offsets that place it in its source.
struct JsonRecord {
  std::string key, type, record;
};

std::vector<JsonRecord> json_records(const fs::path& file, const std::string& key) {
  const std::string text = test::command_output(
      "jq -r '\"\\(" + key + ")\\t\\(.source.type)\\t\\(del(.source) | del(.. | .offset?) | tojson)\"' " +
      test::quoted(file.string()));
  std::vector<JsonRecord> out;
  for (const std::string& line : test::split_lines(text)) {
    const size_t first = line.find('\t'), second = line.find('\t', first + 1);
    if (second != std::string::npos)
      out.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
  }
  return out;
}

class NtfsEvidence : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    for (const char* tool : {"fls", "icat", "jq"})
      if (!test::have_tool(tool)) GTEST_SKIP() << tool << " is needed";
    image_ = corpus_volume();
    if (image_.empty()) GTEST_SKIP() << "corpus, root, /dev/fuse, mkntfs, ntfs-3g and setfattr are needed";
  }

  // The sleuthkit-listed shortcuts (or jump lists) of the volume: each is
  // reported with fls's path (" (deleted)" added), and its records are those
  // of the program run on icat's copy of it. Returns the files compared.
  size_t expect_records_as_files(bool jump_lists) {
    const std::string& image = image_;
    const test::CommandResult scan = run({image, "-ntfs_scan", "-json", "-quiet", "-out", (dir_ / "scan.json").string()});
    EXPECT_EQ(scan.status, 0) << scan.err;
    std::map<uint64_t, std::string> listed;
    for (const test::FlsName& n : test::fls_names(image, 0))
      if (!n.directory && !n.reallocated && test::selected_name(n.path) && jump_list_name(n.path) == jump_lists)
        listed.emplace(n.entry, n.path + (n.deleted ? " (deleted)" : ""));
    std::string pipe_list;
    for (const auto& [entry, path] : listed) {
      const fs::path copy = dir_ / "files" / std::to_string(entry) / path.substr(path.rfind('\\') + 1);
      fs::create_directories(copy.parent_path());
      test::write_file(copy, test::icat_bytes(image, 0, entry));
      pipe_list += copy.string() + "\n";
    }
    const test::CommandResult files =
        run({"-pipe", "-json", "-quiet", "-out", (dir_ / "files.json").string()}, pipe_list);
    EXPECT_EQ(files.status, 0) << files.err;

    std::map<uint64_t, std::vector<std::string>> scanned, copied;
    for (const JsonRecord& r : json_records(dir_ / "scan.json", ".source.mft_entry")) {
      const uint64_t entry = std::stoull(r.key);
      if ((to_lower_ascii(r.type).find("destinations-ms") != std::string::npos) != jump_lists) continue;
      const auto found = listed.find(entry);
      if (found == listed.end()) {
        ADD_FAILURE() << "fls does not list " << r.type;
        continue;
      }
      // A jump list's label adds how each record was found.
      const std::string& path = found->second;
      EXPECT_EQ(r.type.rfind(jump_lists ? path.substr(0, path.find(" (deleted)")) : path, 0), 0u)
          << r.type << " is not " << path;
      scanned[entry].push_back(r.record);
    }
    for (const JsonRecord& r : json_records(dir_ / "files.json", ".source.path"))
      copied[std::stoull(fs::path(r.key).parent_path().filename().string())].push_back(r.record);
    size_t compared = 0;
    for (const auto& [entry, path] : listed) {
      EXPECT_EQ(scanned[entry], copied[entry]) << path;
      compared += !copied[entry].empty();
    }
    return compared;
  }

  // A profile volume of corpus files, built once and kept for the next
  // test (the committed one of sample shortcuts is the scan tests').
  static std::string corpus_volume() {
    const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus";
    if (!fs::exists(corpus / "lnk")) return {};
    for (const char* tool : {"mkntfs", "ntfs-3g", "setfattr"})
      if (!test::have_tool(tool)) return {};
    if (::geteuid() != 0 || !fs::exists("/dev/fuse")) return {};
    // Every fourth corpus shortcut (each costs an icat run) and every jump
    // list; shortcuts first: the script plants the first three in the
    // deleted tree.
    std::vector<std::string> files;
    for (const char* folder : {"lnk", "jumplists"}) {
      const bool shortcuts = std::string(folder) == "lnk";
      std::vector<std::string> found;
      for (const auto& f : fs::recursive_directory_iterator(corpus / folder))
        if (f.is_regular_file() && (shortcuts || jump_list_name(f.path().string()))) found.push_back(f.path().string());
      std::sort(found.begin(), found.end());
      for (size_t i = 0; i < found.size(); i += shortcuts ? 4 : 1) files.push_back(found[i]);
    }
    const std::string script = std::string(ROOK_SOURCE_DIR) + "/tests/data/make_ntfs_fixtures.sh";
    std::string arguments;
    for (const std::string& f : files) arguments += " " + test::quoted(f);
    const size_t stamp = std::hash<std::string>{}(test::slurp(script) + arguments);
    const fs::path cache = fs::temp_directory_path() / ("rook_evidence_" + std::to_string(::getuid()));
    const fs::path image = cache / (std::to_string(stamp) + ".img");
    if (fs::exists(image)) return image.string();
    fs::create_directories(cache);
    const fs::path part = cache / (std::to_string(stamp) + ".part" + std::to_string(::getpid()));
    if (std::system(("bash " + test::quoted(script) + " --evidence " + test::quoted(part.string()) + arguments +
                     " >/dev/null 2>&1").c_str()) != 0) {
      fs::remove(part);
      return {};
    }
    fs::rename(part, image);
    return image.string();
  }

  std::string image_;
};

TEST_F(NtfsEvidence, CorpusShortcutsInACompressedProfile) {
  const size_t compared = expect_records_as_files(false);
  std::cout << compared << " corpus shortcuts compared\n";
  EXPECT_GT(compared, 225u);
  const test::CommandResult scan = run({image_, "-ntfs_scan", "-csv", "-quiet"});
  EXPECT_TRUE(test::contains(scan.out, "[root]\\<path corrupted>\\orphan.lnk (deleted)"));
}

// The jump lists of the same volume: 57 of the corpus's 67 give records.
TEST_F(NtfsEvidence, CorpusJumpListsInACompressedProfile) {
  EXPECT_GE(expect_records_as_files(true), 57u);
}

}  // namespace
}  // namespace lnk

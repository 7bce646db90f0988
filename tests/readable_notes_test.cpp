// Notes come from names and times the decoders understood: over every corpus
// shortcut and jump list, no note holds a control character or U+FFFD.
#include <gtest/gtest.h>

#include <filesystem>

#include "carve/process_file.h"
#include "report/record_values.h"
#include "shellitems/item_text.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

TEST(ReadableNotes, NoNoteOfTheCorpusIsGarbled) {
  const fs::path root = testing::corpus_path("");
  if (!fs::is_directory(root / "lnk")) GTEST_SKIP() << "corpus absent";
  useropts options;
  size_t records = 0, notes = 0;
  RecordOutlet outlet([&](const LnkRecord& record, const SourceInfo&) {
    ++records;
    const RecordValues values = derive_record_values(record, SourceInfo{}, options);
    for (const RenderedIdList* list : {&values.idlist, &values.vista_idlist}) {
      for (const std::string& note : list->notes) {
        ++notes;
        // Notes may hold blanks and punctuation; what they must not hold is
        // what only misread bytes produce.
        EXPECT_TRUE(is_readable_text(note)) << note;
      }
    }
  });
  for (const char* folder : {"lnk", "jumplists"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (entry.is_regular_file())
        process_shortcut_file(entry.path().string(), SourceInfo{}, options, outlet);
    }
  }
  EXPECT_GT(records, 1000u);
  std::printf("records %zu, notes checked %zu\n", records, notes);
}

}  // namespace
}  // namespace lnk

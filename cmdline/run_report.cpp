#include "cmdline/run_report.h"

#include "platform/platform.h"
#include "platform/text.h"

namespace lnk {
namespace {

// What a search without -rawscan or -deepscan covers of a file.
constexpr uint64_t kFirstSearchBytes = 32768;
// Below this a file cannot hold a header and an IDList size.
constexpr uint64_t kSmallestRecord = 82;

std::string container_label(ImageContainer container) {
  switch (container) {
    case ImageContainer::raw: return "a disk image";
    case ImageContainer::split_raw: return "a segment of a split disk image";
    case ImageContainer::vmware: return "a VMware disk";
    case ImageContainer::ewf: return "an E01 evidence file";
    case ImageContainer::vhd: return "a VHD/VHDX disk";
    case ImageContainer::qcow: return "a QCOW disk";
  }
  return "a disk image";
}

std::string counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string summary_line(const RunTally& t) {
  std::string line = "done: " + counted(t.sources_read, "source read", "sources read") + ", " +
                     counted(t.records_written, "record written", "records written");
  if (t.with_anomalies != 0) line += ", " + std::to_string(t.with_anomalies) + " with anomalies";
  if (t.left_out != 0) line += ", " + std::to_string(t.left_out) + " without anomalies left out";
  if (t.without_records != 0) line += ", " + std::to_string(t.without_records) + " without records";
  const uint64_t skipped = t.unreadable + t.directories + t.exceptions;
  if (skipped != 0) {
    std::vector<std::string> reasons;
    if (t.unreadable != 0)
      reasons.push_back(std::to_string(t.unreadable) + (t.unreadable == 1 ? " cannot be read: " : " cannot be read, the first ") +
                        t.first_unreadable);
    if (t.directories != 0) reasons.push_back(counted(t.directories, "directory", "directories"));
    if (t.exceptions != 0) reasons.push_back(counted(t.exceptions, "exception", "exceptions"));
    line += ", " + std::to_string(skipped) + " skipped (";
    for (size_t i = 0; i < reasons.size(); ++i) line += (i ? ", " : "") + reasons[i];
    line += ")";
  }
  return line + "\n";
}

std::string directory_hint(const std::string& path) {
  if (platform::path_separator() == '\\')
    return path + " is a directory; to examine the files in it: dir \"" + path + "\" /b /s | rook -pipe\n";
  return path + " is a directory; to examine the files in it: find '" + path + "' -type f | rook -pipe\n";
}

std::string no_record_hint(const std::string& path, uint64_t size, const useropts& options,
                           const ImageContainer* disk) {
  if (options.rawscan || options.deepscan || size < kSmallestRecord) return {};
  if (disk != nullptr)
    return "no shortcut record found in " + std::string(size <= kFirstSearchBytes ? "" : "the first 32 KiB of ") +
           path + ", " + container_label(*disk) +
           "; -ntfs_scan reads the shortcuts in its NTFS volume, -rawscan carves the whole disk\n";
  if (size <= kFirstSearchBytes)
    return "no shortcut record found in " + path + "; -deepscan searches it at every byte\n";
  return "no shortcut record found in the first 32 KiB of " + path +
         "; -deepscan searches the whole file, -rawscan carves a disk image\n";
}

std::string deepscan_container_note(const std::string& path, ImageContainer container) {
  if (container == ImageContainer::raw || container == ImageContainer::split_raw) return {};
  return path + " is " + container_label(container) +
         ": -deepscan searches the container's stored bytes, not the disk it holds; -rawscan carves the disk\n";
}

std::vector<std::string> unused_word_warnings(const std::vector<std::string>& args, bool input_taken) {
  std::vector<std::string> warnings;
  for (size_t i = input_taken ? 2 : 1; i < args.size(); ++i) {
    const std::string& word = args[i];
    std::string text = "unused argument: " + word;
    if (input_taken && !word.empty() && word[0] != '-') text += " (one input name is read; -pipe reads a list of names)";
    warnings.push_back(text + "\n");
  }
  return warnings;
}

}  // namespace lnk

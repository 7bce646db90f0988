// A small volume held in memory whose records hold what the MFT scan reads
// beyond a file's unnamed data: shortcuts in named streams of a file and a
// folder, a Zone.Identifier, a file of several names and a WOF-compressed
// file; the input is XOR-ed over those records as they lie on disk, then
// the volume is scanned. Fuzz targets link the core alone, so
// the builders come in as source.
#include <cstdint>
#include <vector>

#include "carve/record_outlet.h"
#include "ntfs/ntfs_volume.h"
#include "scan/mft_scan.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.cpp"
#include "tests/ntfs_builder.cpp"

namespace {

using namespace lnk::test;
constexpr uint64_t kFirst = 16, kRecords = 4;

Bytes make_volume() {
  VolumeImage image = basic_volume(VolumeLayout{512, 1, -10, 256, 8, 24}, {});
  const uint64_t root = lnk::make_reference(5, 5);
  Bytes lnk = LnkBuilder{}.build();
  image.put_record(16, file_record(root, "a.txt",
                                   {resident_attribute(0x80, Bytes(4, 'a'), "", 4),
                                    resident_attribute(0x80, lnk, "x.lnk", 5),
                                    resident_attribute(0x80, Bytes(24, 'z'), "Zone.Identifier", 6)}));
  image.put_record(17, file_record(root, "dir", {resident_attribute(0x80, lnk, "y.lnk", 4)}, 3));
  RecordLayout links;
  links.attributes = {resident_attribute(0x30, file_name(root, "one.lnk"), "", 1),
                      resident_attribute(0x30, file_name(lnk::make_reference(17, 1), "ONE~1.LNK", 2), "", 2),
                      resident_attribute(0x30, file_name(root, "5f7b5f1e01b83767.automaticDestinations-ms"), "", 3),
                      resident_attribute(0x80, lnk, "", 4)};
  image.put_record(18, mft_record(links));
  Bytes reparse(24, 0);
  for (const auto& [at, word] : {std::pair<size_t, uint32_t>{0, 0x80000017}, {4, 16}, {8, 1}, {12, 2}, {16, 1}})
    set_u32(reparse, at, word);
  const Bytes& stream = lnk;  // one chunk, decoded as XPRESS
  image.put_record(19, file_record(root, "w.lnk",
                                   {nonresident_attribute(0x80, encode_runs({{2, -1}}), 1024, 1024, "", 4),
                                    resident_attribute(0x80, stream, "WofCompressedData", 6),
                                    resident_attribute(0xC0, reparse, "", 5)}));
  return image.bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bytes pristine = make_volume();
  Bytes image = pristine;
  const uint64_t mft = 8 * 512;
  for (size_t i = 0; i < size && i < kRecords * 1024; ++i) image[mft + kFirst * 1024 + i] ^= data[i];
  lnk::NtfsVolume volume;
  volume.attach(std::make_unique<lnk::OwnedMemorySource>(std::move(image)), 0);
  if (!volume.validate()) return 0;
  lnk::RecordOutlet outlet([](const lnk::LnkRecord&, const lnk::SourceInfo&) {});
  lnk::useropts options;
  options.ntfs_scan = true;
  lnk::ScanNotes notes;
  lnk::scan_volume(volume, lnk::SourceInfo{}, options, outlet, &notes);
  return 0;
}

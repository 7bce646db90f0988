// A small volume in memory whose records hold shortcuts in named streams of
// a file and a folder, a Zone.Identifier and a file of three names; the
// input is XOR-ed over those records as they lie on disk, then the volume is
// scanned. Fuzz targets link the core alone: the builders come as source.
#include <cstdint>

#include "scan/mft_scan.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.cpp"
#include "tests/ntfs_builder.cpp"

using namespace lnk::test;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Bytes pristine = [] {
    VolumeImage image = basic_volume(VolumeLayout{512, 1, -10, 256, 8, 24}, {});
    const uint64_t root = lnk::make_reference(5, 5);
    const Bytes lnk = LnkBuilder{}.build();
    image.put_record(16, file_record(root, "a.txt", {resident_attribute(0x80, lnk, "x.lnk", 5),
                                                     resident_attribute(0x80, Bytes(24, 'z'), "Zone.Identifier", 6)}));
    image.put_record(17, file_record(root, "dir", {resident_attribute(0x80, lnk, "y.lnk", 4)}, 3));
    RecordLayout links;
    links.attributes = {resident_attribute(0x30, file_name(root, "one.lnk"), "", 1),
                        resident_attribute(0x30, file_name(lnk::make_reference(17, 1), "ONE~1.LNK", 2), "", 2),
                        resident_attribute(0x30, file_name(root, "5f7b5f1e01b83767.automaticDestinations-ms"), "", 3),
                        resident_attribute(0x80, lnk, "", 4)};
    image.put_record(18, mft_record(links));
    return image.bytes();
  }();
  Bytes image = pristine;
  for (size_t i = 0; i < size && i < 3 * 1024; ++i) image[8 * 512 + 16 * 1024 + i] ^= data[i];
  lnk::NtfsVolume volume;
  volume.attach(std::make_unique<lnk::OwnedMemorySource>(std::move(image)), 0);
  if (!volume.validate()) return 0;
  lnk::RecordOutlet outlet([](const lnk::LnkRecord&, const lnk::SourceInfo&) {});
  lnk::useropts options;
  options.ntfs_scan = true;
  lnk::scan_volume(volume, lnk::SourceInfo{}, options, outlet);
  return 0;
}

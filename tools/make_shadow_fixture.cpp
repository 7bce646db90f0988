// Writes tests/data/shadow_copies.img.xz's image: the tests' small volume with
// two shadow copies, the given shortcut put in the block where the older copy
// keeps its saved block 24. That copy's view therefore shows the shortcut at
// 0x60200 as well; the live volume and the newer copy do not.
//   g++ -std=c++20 -I. tools/make_shadow_fixture.cpp -o make_shadow_fixture
//   ./make_shadow_fixture tests/data/sample.lnk shadow_copies.img && xz -9 shadow_copies.img
#include <fstream>
#include <iterator>

#include "tests/vss_volume_builder.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  lnk::test::ShadowVolumeBuilder volume;
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> shortcut((std::istreambuf_iterator<char>(in)), {});
  const auto saved = lnk::test::ShadowVolumeBuilder::kSaved[0];
  std::ranges::copy(shortcut, volume.bytes.begin() + volume.block(saved.data_block) + 0x200);
  std::ofstream(argv[2], std::ios::binary)
      .write(reinterpret_cast<const char*>(volume.bytes.data()), static_cast<std::streamsize>(volume.bytes.size()));
  return in && !shortcut.empty() ? 0 : 1;
}

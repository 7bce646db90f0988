// Writes the sample shortcut used by the tests: make_sample_lnk <file>.
#include <cstdio>
#include <fstream>

#include "tests/lnk_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_lnk <output file>\n");
    return 1;
  }
  lnk::test::Bytes bytes = lnk::test::sample_shortcut();
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}

// Prints the rendered LinkTargetIDList of each shortcut named on the command
// line: "path<TAB>notes". A cross-checking aid, not part of rook.
// Build: g++ -std=c++20 -I. tools/idlist_paths.cpp build/librookcore.a -o build/idlist_paths
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "platform/byte_reader.h"
#include "shellitems/idlist.h"
#include "shellitems/render_idlist.h"

int main(int argc, char** argv) {
  lnk::useropts options;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    lnk::ByteReader file(data);
    std::vector<lnk::ShellItem> items;
    if (file.u32(0) == 0x4C && (file.u32(20) & 1) && file.has(76, 2)) {
      uint32_t size = file.u16(76);
      if (size >= 2 && file.has(78, size - 2)) {
        std::vector<uint8_t> list(data.begin() + 78, data.begin() + 78 + (size - 2));
        lnk::DecodeContext context;
        context.position = 78;
        lnk::walk_idlist(items, list.data(), size - 2, context, options);
      }
    }
    std::string path, notes_text;
    std::vector<std::string> notes;
    uint64_t m = 0, a = 0, c = 0;
    lnk::render_idlist(path, notes_text, notes, m, a, c, options, items);
    std::cout << argv[i] << '\t' << path << '\t' << notes_text << '\n';
  }
}

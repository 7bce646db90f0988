// Prints the rendered LinkTargetIDList of each shortcut named on the command
// line: "path<TAB>notes". A cross-checking aid, not part of rook.
// Build: cmake --build build --target idlist_paths
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "core/options.h"
#include "lnk/parse_lnk.h"
#include "report/render_idlist.h"

int main(int argc, char** argv) {
  lnk::useropts options;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    lnk::LnkRecord record;
    lnk::RenderedIdList rendered;
    if (lnk::parse_lnk_record(record, data, 0)) lnk::render_idlist(record.shell_items, options, rendered);
    std::cout << argv[i] << '\t' << rendered.path << '\t' << rendered.notes_text << '\n';
  }
}

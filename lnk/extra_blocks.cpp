#include "lnk/extra_blocks.h"

namespace lnk {

// Block decoders arrive with the extra-data work; until then every block is
// stepped over.
bool decode_extra_block(LnkRecord&, ByteReader, uint32_t, useropts&) { return false; }

}  // namespace lnk

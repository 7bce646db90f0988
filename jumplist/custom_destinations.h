// The header of a custom-destinations jump list: the categories an
// application published, each holding shell objects (mostly shortcuts).
#pragma once

#include "platform/byte_reader.h"

namespace lnk {

// True when the bytes start as a custom-destinations file does: format
// version 2, a category count the bytes can hold, and a first category of a
// known type whose header fits. A header with no categories is the whole
// file.
bool looks_like_custom_destinations(const ByteReader& bytes);

}  // namespace lnk

// IDLists that property values carry inside their byte strings.
#pragma once

#include <cstdint>

#include "shellitems/shell_item.h"

namespace lnk {

// A byte string whose bytes after the first two (the IDList size) decode as
// an IDList gets that list attached. position is where the byte string sits.
void attach_embedded_idlist(Property& property, uint64_t position, DecodeContext& context);

// "autolist" and "condition" streams of a string-named set: the IDLists in
// their entries are attached to the property.
void attach_nested_idlists(Property& property, uint64_t position, DecodeContext& context);

}  // namespace lnk

// Why a split raw image, a VHD/VHDX or a QCOW disk cannot be scanned, in
// the words of the E01 messages: "invalid image: X" and the reason below
// it, or the library the build lacks.
#pragma once

#include <string>

#include "images/image_open.h"

namespace lnk {

std::string render_container_problem(const ImageOpenResult& result, const std::string& path);

}  // namespace lnk

#include "cmdline/version_text.h"

#include "cmdline/usage.h"
#include "storage/library_versions.h"

namespace lnk {

std::string version_text() {
  std::string text = std::string("rook ") + kRookVersion + "\n";
  text += std::string("source revision: ") + source_revision() + "\n";
  text += "optional libraries:\n";
  for (const OptionalLibrary& library : optional_libraries()) {
    const std::string version = library.version.empty() ? ": not in this build" : " " + library.version;
    text += "  " + library.name + version + " (" + library.reads + ")\n";
  }
  return text;
}

}  // namespace lnk

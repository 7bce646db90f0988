#include "report/record_writer.h"

namespace lnk {

bool write_record(std::ostream&, LnkRecord&, useropts&) { return true; }

}  // namespace lnk

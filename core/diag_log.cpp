#include "core/diag_log.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace lnk {
namespace {

constexpr size_t kDiagMessageLimit = 255;

}  // namespace

void diag_write(const cmd_params& o, const std::string& text) {
  if (!o.diag_log_active || !o.diag_log) return;
  *o.diag_log << "->" << text << "\n";
  o.diag_log->flush();
}

void diag_printf(const cmd_params& o, const char* format, ...) {
  if (!o.diag_log_active || !o.diag_log) return;
  char buffer[kDiagMessageLimit + 1];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  diag_write(o, buffer);
}

}  // namespace lnk

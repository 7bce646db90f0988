// The HTML report's page, style and script, built into the program from the
// files in report/html_assets/ when it is compiled.
#pragma once

#include <string_view>

namespace lnk {

// report.html: the page, with markers where the style, the run header and
// the records go.
std::string_view html_page_template();
// report.css and report.js, inlined into the page.
std::string_view html_page_style();
std::string_view html_page_script();

}  // namespace lnk

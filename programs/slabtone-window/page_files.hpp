// The window page's HTML template, style and script (page/),
// built into the program.
#pragma once

#include <string_view>

namespace slabtone {

std::string_view page_html();
std::string_view page_css();
std::string_view page_js();

}  // namespace slabtone

#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` made safe inside XML or HTML, in element content and in double-quoted attributes alike:
// & < > " become entities; every other byte passes as it is.
std::string MarkupEscaped(std::string_view text);

} // namespace platform

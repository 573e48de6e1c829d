#pragma once

#include <string_view>

namespace kestova {

// The number at the start of a text as atoi reads it: leading white space skipped, an optional
// sign, then digits up to the first other character; 0 without digits. Values beyond the range
// of int are held at its limit instead of overflowing.
int readLeadingInteger(std::string_view text);

}  // namespace kestova

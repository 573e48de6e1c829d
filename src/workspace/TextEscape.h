#pragma once

#include <string>
#include <string_view>

namespace kestova {

// Whether a text's line feeds are shown as escapes too, or kept as the ends of its lines.
enum class LineFeeds { Escaped, Kept };

// The text with its control characters shown as escapes, so that nothing a service or a server
// sends can drive the terminal or forge a line of the run log: \n, \r and \t, and \xHH for every
// other C0 byte, for DEL, for C1 as a lone byte, and for both bytes of C1 written in UTF-8
// (U+0080 to U+009F, C2 80 to C2 9F). The other characters of UTF-8, and a backslash, stay as they
// are.
std::string withControlCharactersEscaped(std::string_view text,
                                         LineFeeds lineFeeds = LineFeeds::Escaped);

}  // namespace kestova

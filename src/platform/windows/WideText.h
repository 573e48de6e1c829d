#pragma once

#include <string>
#include <string_view>

namespace kestova::platform {

// The program's texts are UTF-8; the Windows API takes UTF-16. Text that is no valid UTF-8 is
// converted with U+FFFD in place of the bad bytes.
std::wstring toWide(std::string_view text);
std::string toUtf8(std::wstring_view text);

}  // namespace kestova::platform

#pragma once

#include <string>

#include "platform/SystemValues.h"

namespace kestova {

// The display language: "zh" for the Chinese install languages 0004, 0404, 0804, 0C04 and 1004,
// "en" for every other, the empty text when the install language cannot be read. Leaves the
// four-character code in speedTest/lang2.txt and the result (or "error") in speedTest/lang.txt;
// the decision is taken on the code as read back from the file.
std::string detectLanguage(const platform::SystemValues& values);

}  // namespace kestova

#pragma once

#include <string>
#include <vector>

namespace kestova::platform {

// The program's arguments after its name, as UTF-8 text. On Windows they are read from the
// process's UTF-16 command line, so that a name beyond the active code page (a --workdir such as
// "Prüfung-测试") arrives whole; main's narrow argv is used elsewhere.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace kestova::platform

#include "platform/ProgramArguments.h"

#include <windows.h>

#include <shellapi.h>  // after windows.h, which it needs

#include "platform/windows/WideText.h"

namespace kestova::platform {

std::vector<std::string> programArguments(int argc, char** argv) {
    // The narrow argv holds the arguments in the active code page, with "?" for every character
    // it lacks: the wide command line is the one the user gave.
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>{};
    }
    std::vector<std::string> arguments;
    for (int k = 1; k < count; ++k) {
        arguments.push_back(toUtf8(wide[k]));
    }
    ::LocalFree(wide);
    return arguments;
}

}  // namespace kestova::platform

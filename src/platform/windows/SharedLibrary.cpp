#include "platform/SharedLibrary.h"

#include <windows.h>

#include "platform/windows/WideText.h"

namespace kestova::platform {

void* loadLibraryFunction(const std::string& libraryPath, const std::string& functionName,
                          std::string& error) {
    // Never freed: the library's code runs until the program ends.
    HMODULE library = ::LoadLibraryW(toWide(libraryPath).c_str());
    if (library == nullptr) {
        error = "cannot load " + libraryPath + " (error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    FARPROC function = ::GetProcAddress(library, functionName.c_str());
    if (function == nullptr) {
        error = functionName + " is missing from " + libraryPath;
        return nullptr;
    }
    return reinterpret_cast<void*>(function);
}

}  // namespace kestova::platform

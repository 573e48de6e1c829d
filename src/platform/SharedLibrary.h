#pragma once

#include <string>

namespace kestova::platform {

// The address of a function in a shared library loaded for the rest of the program's life, or
// null with the reason in error.
void* loadLibraryFunction(const std::string& libraryPath, const std::string& functionName,
                          std::string& error);

}  // namespace kestova::platform

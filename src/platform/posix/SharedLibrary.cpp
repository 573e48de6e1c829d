#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace kestova::platform {

void* loadLibraryFunction(const std::string& libraryPath, const std::string& functionName,
                          std::string& error) {
    // Never closed: the library's code runs until the program ends.
    void* library = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : "cannot load " + libraryPath;
        return nullptr;
    }
    void* function = ::dlsym(library, functionName.c_str());
    if (function == nullptr) {
        error = functionName + " is missing from " + libraryPath;
    }
    return function;
}

}  // namespace kestova::platform

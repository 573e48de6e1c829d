#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kestova::platform {

std::optional<std::string> executableFolder() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) {
        return std::nullopt;
    }
    return executable.parent_path().string();
}

std::string inCurrentFolder(const std::string& name) {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? name : (folder / name).string();
}

std::optional<std::string> enterProgramFolder(const std::optional<std::string>& workdir) {
    const std::optional<std::string> folder = workdir ? workdir : executableFolder();
    if (!folder) {
        return "the folder of the program cannot be found";
    }
    if (::chdir(folder->c_str()) != 0) {
        return "cannot enter " + *folder + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

}  // namespace kestova::platform

#include "platform/ProgramFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

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

namespace {

// The value of the environment variable when it is a full path.
std::optional<std::string> fullPathFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::string(value);
}

// The user's home: $HOME when it is a full path, else the user database's.
std::optional<std::string> homeFolder() {
    if (const auto home = fullPathFromEnvironment("HOME")) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

}  // namespace

std::optional<std::string> userWorkspaceFolder() {
    if (const auto data = fullPathFromEnvironment("XDG_DATA_HOME")) {
        return *data + "/kestova-speedtest";
    }
    if (const auto home = homeFolder()) {
        return *home + "/.local/share/kestova-speedtest";
    }
    return std::nullopt;
}

bool userCanWrite(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<std::string> makeOwnFolder(const std::string& folder) {
    std::string made;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t next = folder.find('/', at + 1);
        made = folder.substr(0, next);
        at = next;
        struct stat existing {};
        if (made.empty() || ::stat(made.c_str(), &existing) == 0) {
            if (!made.empty() && !S_ISDIR(existing.st_mode)) {
                return made + " is not a folder";
            }
            continue;
        }
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            return "cannot make " + made + ": " + std::strerror(errno);
        }
    }
    return std::nullopt;
}

std::optional<std::string> placeIperfClient(const std::string& programFolder,
                                            const std::string& workspace, bool /*renew*/) {
    if (const auto error = makeOwnFolder(workspace + "/iperf")) {
        return error;
    }
    const std::filesystem::path installed = programFolder + "/iperf/iperf3";
    const std::filesystem::path link = workspace + "/iperf/iperf3";
    std::error_code error;
    const std::filesystem::file_status standing = std::filesystem::symlink_status(link, error);
    if (std::filesystem::is_symlink(standing)) {
        if (std::filesystem::read_symlink(link, error) == installed) {
            return std::nullopt;
        }
        std::filesystem::remove(link, error);
    } else if (std::filesystem::exists(standing)) {
        return std::nullopt;  // the user's own client
    }
    std::filesystem::create_symlink(installed, link, error);
    if (error) {
        return "cannot link " + link.string() + ": " + error.message();
    }
    return std::nullopt;
}

}  // namespace kestova::platform

#include "platform/FolderTrust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kestova::platform {

namespace {

std::optional<std::string> whyOthersCanChangeThis(const std::string& place,
                                                  const struct stat& status) {
    if (status.st_uid != ::geteuid() && status.st_uid != 0) {
        std::string why = place;
        why.append(" belongs to another user");
        return why;
    }
    const bool othersMayWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool stickyFolder = S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0;
    if (othersMayWrite && !stickyFolder) {
        std::string why = "other users can write ";
        why.append(place);
        return why;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> whyOthersCanChange(const std::string& path) {
    std::error_code error;
    std::filesystem::path place = std::filesystem::weakly_canonical(path, error);
    if (error) {
        std::string why = path;
        why.append(" cannot be looked at: ").append(error.message());
        return why;
    }
    for (;;) {
        struct stat status {};
        if (::stat(place.c_str(), &status) == 0) {
            if (auto why = whyOthersCanChangeThis(place.string(), status)) {
                return why;
            }
        } else if (errno != ENOENT) {
            std::string why = place.string();
            why.append(" cannot be looked at: ").append(std::strerror(errno));
            return why;
        }
        if (!place.has_relative_path()) {
            return std::nullopt;
        }
        place = place.parent_path();
    }
}

}  // namespace kestova::platform

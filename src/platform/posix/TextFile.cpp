#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>

namespace kestova::platform {

namespace {

// Every descriptor of a file is closed on exec, so that no child inherits one.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { closeNow(); }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // False when closing reported that written bytes were lost.
    bool closeNow() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0 || errno == EINTR;
    }

  private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

struct PathParts {
    std::string folder;  // with its trailing '/', or empty for the current folder
    std::string name;
};

PathParts splitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {"", path};
    }
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// What stands at the path now: nothing, or a regular file this process may write in place, whose
// permissions the new content keeps. Anything else (a read-only file, a symbolic link, a folder,
// a pipe) is not replaced.
struct WriteTarget {
    bool writable = false;
    std::optional<mode_t> mode;
};

WriteTarget inspectTarget(const std::string& path) {
    // Non-blocking: a pipe at the name must not hold the writer.
    const FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isOpen()) {
        return {errno == ENOENT, std::nullopt};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {};
    }
    return {true, status.st_mode & 07777};
}

// A fresh file beside the target, under a name no other writer uses at the same time.
int createTemporaryBeside(const PathParts& parts, std::string& temporaryPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporaryPath = parts.folder + "." + parts.name + "." + std::to_string(::getpid()) + "." +
                        std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd =
            ::open(temporaryPath.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    const WriteTarget target = inspectTarget(path);
    if (!target.writable) {
        return false;
    }
    const PathParts parts = splitPath(path);
    std::string temporaryPath;
    FileDescriptor fd(createTemporaryBeside(parts, temporaryPath));
    if (!fd.isOpen()) {
        return false;
    }
    const bool written = (!target.mode || ::fchmod(fd.get(), *target.mode) == 0) &&
                         writeAll(fd.get(), bytes) && fd.closeNow();
    if (!written || ::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        fd.closeNow();
        ::unlink(temporaryPath.c_str());
        return false;
    }
    return true;
}

std::optional<FileIdentity> createFreshFile(const std::string& path) {
    // Each failed creation means something was planted at the name after the removal.
    constexpr int kAttempts = 4;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return std::nullopt;  // a folder, or a name this process may not clear
        }
        const FileDescriptor fd(::open(
            path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd.isOpen()) {
            struct stat status {};
            if (::fstat(fd.get(), &status) != 0) {
                return std::nullopt;
            }
            return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                                static_cast<std::uint64_t>(status.st_ino)};
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool nameStandsFor(const std::string& path, const FileIdentity& identity) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)} == identity;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    // Non-blocking: a pipe at the name must not hold the reader.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isOpen()) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    // Read in large blocks: outputs of many servers are read at the end of every stage.
    std::string content;
    std::array<char, 65536> block;
    for (;;) {
        const ssize_t got = ::read(fd.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(block.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace kestova::platform

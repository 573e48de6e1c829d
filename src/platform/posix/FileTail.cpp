#include "platform/FileTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kestova::platform {

std::optional<FileTail> readFileTail(const std::string& path, std::uint64_t offset,
                                     std::size_t maxBytes) {
    // Non-blocking and not through a link: a pipe or a link planted at the name must neither hold
    // the follower nor lead it elsewhere; only a regular file is followed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    FileTail tail;
    tail.size = static_cast<std::uint64_t>(status.st_size);
    tail.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                      static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    const std::uint64_t available = tail.size > offset ? tail.size - offset : 0;
    tail.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(available, maxBytes)));
    std::size_t got = 0;
    while (got < tail.bytes.size()) {
        const ssize_t n = ::pread(fd, tail.bytes.data() + got, tail.bytes.size() - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    tail.bytes.resize(got);
    ::close(fd);
    return tail;
}

}  // namespace kestova::platform

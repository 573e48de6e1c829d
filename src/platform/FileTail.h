#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestova::platform {

// A look at a file that another process writes as it goes: its size and last change when looked
// at, and the bytes from a given offset on, so that a follower reads only what was appended.
struct FileTail {
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;  // nanoseconds since the epoch
    std::string bytes;
};

// Opens the file, notes its size and last change, reads from the offset to its end (at most
// maxBytes) and closes it; nothing when it cannot be opened or is not a regular file (a pipe, a
// folder, a symbolic link, which is not followed: each reads as missing, at once). A file shorter
// than the offset gives no bytes.
std::optional<FileTail> readFileTail(const std::string& path, std::uint64_t offset,
                                     std::size_t maxBytes);

}  // namespace kestova::platform

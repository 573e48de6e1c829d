#pragma once

#include <cstdint>
#include <optional>

namespace kestova::platform {

// How far a file this program writes may grow, as RLIMIT_FSIZE sets it on Linux: a write past the
// limit stores what fits and then fails as on a full disk. For tests of what a write that fails
// halfway leaves behind; no limit unless one is set.
void limitFileSize(std::optional<std::uint64_t> bytes);

}  // namespace kestova::platform

#pragma once

#include <cstddef>

#include "platform/SystemValues.h"

namespace kestova {

// The probes read a stored value into a buffer of this many bytes; a longer value fails to read.
inline constexpr std::size_t kStoredValueBufferBytes = 260;

inline bool fitsStoredValueBuffer(const platform::StoredValue& value) {
    return value.bytes && value.bytes->size() <= kStoredValueBufferBytes;
}

}  // namespace kestova

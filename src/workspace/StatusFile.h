#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestova {

// Replaces a workspace file's content by the bytes, exactly as given. A file that cannot be
// opened is skipped silently and the caller goes on; nothing here creates the speedTest folder.
void writeWorkspaceFile(const std::string& path, std::string_view bytes);

// Writes one of the four status files (the stages' statuses, the error code, the version status):
// the value without a line end, as writeWorkspaceFile writes.
void writeStatusFile(const std::string& path, std::string_view value);

// Every later workspace write is also told to the observer, in the order the writes happen, from
// the writing thread; an empty observer ends that. For tests, which follow the values a page
// would see.
using StatusWriteObserver = std::function<void(const std::string& path, std::string_view value)>;
void observeStatusWrites(StatusWriteObserver observer);

}  // namespace kestova

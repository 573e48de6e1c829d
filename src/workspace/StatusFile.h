#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestova {

// Replaces a workspace file's content by the bytes, exactly as given, in one step: the page reads
// the old value or the new one, never a half-written file. A file that cannot be written
// (read-only, a symbolic link, a missing folder) is skipped silently and the caller goes on;
// nothing here creates the speedTest folder.
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

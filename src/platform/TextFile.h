#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::platform {

// Replaces the file's content by the bytes, written as a text file of the system: each line feed is
// stored as the system's line end (SystemSpelling.h: a line feed here, CR LF on Windows), every
// other byte as it is. The bytes go to a new file beside it, which is then renamed into place: a
// reader sees the old content or the new, never a part (on Windows, a reader that holds the file
// without letting it be replaced gets it written in place). Returns false, and leaves the file as
// it was, when it could not be written in place: it is read-only, a symbolic link or not a regular
// file, its folder is missing or read-only, or the bytes could not all be written (a full disk);
// no temporary file remains then. No descriptor reaches a child.
bool writeWholeFile(const std::string& path, std::string_view bytes);

// Which file a name stood for when it was made: a later look tells whether the name still does.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Makes a fresh empty file at the name for a child's redirection to write into. Whatever stands
// there (a file, a symbolic link, never what it points to, a pipe; not a folder) is removed, and
// the file is created exclusively and without following a link, so that nothing planted at the
// name between the removal and the creation is written through: the creation then fails and is
// tried again, a few times. Nothing when no file of this call's own stands at the name.
std::optional<FileIdentity> createFreshFile(const std::string& path);

// True when the name stands, without following a link, for the regular file of that identity.
bool nameStandsFor(const std::string& path, const FileIdentity& identity);

// The whole content, byte for byte; nothing when the file cannot be opened or is not a regular
// file.
std::optional<std::string> readWholeFile(const std::string& path);

// The file's lines without their line feeds; a carriage return right before a line feed is dropped
// too, so that files written on Windows read the same. A last line without a line feed counts; an
// empty file or one that cannot be opened has no lines.
std::vector<std::string> readLines(const std::string& path);

// The first line as readLines gives it, or the empty text when there is none.
std::string readFirstLine(const std::string& path);

// Splits text into lines by the rule of readLines.
std::vector<std::string> splitLines(std::string_view text);

}  // namespace kestova::platform

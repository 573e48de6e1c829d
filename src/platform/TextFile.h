#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::platform {

// Creates or empties the file and writes the bytes as a text file of the system: each line feed
// is stored as the system's line end (SystemSpelling.h: a line feed here, CR LF on Windows), every
// other byte as it is. Returns false when the file cannot be opened or the bytes could not all be
// written.
bool writeWholeFile(const std::string& path, std::string_view bytes);

// The whole content, byte for byte (a CR LF stays CR LF); nothing when the file cannot be opened.
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

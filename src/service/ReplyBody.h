#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestova {

// The body of a reply, cut out by its "Content-Length:" header: the first "Content-Length:" of the
// header (case-sensitive; never one in the body), the character after the colon skipped, the number
// read as atoi reads it up to the line feed; the body starts after the first "\r\n\r\n" and is that
// many characters long, or the whole rest when fewer remain (a negative length also gives the whole
// rest). A reply without the header gives length 0; one without the empty line, or too short, gives
// the empty body.
std::string extractReplyBody(std::string_view reply);

// The length the header announces and where the body starts, once the whole header has arrived;
// nothing before that, or when the header carries no "Content-Length:".
struct AnnouncedBody {
    std::size_t start = 0;
    long long length = 0;
};
std::optional<AnnouncedBody> announcedBody(std::string_view reply);

}  // namespace kestova

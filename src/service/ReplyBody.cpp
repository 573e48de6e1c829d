#include "service/ReplyBody.h"

#include <limits>

namespace kestova {

namespace {

constexpr std::string_view kLengthHeader = "Content-Length:";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading of a number, saturated instead of overflowing.
long long readDecimal(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    constexpr long long kLimit = std::numeric_limits<int>::max();
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min(kLimit, value * 10 + (text[at] - '0'));
    }
    return negative ? -value : value;
}

// The number after "Content-Length:" at position headerAt, with the one character after the
// colon skipped, up to the line feed.
long long readContentLength(std::string_view reply, std::size_t headerAt) {
    const std::size_t numberAt = headerAt + kLengthHeader.size() + 1;
    if (numberAt >= reply.size()) {
        return 0;
    }
    std::string_view text = reply.substr(numberAt);
    text = text.substr(0, text.find('\n'));
    return readDecimal(text);
}

}  // namespace

std::string extractReplyBody(std::string_view reply) {
    const std::size_t headerEnd = reply.find(kHeaderEnd);
    if (headerEnd == std::string_view::npos) {
        return {};
    }
    const std::size_t lengthAt = reply.find(kLengthHeader);
    const long long length =
        lengthAt == std::string_view::npos ? 0 : readContentLength(reply, lengthAt);
    const std::size_t bodyStart = headerEnd + kHeaderEnd.size();
    const std::size_t wanted = length < 0 ? std::string_view::npos : static_cast<std::size_t>(length);
    return std::string(reply.substr(bodyStart, wanted));
}

std::optional<AnnouncedBody> announcedBody(std::string_view reply) {
    const std::size_t headerEnd = reply.find(kHeaderEnd);
    if (headerEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t lengthAt = reply.substr(0, headerEnd).find(kLengthHeader);
    if (lengthAt == std::string_view::npos) {
        return std::nullopt;
    }
    return AnnouncedBody{headerEnd + kHeaderEnd.size(), readContentLength(reply, lengthAt)};
}

}  // namespace kestova

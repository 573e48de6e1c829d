#include "service/ReplyBody.h"

#include "workspace/LeadingInteger.h"

namespace kestova {

namespace {

constexpr std::string_view kLengthHeader = "Content-Length:";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

// The number after "Content-Length:" at position headerAt, with the one character after the
// colon skipped, up to the line feed.
long long readContentLength(std::string_view reply, std::size_t headerAt) {
    const std::size_t numberAt = headerAt + kLengthHeader.size() + 1;
    if (numberAt >= reply.size()) {
        return 0;
    }
    std::string_view text = reply.substr(numberAt);
    text = text.substr(0, text.find('\n'));
    return readLeadingInteger(text);
}

}  // namespace

std::string extractReplyBody(std::string_view reply) {
    const std::size_t headerEnd = reply.find(kHeaderEnd);
    if (headerEnd == std::string_view::npos) {
        return {};
    }
    // Only the header announces a length: the same words inside the body say nothing.
    const std::size_t lengthAt = reply.substr(0, headerEnd).find(kLengthHeader);
    const long long length =
        lengthAt == std::string_view::npos ? 0 : readContentLength(reply, lengthAt);
    const std::size_t bodyStart = headerEnd + kHeaderEnd.size();
    const std::size_t wanted =
        length < 0 ? std::string_view::npos : static_cast<std::size_t>(length);
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

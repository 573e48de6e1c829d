#include "workspace/TextEscape.h"

#include <cstddef>

namespace kestova {

namespace {

void appendHexEscape(std::string& shown, unsigned char byte) {
    constexpr char kHex[] = "0123456789abcdef";
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0xf];
}

bool isContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xbf;
}

// The length of the well-formed UTF-8 sequence at the start of the text, or 0 when none starts
// there.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;   // no overlong form
        high = lead == 0xed ? 0x9f : 0xbf;  // no surrogate
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || text.size() < length) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[1]);
    if (second < low || second > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (!isContinuation(static_cast<unsigned char>(text[k]))) {
            return 0;
        }
    }
    return length;
}

bool isC1InUtf8(std::string_view sequence) {
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xc2 &&
           static_cast<unsigned char>(sequence[1]) <= 0x9f;
}

void appendAsciiByte(std::string& shown, char c, LineFeeds lineFeeds) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
        shown += lineFeeds == LineFeeds::Kept ? "\n" : "\\n";
    } else if (c == '\r') {
        shown += "\\r";
    } else if (c == '\t') {
        shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
        appendHexEscape(shown, byte);
    } else {
        shown += c;
    }
}

}  // namespace

std::string withControlCharactersEscaped(std::string_view text, LineFeeds lineFeeds) {
    std::string shown;
    shown.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        if (byte < 0x80) {
            appendAsciiByte(shown, text[0], lineFeeds);
            text.remove_prefix(1);
            continue;
        }
        const std::size_t length = utf8SequenceLength(text);
        if (length == 0) {
            // A byte outside any UTF-8 sequence: C1 read as one byte is escaped, others kept.
            if (byte <= 0x9f) {
                appendHexEscape(shown, byte);
            } else {
                shown += text[0];
            }
            text.remove_prefix(1);
            continue;
        }
        const std::string_view sequence = text.substr(0, length);
        if (isC1InUtf8(sequence)) {
            appendHexEscape(shown, static_cast<unsigned char>(sequence[0]));
            appendHexEscape(shown, static_cast<unsigned char>(sequence[1]));
        } else {
            shown += sequence;
        }
        text.remove_prefix(length);
    }
    return shown;
}

}  // namespace kestova

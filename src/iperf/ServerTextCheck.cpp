#include "iperf/ServerTextCheck.h"

#include <algorithm>

namespace kestova {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

bool isAcceptableServerAddress(std::string_view text) {
    const auto allowed = [](char c) {
        return isLetter(c) || isDigit(c) || c == '.' || c == '-' || c == ':';
    };
    return !text.empty() && text.size() <= 253 && std::all_of(text.begin(), text.end(), allowed);
}

bool isAcceptableServerPort(std::string_view text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), isDigit)) {
        return false;
    }
    unsigned value = 0;
    for (const char digit : text) {
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    return value >= 1 && value <= 65535;
}

std::string withControlCharactersEscaped(std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xf];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace kestova

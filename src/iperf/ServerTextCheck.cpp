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

}  // namespace kestova

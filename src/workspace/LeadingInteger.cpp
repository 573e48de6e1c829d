#include "workspace/LeadingInteger.h"

#include <algorithm>
#include <limits>

namespace kestova {

int readLeadingInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
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
        value = std::min(kLimit + 1, value * 10 + (text[at] - '0'));
    }
    value = negative ? std::max(-value, -kLimit - 1) : std::min(value, kLimit);
    return static_cast<int>(value);
}

}  // namespace kestova

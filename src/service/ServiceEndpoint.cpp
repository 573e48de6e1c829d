#include "service/ServiceEndpoint.h"

#include <algorithm>

namespace kestova {

const char* const serviceHost = KESTOVA_SERVICE_HOST;

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), isDigit)) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char digit : text) {
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    if (value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<ServiceEndpoint> parseServiceEndpoint(std::string_view text) {
    ServiceEndpoint endpoint;
    std::string_view host = text;
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        const std::optional<std::uint16_t> port = parsePort(text.substr(colon + 1));
        if (!port) {
            return std::nullopt;
        }
        endpoint.port = *port;
        host = text.substr(0, colon);
    }
    const auto printable = [](char c) { return c > ' ' && c < 127; };
    if (host.empty() || !std::all_of(host.begin(), host.end(), printable)) {
        return std::nullopt;
    }
    endpoint.host = std::string(host);
    endpoint.hostHeader = std::string(text);
    return endpoint;
}

}  // namespace kestova

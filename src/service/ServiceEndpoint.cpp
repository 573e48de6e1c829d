#include "service/ServiceEndpoint.h"

#include <algorithm>

#include "platform/TcpSocket.h"

namespace kestova {

const char* const builtInService = KESTOVA_SERVICE;

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

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [&lower](char a, char b) { return a == lower(b); });
}

// A name or an IPv4 address: printable, and nothing that would make it a path, a user or
// another address form.
bool isPlainHost(std::string_view host) {
    const auto allowed = [](char c) {
        return c > ' ' && c < 127 && c != '/' && c != '@' && c != '[' && c != ']' && c != '?' &&
               c != '#' && c != ':';
    };
    return !host.empty() && std::all_of(host.begin(), host.end(), allowed);
}

// Splits "HOST[:PORT]" or "[IPv6][:PORT]" into the host and the port text (empty when not given);
// nothing when the brackets or the colons do not fit.
struct HostAndPort {
    std::string_view host;
    std::optional<std::string_view> port;
};

std::optional<HostAndPort> splitHostAndPort(std::string_view text) {
    HostAndPort parts;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        parts.host = text.substr(1, close - 1);
        if (!platform::isIpv6Address(std::string(parts.host))) {
            return std::nullopt;
        }
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        parts.host = text.substr(0, colon);
        if (!isPlainHost(parts.host)) {
            return std::nullopt;
        }
        rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon);
    }
    if (!rest.empty()) {
        if (rest.front() != ':') {
            return std::nullopt;
        }
        parts.port = rest.substr(1);
    }
    return parts;
}

// What a service text names.
struct ServiceAddress {
    bool https = false;
    std::string host;
    std::uint16_t port = 80;
    std::string hostHeader;
};

std::optional<ServiceAddress> readServiceText(std::string_view text) {
    ServiceAddress address;
    constexpr std::string_view kHttps = "https://";
    constexpr std::string_view kHttp = "http://";
    if (startsWithIgnoringCase(text, kHttps)) {
        address.https = true;
        address.port = 443;
        text.remove_prefix(kHttps.size());
    } else if (startsWithIgnoringCase(text, kHttp)) {
        text.remove_prefix(kHttp.size());
    }
    const std::optional<HostAndPort> parts = splitHostAndPort(text);
    if (!parts) {
        return std::nullopt;
    }
    if (parts->port) {
        const std::optional<std::uint16_t> port = parsePort(*parts->port);
        if (!port) {
            return std::nullopt;
        }
        address.port = *port;
    }
    address.host = std::string(parts->host);
    address.hostHeader = std::string(text);
    return address;
}

void apply(ServiceEndpoint& endpoint, ServiceAddress address) {
    endpoint.https = address.https;
    endpoint.host = std::move(address.host);
    endpoint.port = address.port;
    endpoint.hostHeader = std::move(address.hostHeader);
}

}  // namespace

ServiceEndpoint::ServiceEndpoint() : host(builtInService), hostHeader(builtInService) {
    static const std::optional<ServiceAddress> builtIn = readServiceText(builtInService);
    if (builtIn) {
        apply(*this, *builtIn);
    }
}

std::optional<ServiceEndpoint> parseServiceEndpoint(std::string_view text) {
    std::optional<ServiceAddress> address = readServiceText(text);
    if (!address) {
        return std::nullopt;
    }
    ServiceEndpoint endpoint;
    apply(endpoint, std::move(*address));
    return endpoint;
}

std::string serviceText(const ServiceEndpoint& endpoint) {
    std::string text = endpoint.https ? "https://" : "http://";
    const bool ipv6 = endpoint.host.find(':') != std::string::npos;
    text.append(ipv6 ? "[" : "").append(endpoint.host).append(ipv6 ? "]" : "");
    text.append(":").append(std::to_string(endpoint.port));
    return text;
}

}  // namespace kestova

#include "service/ServiceEndpoint.h"

#include <gtest/gtest.h>

namespace kestova {
namespace {

// The built-in service is the build's setting (by default a reserved name, over http).
TEST(ServiceEndpoint, BuiltInServiceIsTheBuildsSetting) {
    const ServiceEndpoint endpoint;
    const std::optional<ServiceEndpoint> setting = parseServiceEndpoint(KESTOVA_SERVICE);
    ASSERT_TRUE(setting);
    EXPECT_EQ(endpoint.https, setting->https);
    EXPECT_EQ(endpoint.host, setting->host);
    EXPECT_EQ(endpoint.port, setting->port);
    EXPECT_EQ(endpoint.hostHeader, setting->hostHeader);
    EXPECT_FALSE(endpoint.authorityFile);
}

TEST(ServiceEndpoint, ReadsEveryForm) {
    struct Case {
        const char* text;
        bool https;
        const char* host;
        std::uint16_t port;
        const char* hostHeader;
        const char* whole;
    };
    const Case cases[] = {
        {"speed.example.net", false, "speed.example.net", 80, "speed.example.net",
         "http://speed.example.net:80"},
        {"127.0.0.1:8080", false, "127.0.0.1", 8080, "127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"http://speed.example.net:81", false, "speed.example.net", 81, "speed.example.net:81",
         "http://speed.example.net:81"},
        {"https://speed.example.net", true, "speed.example.net", 443, "speed.example.net",
         "https://speed.example.net:443"},
        {"HTTPS://speed.example.net:8443", true, "speed.example.net", 8443,
         "speed.example.net:8443", "https://speed.example.net:8443"},
        {"[::1]:8080", false, "::1", 8080, "[::1]:8080", "http://[::1]:8080"},
        {"[2001:db8::1]", false, "2001:db8::1", 80, "[2001:db8::1]", "http://[2001:db8::1]:80"},
        {"https://[2001:db8::1]", true, "2001:db8::1", 443, "[2001:db8::1]",
         "https://[2001:db8::1]:443"},
        {"https://[::ffff:10.0.0.1]:65535", true, "::ffff:10.0.0.1", 65535,
         "[::ffff:10.0.0.1]:65535", "https://[::ffff:10.0.0.1]:65535"},
        {"https://10.0.0.1:1", true, "10.0.0.1", 1, "10.0.0.1:1", "https://10.0.0.1:1"},
    };
    for (const Case& c : cases) {
        const std::optional<ServiceEndpoint> endpoint = parseServiceEndpoint(c.text);
        ASSERT_TRUE(endpoint) << c.text;
        EXPECT_EQ(endpoint->https, c.https) << c.text;
        EXPECT_EQ(endpoint->host, c.host) << c.text;
        EXPECT_EQ(endpoint->port, c.port) << c.text;
        EXPECT_EQ(endpoint->hostHeader, c.hostHeader) << c.text;
        EXPECT_EQ(serviceText(*endpoint), c.whole) << c.text;
    }
}

TEST(ServiceEndpoint, RejectsMalformedTexts) {
    for (const char* text : {"",
                             ":80",
                             "host:",
                             "host:0",
                             "host:65536",
                             "host:8a",
                             "host:123456",
                             "a b:80",
                             "host\r\nX: y",
                             "h:1:2",
                             "::1",
                             "[::1",
                             "[::1]80",
                             "[::1]:",
                             "[::1]:0",
                             "[]:80",
                             "[not-an-address]",
                             "[127.0.0.1]",
                             "https://",
                             "http://:80",
                             "https://host:65536",
                             "ftp://host",
                             "ftp://host:21",
                             "https//host",
                             "host/path",
                             "https://host/",
                             "user@host",
                             "[::1]:8080/x"}) {
        EXPECT_FALSE(parseServiceEndpoint(text)) << text;
    }
}

}  // namespace
}  // namespace kestova

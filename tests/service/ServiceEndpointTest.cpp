#include "service/ServiceEndpoint.h"

#include <gtest/gtest.h>

namespace kestova {
namespace {

// The built-in host is the build's setting (by default a reserved name).
TEST(ServiceEndpoint, BuiltInHostIsTheBuildsSetting) {
    const ServiceEndpoint endpoint;
    EXPECT_EQ(endpoint.host, KESTOVA_SERVICE_HOST);
    EXPECT_EQ(endpoint.hostHeader, endpoint.host);
    EXPECT_EQ(endpoint.port, 80);
}

TEST(ServiceEndpoint, ParsesHostAndPortAndKeepsTheTextForTheHostHeader) {
    const auto withPort = parseServiceEndpoint("127.0.0.1:8080");
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->host, "127.0.0.1");
    EXPECT_EQ(withPort->port, 8080);
    EXPECT_EQ(withPort->hostHeader, "127.0.0.1:8080");

    const auto hostOnly = parseServiceEndpoint("speed.example.net");
    ASSERT_TRUE(hostOnly);
    EXPECT_EQ(hostOnly->port, 80);
    EXPECT_EQ(hostOnly->hostHeader, "speed.example.net");
}

TEST(ServiceEndpoint, RejectsMalformedTexts) {
    for (const char* text : {"", ":80", "host:", "host:0", "host:65536", "host:8a", "host:123456",
                             "a b:80", "host\r\nX: y", "h:1:2"}) {
        EXPECT_FALSE(parseServiceEndpoint(text)) << text;
    }
}

}  // namespace
}  // namespace kestova

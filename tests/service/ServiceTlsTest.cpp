// The exchanges over https: the same request bytes inside TLS, the certificate checked against
// the trusted authorities and the service's name or address; anything else is an unreachable
// service, said in one run log line, and nothing goes out in clear.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/TlsChannel.h"
#include "service/AddressLookup.h"
#include "service/ServerAssignment.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
#include "support/TestAuthority.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

enum class Server { TestService, Silent, PlainHttp };

struct TlsCase {
    const char* name;
    const char* certificate;  // the service's, issued by the test's authority; "" for none
    Server server;
    bool https;              // how the client speaks to it
    const char* host;        // the service as the client names it
    bool trustTheAuthority;  // --service-ca with the test's authority, else the system's store
    // What the exchanges leave: the address file, the assignment's outcome and status file, and
    // a text the run log names the reason with (empty: no such line).
    const char* ipAddressFile;
    AssignmentResult assignment;
    const char* httpStatusFile;
    const char* logReason;
};

constexpr const char* kGranted = "resultCode=0,ipAddress=127.0.0.1,port=5201,";

class ServiceTls : public testing::ProgramFolderTest,
                   public ::testing::WithParamInterface<TlsCase> {};

TEST_P(ServiceTls, LeavesTheFilesOfItsCase) {
    const TlsCase& c = GetParam();
    testing::TestAuthority authority(folder() / "pki");
    ASSERT_TRUE(authority.made());
    ASSERT_TRUE(authority.issue("trusted", "DNS:localhost,IP:127.0.0.1,IP:::1"));
    ASSERT_TRUE(authority.issue("wrongname", "DNS:other.example"));
    ASSERT_TRUE(authority.issue("expired", "DNS:localhost,IP:127.0.0.1", -1));
    ASSERT_TRUE(authority.issue("selfsigned", "DNS:localhost,IP:127.0.0.1", 2, true));

    std::optional<platform::TlsServerIdentity> identity;
    if (*c.certificate != '\0') {
        std::string failure;
        identity = platform::TlsServerIdentity::load(
            authority.path(std::string(c.certificate) + ".pem"),
            authority.path(std::string(c.certificate) + ".key"), failure);
        ASSERT_TRUE(identity) << failure;
    }
    tools::TestServiceConfig config;
    config.servers = {"127.0.0.1:5201"};
    config.reportLog = (folder() / "reports.txt").string();
    std::optional<testing::RunningTestService> service;
    std::optional<tools::ScriptedService> scripted;
    std::uint16_t port = 0;
    if (c.server == Server::TestService) {
        service.emplace(config, "127.0.0.1", identity ? &*identity : nullptr);
        port = service->port();
    } else if (c.server == Server::Silent) {
        scripted.emplace(std::vector<tools::ScriptStep>{tools::ScriptStep::hang()});
        port = scripted->port();
    } else {
        scripted.emplace(std::vector<tools::ScriptStep>{tools::ScriptStep::send(
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")});
        port = scripted->port();
    }
    ServiceEndpoint endpoint = *parseServiceEndpoint(std::string(c.https ? "https://" : "http://") +
                                                     c.host + ":" + std::to_string(port));
    // The plain stand-in answers once the request head has stayed incomplete for 2 s, as a server
    // that cannot read a TLS greeting answers it: the handshake's bound outlasts that.
    endpoint.exchangeTimeout = c.server == Server::PlainHttp ? 6s : 2s;
    if (c.trustTheAuthority) {
        endpoint.authorityFile = authority.certificate();
    }

    ::testing::internal::CaptureStdout();
    getIpAddress(endpoint);
    ServerAssignmentState state;
    const AssignmentResult assignment = requestIperfServer(endpoint, state);
    const std::string log = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(fileBytes(workspace::kIpAddress), c.ipAddressFile) << c.name;
    EXPECT_EQ(assignment, c.assignment) << c.name;
    EXPECT_EQ(fileBytes(workspace::kHttpStatus), c.httpStatusFile) << c.name;
    if (*c.logReason != '\0') {
        EXPECT_NE(log.find("service unreachable over https | https://"), std::string::npos)
            << c.name << ": " << log;
        EXPECT_NE(log.find(c.logReason), std::string::npos) << c.name << ": " << log;
    } else {
        EXPECT_EQ(log.find("service unreachable over https"), std::string::npos) << c.name << log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceTls,
    ::testing::Values(
        TlsCase{"trusted_name", "trusted", Server::TestService, true, "localhost", true,
                "127.0.0.1", AssignmentResult::Granted, kGranted, ""},
        TlsCase{"trusted_ipv4_address", "trusted", Server::TestService, true, "127.0.0.1", true,
                "127.0.0.1", AssignmentResult::Granted, kGranted, ""},
        TlsCase{"untrusted", "trusted", Server::TestService, true, "localhost", false, "error",
                AssignmentResult::Unreachable, "Could not connect", "unable to get local issuer"},
        TlsCase{"self_signed", "selfsigned", Server::TestService, true, "localhost", true, "error",
                AssignmentResult::Unreachable, "Could not connect", "self-signed"},
        TlsCase{"wrong_name", "wrongname", Server::TestService, true, "localhost", true, "error",
                AssignmentResult::Unreachable, "Could not connect", "hostname mismatch"},
        TlsCase{"wrong_address", "wrongname", Server::TestService, true, "127.0.0.1", true, "error",
                AssignmentResult::Unreachable, "Could not connect", "IP address mismatch"},
        TlsCase{"expired", "expired", Server::TestService, true, "localhost", true, "error",
                AssignmentResult::Unreachable, "Could not connect", "certificate has expired"},
        TlsCase{"handshake_stalls", "", Server::Silent, true, "localhost", true, "error",
                AssignmentResult::Unreachable, "Could not connect", "did not end in time"},
        TlsCase{"plain_http_on_the_https_port", "", Server::PlainHttp, true, "localhost", true,
                "error", AssignmentResult::Unreachable, "Could not connect",
                "TLS handshake failed"},
        // Over http the bytes go in clear as always: a TLS server answers nothing readable.
        TlsCase{"tls_on_the_http_port", "trusted", Server::TestService, false, "127.0.0.1", true,
                "", AssignmentResult::Refused, "", ""}),
    [](const auto& param) { return std::string(param.param.name); });

using ServiceTlsAuthorities = testing::ProgramFolderTest;

// Authorities that cannot be read leave the service unreachable and say so.
TEST_F(ServiceTlsAuthorities, AnUnreadableAuthorityFileIsAnUnreachableService) {
    testing::TestAuthority authority(folder() / "pki");
    ASSERT_TRUE(authority.made());
    ASSERT_TRUE(authority.issue("trusted", "DNS:localhost,IP:127.0.0.1"));
    std::string failure;
    const std::optional<platform::TlsServerIdentity> identity = platform::TlsServerIdentity::load(
        authority.path("trusted.pem"), authority.path("trusted.key"), failure);
    ASSERT_TRUE(identity) << failure;
    testing::RunningTestService service(tools::TestServiceConfig{}, "127.0.0.1", &*identity);
    ServiceEndpoint endpoint = service.endpoint();
    endpoint.authorityFile = (folder() / "no-such-file.pem").string();
    ::testing::internal::CaptureStdout();
    getIpAddress(endpoint);
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "error");
    EXPECT_NE(log.find("no-such-file.pem could not be read"), std::string::npos) << log;
}

}  // namespace
}  // namespace kestova

#include "service/VersionCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/SystemSpelling.h"
#include "support/ProgramFolderFixture.h"
#include "support/ServiceReplies.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using testing::loopbackEndpoint;
using testing::okReply;
using tools::ScriptedService;
using tools::ScriptStep;

struct VersionCase {
    const char* name;
    std::string body;
    std::optional<std::string> localVersionFile;
    VersionCheckResult result;
};

class VersionCheck : public testing::ProgramFolderTest,
                     public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionCheck, ComparesTheTrimmedLatestWithTheLocalVersion) {
    const VersionCase& c = GetParam();
    if (c.localVersionFile) {
        putFile(workspace::kLocalVersion, *c.localVersionFile);
    }
    ScriptedService service({ScriptStep::send(okReply(c.body))});
    EXPECT_EQ(checkClientVersion(loopbackEndpoint(service.port())), c.result);
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), std::to_string(static_cast<int>(c.result)));
    EXPECT_EQ(fileBytes(workspace::kLatestVersion), platform::asStoredText(c.body));
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionCheck,
    ::testing::Values(
        VersionCase{"body_with_crlf_equal", "2.5.1\r\n", "2.5.1", VersionCheckResult::UpToDate},
        VersionCase{"older_local", "2.5.1\r\n", "2.5.0", VersionCheckResult::UpgradeRequired},
        VersionCase{"local_not_trimmed", "2.5.1", "2.5.1 ", VersionCheckResult::UpgradeRequired},
        VersionCase{"no_ordering_of_versions", "2.10", "2.9", VersionCheckResult::UpgradeRequired},
        VersionCase{"letter_case_counts", "Beta", "beta", VersionCheckResult::UpgradeRequired},
        VersionCase{"local_file_written_on_windows", " 2.5.1 ", "2.5.1\r\nnext",
                    VersionCheckResult::UpToDate},
        VersionCase{"local_file_missing", "2.5.1", std::nullopt,
                    VersionCheckResult::UpgradeRequired},
        VersionCase{"every_version_character", "v2_5-1.RC3", "v2_5-1.RC3",
                    VersionCheckResult::UpToDate},
        VersionCase{"longest_version", std::string(32, '9'), "1.0.0",
                    VersionCheckResult::UpgradeRequired}),
    [](const auto& param) { return std::string(param.param.name); });

struct NotAnAnswerCase {
    const char* name;
    std::string reply;
};

class VersionCheckNotAnAnswer : public testing::ProgramFolderTest,
                                public ::testing::WithParamInterface<NotAnAnswerCase> {};

// Replies that carry no version are no answer: the service counts as unreachable, so nobody is
// sent to the upgrade page while it misbehaves.
TEST_P(VersionCheckNotAnAnswer, CountsAsUnreachable) {
    putFile(workspace::kLocalVersion, "1.0.0");
    ScriptedService service({ScriptStep::send(GetParam().reply)});
    EXPECT_EQ(checkClientVersion(loopbackEndpoint(service.port())),
              VersionCheckResult::ServiceUnreachable);
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    EXPECT_EQ(fileBytes(workspace::kLatestVersion), "<missing>");
}

std::string replyWith(const std::string& statusLine, const std::string& body) {
    return statusLine +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionCheckNotAnAnswer,
    ::testing::Values(
        NotAnAnswerCase{"service_unavailable", replyWith("HTTP/1.1 503 Service Unavailable",
                                                         "<html><body>Busy</body></html>")},
        NotAnAnswerCase{"not_found", replyWith("HTTP/1.1 404 Not Found", "1.0.1")},
        NotAnAnswerCase{"redirect_to_a_portal",
                        "HTTP/1.1 302 Found\r\nLocation: http://portal.example/\r\n"
                        "Content-Length: 5\r\n\r\n1.0.1"},
        NotAnAnswerCase{"captive_portal_login_page",
                        replyWith("HTTP/1.1 200 OK",
                                  "<html><form action=login>Sign in to Hotel WiFi</form></html>")},
        NotAnAnswerCase{"status_that_only_starts_with_200", replyWith("HTTP/1.1 2000 OK", "1.0.1")},
        NotAnAnswerCase{"empty_body", replyWith("HTTP/1.1 200 OK", "")},
        NotAnAnswerCase{"white_space_body", replyWith("HTTP/1.1 200 OK", " \t\r\n")},
        NotAnAnswerCase{"no_content_length", "HTTP/1.1 200 OK\r\n\r\n1.0.1"},
        NotAnAnswerCase{"length_cut_by_the_missing_space",
                        "HTTP/1.1 200 OK\r\nContent-Length:5\r\n\r\n1.0.1"},
        NotAnAnswerCase{"version_too_long", replyWith("HTTP/1.1 200 OK", std::string(33, '9'))},
        NotAnAnswerCase{"space_inside", replyWith("HTTP/1.1 200 OK", "1.0 beta")},
        NotAnAnswerCase{"control_character_inside", replyWith("HTTP/1.1 200 OK", "1.0\x1b[2J")}),
    [](const auto& param) { return std::string(param.param.name); });

using VersionCheckUnreachable = testing::ProgramFolderTest;

// Silence, bytes that are no HTTP, or a reply cut inside its header: no answer, so no upgrade.
TEST_F(VersionCheckUnreachable, NoAnswerIsNotAnUpgrade) {
    putFile(workspace::kLocalVersion, "1.0.0");
    const std::vector<std::vector<ScriptStep>> noAnswers = {
        {},                                                   // closes without a word
        {ScriptStep::send(std::string(2000, '\x7f'))},        // garbage
        {ScriptStep::send("HTTP/1.1 200 OK\r\nContent-Le")},  // cut in its header
        {ScriptStep::send("SSH-2.0-OpenSSH_9.2\r\n\r\n")}};   // another protocol
    for (const std::vector<ScriptStep>& steps : noAnswers) {
        ScriptedService service(steps);
        EXPECT_EQ(checkClientVersion(loopbackEndpoint(service.port())),
                  VersionCheckResult::ServiceUnreachable);
        EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
        EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    }
    ScriptedService silent({ScriptStep::hang()});
    ServiceEndpoint endpoint = loopbackEndpoint(silent.port());
    endpoint.exchangeTimeout = std::chrono::milliseconds(300);
    EXPECT_EQ(checkClientVersion(endpoint), VersionCheckResult::ServiceUnreachable);
}

TEST_F(VersionCheckUnreachable, LeavesTheFourStatusValues) {
    putFile(workspace::kLatestVersion, "old");
    EXPECT_EQ(checkClientVersion(testing::unresolvableEndpoint()),
              VersionCheckResult::ServiceUnreachable);
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    EXPECT_EQ(fileBytes(workspace::kLatestVersion), "old");
}

#ifndef _WIN32
// With no socket to be had, the service was not asked: the client is not told to upgrade. (On
// Windows the socket layer's failure, in the service's Windows tests.)
TEST_F(VersionCheckUnreachable, NoSocketCountsAsUnreachableNotAsUpgrade) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own to report anything";
#endif
    putFile(workspace::kLocalVersion, "1.0.0");
    ScriptedService service({ScriptStep::send(okReply("1.0.0"))});
    std::vector<int> held;
    for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0; fd = ::open("/dev/null", O_RDONLY)) {
        held.push_back(fd);
    }
    const VersionCheckResult result = checkClientVersion(loopbackEndpoint(service.port()));
    for (const int fd : held) {
        ::close(fd);
    }
    EXPECT_EQ(result, VersionCheckResult::ServiceUnreachable);
}
#endif

}  // namespace
}  // namespace kestova

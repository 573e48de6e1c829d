#include "service/ResultReport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/SystemSpelling.h"
#include "service/HttpExchange.h"
#include "support/ProgramFolderFixture.h"
#include "support/ServiceReplies.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using tools::ScriptedService;
using tools::ScriptStep;

const std::string kMerged =
    "[SUM] 0.00-1.00 sec 112 MBytes 1880.00 Mbits/sec \n"
    "[SUM] 0.00-10.00 sec 2.19 GBytes 1878.50 Mbits/sec receiver \n"
    "\n"
    "iperf Done.";

struct FigureCase {
    const char* name;
    std::optional<std::string> status;
    std::optional<std::string> merged;
    std::string figure;
};

class StageFigure : public testing::ProgramFolderTest,
                    public ::testing::WithParamInterface<FigureCase> {};

TEST_P(StageFigure, IsTakenTwoLinesAboveTheMarker) {
    const FigureCase& c = GetParam();
    if (c.status) {
        putFile(workspace::kDownloadStatus, *c.status);
    }
    if (c.merged) {
        putFile(workspace::kDownloadSpeed, *c.merged);
    }
    EXPECT_EQ(stageFigure(workspace::kDownloadStatus, workspace::kDownloadSpeed), c.figure);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StageFigure,
    ::testing::Values(
        FigureCase{"completed", "2", kMerged, "1878.50"},
        FigureCase{"any_line_with_a_two_counts", "x\n12", kMerged, "1878.50"},
        FigureCase{"failed_stage", "-1", kMerged, "error"},
        FigureCase{"status_missing", std::nullopt, kMerged, "error"},
        FigureCase{"merged_missing", "2", std::nullopt, "error"},
        FigureCase{"merged_empty", "2", "", "error"},
        FigureCase{"marker_on_second_line", "2", "[SUM] 1 Bytes 2 Mbits/sec\niperf Done.", "error"},
        FigureCase{"windows_line_ends", "2",
                   "[SUM] 0-10 sec 1 GBytes  940.25 Mbits/sec receiver\r\n\r\niperf Done.\r\n",
                   "940.25"},
        FigureCase{"no_bytes_on_the_line", "2", "[SUM] 0-10 sec 940 Mbits/sec\n\niperf Done.",
                   "error"},
        FigureCase{"no_bitrate_on_the_line", "2",
                   "[SUM] 0-10 sec 1 GBytes 940 Kbits/sec\n\niperf Done.", "error"},
        FigureCase{"nothing_between", "2", "[SUM] 1 GBytes \t Mbits/sec\n\niperf Done.", "error"},
        FigureCase{"unit_before_bytes", "2", "Mbits/sec 1 GBytes 5\n\niperf Done.", "error"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ResultReportTexts, QueryAndSummaryForTwoServers) {
    const std::vector<OurIperfServer> servers{{"10.0.0.1", "5201"}, {"10.0.0.2", "5202"}};
    EXPECT_EQ(reportQuery(servers, "1878.50", "940.25"),
              "ipAddress=10.0.0.1,10.0.0.2&port=5201,5202&downloadResult=1878.50&"
              "uploadResult=940.25&platform=Win");
    EXPECT_EQ(finalSummary(servers, "1878.50", "940.25"),
              "Server IP=10.0.0.1,10.0.0.2, Server Port=5201,5202, downloadResult=1878.50Mbps, "
              "uploadResult=940.25Mbps");
    EXPECT_EQ(reportQuery({}, "error", "error"),
              "ipAddress=&port=&downloadResult=error&uploadResult=error&platform=Win");
}

using LogResult = testing::ProgramFolderTest;

TEST_F(LogResult, RecordsTheExchangeAndTheSummaryWhateverTheAnswer) {
    putFile(workspace::kDownloadStatus, "2");
    putFile(workspace::kDownloadSpeed, kMerged);
    putFile(workspace::kUploadStatus, "-1");
    const std::string answer =
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops";
    ScriptedService service({ScriptStep::send(answer)});
    const ServiceEndpoint endpoint = testing::loopbackEndpoint(service.port());
    logResult(endpoint, {{"10.0.0.1", "5201"}});

    const std::string request =
        "GET /speedtest25g/speedtest/log_result_dynamic.jsp?ipAddress=10.0.0.1&port=5201&"
        "downloadResult=1878.50&uploadResult=error&platform=Win HTTP/1.1\r\nHost: " +
        endpoint.hostHeader + "\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(service.requests().size(), 1U);
    EXPECT_EQ(service.requests()[0], request);
    // Written as a text file of the system: on Windows each line feed is stored as CR LF, also
    // those of the exchange's own CR LF pairs.
    EXPECT_EQ(fileBytes(workspace::kHttpReturn), platform::asStoredText(request + "\n" + answer));
    EXPECT_EQ(fileBytes(workspace::kFinal),
              "Server IP=10.0.0.1, Server Port=5201, downloadResult=1878.50Mbps, "
              "uploadResult=errorMbps");
}

// A service that answers the report with a megabyte: the exchange keeps its first kReplyCapacity
// bytes and reads no further, so the exchange record stays small whatever the service sends.
TEST_F(LogResult, AReplyOfAMegabyteIsKeptToItsFirstTenThousandBytes) {
    putFile(workspace::kDownloadStatus, "-1");
    putFile(workspace::kUploadStatus, "-1");
    ScriptedService service({ScriptStep::send(std::string(1 << 20, 'z'))});
    const ServiceEndpoint endpoint = testing::loopbackEndpoint(service.port());
    logResult(endpoint, {{"10.0.0.1", "5201"}});

    ASSERT_EQ(service.requests().size(), 1U);
    const std::string request = service.requests()[0];
    EXPECT_EQ(fileBytes(workspace::kHttpReturn),
              platform::asStoredText(request + "\n" + std::string(kReplyCapacity, 'z')));
}

// The report goes out whole, however long: cut at a fixed length it would end mid-field and
// without the end of its head, which the service could neither parse nor take for a request.
// With at most 64 servers it stays far shorter; the caller here gives a thousand.
TEST_F(LogResult, ALongReportGoesOutWhole) {
    putFile(workspace::kDownloadStatus, "-1");
    putFile(workspace::kUploadStatus, "-1");
    std::vector<OurIperfServer> servers;
    for (int server = 0; server < 1000; ++server) {
        servers.push_back(
            {"10.0." + std::to_string(server / 250) + "." + std::to_string(server % 250),
             std::to_string(5201 + server)});
    }
    const std::string answer = testing::okReply("ok");
    ScriptedService service({ScriptStep::send(answer)});
    const ServiceEndpoint endpoint = testing::loopbackEndpoint(service.port());
    logResult(endpoint, servers);

    std::string requestLine = "GET /speedtest25g/speedtest/log_result_dynamic.jsp?";
    requestLine.append(reportQuery(servers, "error", "error")).append(" HTTP/1.1");
    const std::string request = buildRequestText(requestLine, endpoint.hostHeader);
    ASSERT_GT(request.size(), 9999U);
    ASSERT_EQ(service.requests().size(), 1U);
    EXPECT_EQ(service.requests()[0], request);
    EXPECT_EQ(fileBytes(workspace::kHttpReturn), platform::asStoredText(request + "\n" + answer));
    EXPECT_EQ(fileBytes(workspace::kFinal), finalSummary(servers, "error", "error"));
}

TEST_F(LogResult, AnUnreachableServiceLeavesBothFilesAsTheyWere) {
    putFile(workspace::kFinal, "previous summary");
    logResult(testing::unresolvableEndpoint(), {{"10.0.0.1", "5201"}});
    EXPECT_EQ(fileBytes(workspace::kFinal), "previous summary");
    EXPECT_EQ(fileBytes(workspace::kHttpReturn), "<missing>");
}

}  // namespace
}  // namespace kestova

// The result document, from workspace files prepared for each way a test ends.
#include "app/ResultDocument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "support/ProgramFolderFixture.h"
#include "support/TestData.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

std::string dataFile(const std::string& name) {
    std::ifstream in(testing::testDataPath("iperf3/" + name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<OurIperfServer> kServers = {{"192.0.2.10", "5201"}, {"192.0.2.11", "5202"}};

// A whole test's files: two servers, both stages completed.
std::map<std::string, std::string> completedTest() {
    return {
        {workspace::kLocalVersion, "1.0.0"},
        {workspace::kIpAddress, "203.0.113.9"},
        {workspace::kDownloadStatus, "2"},
        {workspace::kUploadStatus, "2"},
        {workspace::kErrorCode, "e002"},  // an earlier test's; this one completed
        {workspace::kDownloadSpeed, dataFile("dn_speed_merged.txt")},
        {workspace::kUploadSpeed, dataFile("up_speed_merged.txt")},
        {"speedTest/dn_speed_0.txt", dataFile("dn_speed_0.txt")},
        {"speedTest/dn_speed_1.txt", dataFile("dn_speed_1.txt")},
        {"speedTest/up_speed_0.txt", dataFile("up_speed_0.txt")},
        {"speedTest/up_speed_1.txt", dataFile("up_speed_1.txt")},
        {workspace::kDownloadLive, "1.00 26390.00\n2.00 26400.50\n"},
        {workspace::kUploadLive, "1.00 29600.25\n"},
        {workspace::kLatency,
         "idle 12.34 1.20 10 0\ndownload 85.02 9.50 20 0\nupload 40.08 3.10 20 1\n"},
    };
}

class ResultDocument : public testing::ProgramFolderTest {
  protected:
    void putFiles(const std::map<std::string, std::string>& files) {
        for (const auto& [path, bytes] : files) {
            putFile(path, bytes);
        }
    }
    static Json documentOf(TestEnd end, bool downloadRan, bool uploadRan,
                           std::vector<OurIperfServer> servers) {
        ResultInputs inputs{end, "2026-12-10T21:10:55+08:00", downloadRan, uploadRan,
                            std::move(servers)};
        const std::string text = resultDocument(inputs);
        EXPECT_EQ(text.back(), '\n');
        return Json::parse(text);
    }
};

TEST_F(ResultDocument, ACompletedTestGivesEveryFigure) {
    putFiles(completedTest());
    const Json document = documentOf(TestEnd::Completed, true, true, kServers);
    const Json expected = Json::parse(R"({
        "version": "1.0.0", "time": "2026-12-10T21:10:55+08:00", "status": "completed",
        "error": null, "client_address": "203.0.113.9",
        "download_mbps": 40942, "upload_mbps": 42955,
        "servers": [
            {"address": "192.0.2.10", "port": 5201, "download_mbps": 12710, "upload_mbps": 16784},
            {"address": "192.0.2.11", "port": 5202, "download_mbps": 13680, "upload_mbps": 12800}],
        "latency_ms": {
            "idle": {"median": 12.34, "jitter": 1.2, "samples": 10, "lost": 0},
            "download": {"median": 85.02, "jitter": 9.5, "samples": 20, "lost": 0},
            "upload": {"median": 40.08, "jitter": 3.1, "samples": 20, "lost": 1}},
        "intervals": {"download": [26390.0, 26400.5], "upload": [29600.25]}})");
    EXPECT_EQ(document, expected) << document.dump(2);
    // The keys in the order a reader of the document expects them.
    const auto ordered = nlohmann::ordered_json::parse(
        resultDocument({TestEnd::Completed, "t", true, true, kServers}));
    std::vector<std::string> keys;
    for (const auto& item : ordered.items()) {
        keys.push_back(item.key());
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"version", "time", "status", "error",
                                              "client_address", "download_mbps", "upload_mbps",
                                              "servers", "latency_ms", "intervals"}));
}

// What the workspace holds of an earlier test never stands in the document for this one.
TEST_F(ResultDocument, StagesThatDidNotRunGiveNoFigures) {
    putFiles(completedTest());
    putFile(workspace::kUploadStatus, "-1");
    putFile(workspace::kErrorCode, "e003");
    putFile("speedTest/up_speed_1.txt", "Connecting to host 192.0.2.11, port 5202\n");
    const Json uploadFailed = documentOf(TestEnd::Failed, true, true, kServers);
    EXPECT_EQ(uploadFailed["status"], "failed");
    EXPECT_EQ(uploadFailed["error"], "e003");
    EXPECT_EQ(uploadFailed["download_mbps"], 40942);
    EXPECT_EQ(uploadFailed["upload_mbps"], nullptr);
    EXPECT_EQ(uploadFailed["servers"][0]["upload_mbps"], 16784);  // its own total stands
    EXPECT_EQ(uploadFailed["servers"][1]["upload_mbps"], nullptr);

    // The download failed: the upload's files are all an earlier test's.
    putFile(workspace::kDownloadStatus, "-1");
    putFile(workspace::kErrorCode, "e002");
    const Json downloadFailed = documentOf(TestEnd::Failed, true, false, kServers);
    EXPECT_EQ(downloadFailed["error"], "e002");
    EXPECT_EQ(downloadFailed["download_mbps"], nullptr);
    EXPECT_EQ(downloadFailed["servers"][0]["download_mbps"], 12710);
    EXPECT_EQ(downloadFailed["servers"][0]["upload_mbps"], nullptr);
    EXPECT_EQ(downloadFailed["latency_ms"]["upload"], nullptr);
    EXPECT_EQ(downloadFailed["latency_ms"]["idle"]["median"], 12.34);
    EXPECT_EQ(downloadFailed["intervals"]["upload"], Json::array());

    // No stage ran: the servers could not be assigned.
    const Json noStage = documentOf(TestEnd::Failed, false, false, {});
    EXPECT_EQ(noStage["download_mbps"], nullptr);
    EXPECT_EQ(noStage["servers"], Json::array());
    EXPECT_EQ(noStage["latency_ms"],
              Json::parse(R"({"idle": null, "download": null, "upload": null})"));
    EXPECT_EQ(noStage["intervals"], Json::parse(R"({"download": [], "upload": []})"));
    EXPECT_EQ(noStage["client_address"], "203.0.113.9");

    // An upgrade is required: no test at all.
    const Json upgrade = documentOf(TestEnd::UpgradeRequired, false, false, {});
    EXPECT_EQ(upgrade["status"], "upgrade required");
    EXPECT_EQ(upgrade["error"], nullptr);
    EXPECT_EQ(upgrade["client_address"], nullptr);
    EXPECT_EQ(upgrade["version"], "1.0.0");
}

// Whatever the files hold, the document is one valid JSON document with null where a value is
// not what it should be.
TEST_F(ResultDocument, OddFilesGiveNullsNotABrokenDocument) {
    putFiles(completedTest());
    putFile(workspace::kIpAddress, "error");
    putFile(workspace::kLocalVersion, "1.0\"\\\n\xff\xfe beta");
    putFile(workspace::kDownloadLive,
            "1.00 26390.00\r\nhalf a line\n2.00\n3.00 x\n4.00 26401.75\n");
    putFile(workspace::kLatency,
            "idle 12.34 1.20 ten 0\ndownload 85.02 9.50 20 0 extra\nupload - - 0 7\n");
    putFile("speedTest/dn_speed_0.txt", "iperf Done.\n");
    const Json document = documentOf(TestEnd::Completed, true, true,
                                     {{"192.0.2.10", "52x1"}, {"192.0.2.11", "5202"}});
    EXPECT_EQ(document["client_address"], nullptr);
    EXPECT_EQ(document["version"], "1.0\"\\");
    EXPECT_EQ(document["servers"][0]["port"], nullptr);
    EXPECT_EQ(document["servers"][0]["download_mbps"], nullptr);
    EXPECT_EQ(document["servers"][1]["download_mbps"], 13680);
    EXPECT_EQ(document["intervals"]["download"], Json::parse("[26390.0, 26401.75]"));
    EXPECT_EQ(document["latency_ms"]["idle"], nullptr);
    EXPECT_EQ(document["latency_ms"]["download"], nullptr);
    // Every connection attempt lost: no median, no jitter, but the count.
    EXPECT_EQ(document["latency_ms"]["upload"],
              Json::parse(R"({"median": null, "jitter": null, "samples": 0, "lost": 7})"));

    putFile(workspace::kLocalVersion, "\xff\xfe");  // not UTF-8: replaced, still one document
    EXPECT_EQ(documentOf(TestEnd::Completed, true, true, kServers)["version"],
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// A stage ran when its merge rewrote the merged file during the test.
TEST_F(ResultDocument, TheMergesTellWhichStagesRan) {
    // Written an hour ago, so that this test's writing gives another time without waiting.
    for (const char* merged : {workspace::kDownloadSpeed, workspace::kUploadSpeed}) {
        putFile(merged, "an earlier test's\n");
        std::filesystem::last_write_time(merged,
                                         std::filesystem::file_time_type::clock::now() - 1h);
    }
    const EarlierMerges earlier = EarlierMerges::note();
    EXPECT_FALSE(earlier.downloadRewritten());
    EXPECT_FALSE(earlier.uploadRewritten());
    const ResultInputs none = resultInputsNow(TestEnd::Failed, earlier, kServers);
    EXPECT_FALSE(none.downloadRan);
    EXPECT_TRUE(none.servers.empty());

    std::filesystem::remove(workspace::kDownloadSpeed);
    putFile(workspace::kDownloadSpeed, "this test's\n");
    EXPECT_TRUE(earlier.downloadRewritten());
    EXPECT_FALSE(earlier.uploadRewritten());
    const ResultInputs download = resultInputsNow(TestEnd::Failed, earlier, kServers);
    EXPECT_TRUE(download.downloadRan);
    EXPECT_FALSE(download.uploadRan);
    EXPECT_EQ(download.servers, kServers);
    EXPECT_TRUE(std::regex_match(download.time,
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << download.time;

    // A merged file that was missing before the test.
    std::filesystem::remove(workspace::kUploadSpeed);
    const EarlierMerges withoutUpload = EarlierMerges::note();
    putFile(workspace::kUploadSpeed, "this test's\n");
    EXPECT_TRUE(withoutUpload.uploadRewritten());
    EXPECT_TRUE(resultInputsNow(TestEnd::Completed, withoutUpload, kServers).downloadRan);
}

TEST(IsoLocalTime, CarriesTheZonesOffsetInTheExtendedForm) {
    ::setenv("TZ", "KST-8", 1);
    ::tzset();
    const std::string east = isoLocalTimeNow();
    ::setenv("TZ", "NST+3:30", 1);
    ::tzset();
    const std::string west = isoLocalTimeNow();
    ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(east.substr(19), "+08:00") << east;
    EXPECT_EQ(west.substr(19), "-03:30") << west;
    EXPECT_EQ(east.size(), 25U);
}

}  // namespace
}  // namespace kestova

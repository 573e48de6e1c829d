// What a user sees while a test runs, with the program run as a user runs it against two real
// iperf3 servers: the live totals grow while each stage runs, count what reached the receiving
// side second by second and agree with the stage's figure; the servers counted, the latency idle
// and under load, the history line.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ProgramUnderTest.h"
#include "support/RunningTestService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::IperfServer;

struct ParameterCase {
    const char* name;
    std::optional<std::string> parameters;  // nothing: the installed file
    bool liveWhileRunning;
};

class LiveMeasures : public testing::ProgramUnderTest,
                     public ::testing::WithParamInterface<ParameterCase> {
  protected:
    // Every distinct content of the live file, seen while its stage was under way.
    struct Watched {
        std::vector<std::string> whileRunning;
    };

    void watch(const std::string& statusPath, const std::string& livePath, Watched& watched) {
        if (fileBytes(statusPath) != "1") {
            return;
        }
        const std::string live = fileBytes(livePath);
        if (!live.empty() &&
            (watched.whileRunning.empty() || watched.whileRunning.back() != live)) {
            watched.whileRunning.push_back(live);
        }
    }

    static std::vector<std::string> linesOf(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

TEST_P(LiveMeasures, GrowWhileTheStagesRunAndAgreeWithTheFigure) {
    if (GetParam().parameters) {
        putFile(workspace::kIperfParameters, *GetParam().parameters + "\n");
    }
    putFile(workspace::kDownloadLive, "9.00 12345.00\n");  // an earlier test's
    IperfServer first;
    IperfServer second;
    testing::RunningTestService service(grantingServers({&first, &second}));

    std::future<int> run =
        startProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port()));
    Watched download;
    Watched upload;
    while (run.wait_for(20ms) != std::future_status::ready) {
        watch(workspace::kDownloadStatus, workspace::kDownloadLive, download);
        watch(workspace::kUploadStatus, workspace::kUploadLive, upload);
    }
    ASSERT_EQ(run.get(), 0) << fileBytes("runlog.txt");

    for (const auto& [stage, watched] :
         {std::pair{std::string("dn"), &download}, std::pair{std::string("up"), &upload}}) {
        const std::string live = fileBytes("speedTest/" + stage + "_live.txt");
        const std::vector<std::string> seconds = linesOf(live);
        EXPECT_GE(seconds.size(), 9U) << stage;
        // Whole seconds of what arrived: their mean is the stage's figure, give or take what a
        // loopback run on a busy machine varies by.
        double sum = 0;
        for (std::size_t k = 0; k < seconds.size(); ++k) {
            EXPECT_EQ(seconds[k].rfind(std::to_string(k + 1) + ".00 ", 0), 0U) << seconds[k];
            sum += std::stod(seconds[k].substr(seconds[k].find(' ') + 1));
        }
        const double figure = std::stod(fileBytes("speedTest/" + stage + "_figure.txt"));
        EXPECT_NEAR(sum / static_cast<double>(seconds.size()), figure, figure * 0.25) << live;
        for (const std::string& seen : watched->whileRunning) {
            EXPECT_EQ(live.substr(0, seen.size()), seen) << stage << ": lines shown were changed";
        }
        if (GetParam().liveWhileRunning) {
            EXPECT_GE(watched->whileRunning.size(), 5U)
                << stage << ": the live file did not grow while the stage ran";
        }
        EXPECT_EQ(fileBytes("speedTest/" + stage + "_servers.txt"), "2/2") << stage;
    }

    const std::vector<std::string> latency = linesOf(fileBytes(workspace::kLatency));
    ASSERT_EQ(latency.size(), 3U);
    const std::regex line(R"((\w+) ([0-9]+\.[0-9]{2}) ([0-9]+\.[0-9]{2}) ([0-9]+) ([0-9]+))");
    const char* const phases[] = {"idle", "download", "upload"};
    for (std::size_t k = 0; k < 3; ++k) {
        std::smatch figures;
        ASSERT_TRUE(std::regex_match(latency[k], figures, line)) << latency[k];
        EXPECT_EQ(figures[1], phases[k]);
        const int samples = std::stoi(figures[4]) + std::stoi(figures[5]);
        // Idle: the samples taken beside the address lookup and the assignment, at least the
        // first two; under load one every half second over a stage of about ten seconds.
        EXPECT_TRUE(k == 0 ? samples >= 2 && samples <= 10 : samples >= 8) << latency[k];
    }

    const std::vector<std::string> history = linesOf(fileBytes(workspace::kHistory));
    ASSERT_EQ(history.size(), 2U);
    EXPECT_EQ(history[0],
              "time,download_mbps,upload_mbps,idle_ms,download_ms,upload_ms,servers,"
              "outcome");
    const std::regex entry(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,([0-9.]+),([0-9.]+),[0-9.]+,[0-9.]+,[0-9.]+,2/2,completed)");
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(history[1], fields, entry)) << history[1];
    const std::string final = fileBytes(workspace::kFinal);
    EXPECT_NE(final.find("downloadResult=" + fields[1].str() + "Mbps"), std::string::npos);
    EXPECT_NE(final.find("uploadResult=" + fields[2].str() + "Mbps"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LiveMeasures,
    ::testing::Values(ParameterCase{"installed_parameters", std::nullopt, true},
                      // Without --forceflush iperf3 writes when its buffer fills or it ends.
                      ParameterCase{"parameters_without_forceflush", "-P 4 -l 128k", false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova

// The program itself, without a window, in a program folder of its own made from the build's.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ProgramUnderTest.h"
#include "platform/ChildProcess.h"
#include "platform/TcpSocket.h"
#include "platform/TextFile.h"
#include "platform/TlsChannel.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
#include "support/TestAuthority.h"
#include "testrun/UpgradePage.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::freeLoopbackPort;
using testing::IperfServer;
using NoWindowProgram = testing::ProgramUnderTest;

// The stage's figure is the sum of the receiver totals of as many servers as the program says it
// counted ("<counted>/<run>"). On a loaded machine a client may finish past the runner's wait and
// count for nothing, yet finish before this test reads its output: so any such set of servers.
void expectSumOfCountedServers(const std::string& figure, const std::string& counted,
                               const std::vector<std::string>& outputs) {
    const std::regex total(R"(\[SUM\].*\s([0-9.]+) Mbits/sec\s+receiver)");
    std::vector<double> totals;
    for (const std::string& output : outputs) {
        std::smatch match;
        totals.push_back(std::regex_search(output, match, total) ? std::stod(match[1]) : -1);
    }
    const std::size_t servers = std::stoul(counted);
    ASSERT_GE(servers, 1U) << counted;
    bool found = false;
    for (unsigned set = 0; set < (1U << totals.size()) && !found; ++set) {
        double sum = 0;
        std::size_t members = 0;
        bool complete = true;  // an output without its total is never one of the counted
        for (std::size_t i = 0; i < totals.size(); ++i) {
            if ((set >> i & 1U) != 0U) {
                sum += totals[i];
                ++members;
                complete = complete && totals[i] >= 0;
            }
        }
        found = complete && members == servers && std::abs(sum - std::stod(figure)) <= 0.01;
    }
    EXPECT_TRUE(found) << figure << " Mbit/s is no sum of " << counted << " servers' own totals";
}

// The figure of a merged file: the receiver's total two lines above its "iperf Done.".
std::string mergedFigureOf(const std::string& merged) {
    const std::regex total(R"(Bytes ([0-9.]+) Mbits/sec receiver \n\niperf Done\.)");
    std::smatch match;
    return std::regex_search(merged, match, total) ? match[1].str() : std::string("error");
}

// A server's own receiver total in its output, null when it has none.
nlohmann::json ownReceiverTotal(const std::string& output) {
    const std::regex total(R"(\[SUM\].*\s([0-9.]+) Mbits/sec\s+receiver)");
    std::smatch match;
    return std::regex_search(output, match, total) ? nlohmann::json(std::stod(match[1]))
                                                   : nlohmann::json(nullptr);
}

// A figure of final.txt: a number, or null where it says error.
nlohmann::json figureOrNull(const std::string& figure) {
    return figure == "error" ? nlohmann::json(nullptr) : nlohmann::json(std::stod(figure));
}

TEST_F(NoWindowProgram, ACompleteTestAgainstRealIperf3ServersReportsTheirSum) {
    IperfServer first;
    IperfServer second;
    testing::RunningTestService service(grantingServers({&first, &second}));

    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port())), 0)
        << fileBytes("runlog.txt");
    // Standard error is no terminal here: no progress line among the run log's lines.
    EXPECT_EQ(fileBytes("runlog.txt").find('\r'), std::string::npos);

    const std::regex summary(
        R"(Server IP=127\.0\.0\.1,127\.0\.0\.1, Server Port=\d+,\d+, downloadResult=([0-9.]+)Mbps, uploadResult=([0-9.]+)Mbps)");
    const std::string final = fileBytes(workspace::kFinal);
    std::smatch figures;
    ASSERT_TRUE(std::regex_match(final, figures, summary)) << final;
    // The merged file's figure is the sum of the counted servers' own totals; the test's figure is
    // that sum, or, where the servers did not measure over the same time (a loaded machine can
    // start one a quarter second after the other), what they received over the time either
    // measured, which the run log says.
    const std::string log = fileBytes("runlog.txt");
    for (const auto& [figure, stage] : {std::pair{figures[1].str(), std::string("dn")},
                                        std::pair{figures[2].str(), std::string("up")}}) {
        const std::string merged = mergedFigureOf(fileBytes("speedTest/" + stage + "_speed.txt"));
        expectSumOfCountedServers(merged, fileBytes("speedTest/" + stage + "_servers.txt"),
                                  {fileBytes("speedTest/" + stage + "_speed_0.txt"),
                                   fileBytes("speedTest/" + stage + "_speed_1.txt")});
        EXPECT_EQ(fileBytes("speedTest/" + stage + "_figure.txt"), figure) << stage;
        EXPECT_LE(std::stod(figure), std::stod(merged)) << stage;
        if (figure != merged) {
            EXPECT_NE(log.find("the servers measured over different times: " + figure +
                               " Mbits/sec over "),
                      std::string::npos)
                << log;
        }
    }
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
}

// A whole test over each way to the service: over https (a name, the certificate checked against
// the authority given) and over IPv6 (the service an IPv6 address). The address the service sees
// ends whole in ip_address.txt and the result report reaches the service.
TEST_F(NoWindowProgram, ACompleteTestOverHttpsAndOverIpv6) {
    struct Way {
        const char* name;
        const char* listenOn;
        bool https;
        const char* seenAddress;
    };
    testing::TestAuthority authority(folder() / "pki");
    ASSERT_TRUE(authority.made());
    ASSERT_TRUE(authority.issue("service", "DNS:localhost,IP:127.0.0.1"));
    std::string failure;
    const std::optional<platform::TlsServerIdentity> identity = platform::TlsServerIdentity::load(
        authority.path("service.pem"), authority.path("service.key"), failure);
    ASSERT_TRUE(identity) << failure;
    for (const Way& way :
         {Way{"https", "127.0.0.1", true, "127.0.0.1"}, Way{"ipv6", "::1", false, "::1"}}) {
        IperfServer first;
        IperfServer second;
        tools::TestServiceConfig config = grantingServers({&first, &second});
        const std::string reports = (folder() / (std::string(way.name) + "-reports.txt")).string();
        config.reportLog = reports;
        testing::RunningTestService service(config, way.listenOn, way.https ? &*identity : nullptr);
        const std::string where = way.https
                                      ? "https://localhost:" + std::to_string(service.port()) +
                                            " --service-ca " + authority.certificate()
                                      : service.text();
        EXPECT_EQ(runProgram("--short-pauses --service " + where), 0) << way.name << "\n"
                                                                      << fileBytes("runlog.txt");
        EXPECT_EQ(fileBytes(workspace::kIpAddress), way.seenAddress) << way.name;
        EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2") << way.name;
        EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2") << way.name;
        const std::string reported = platform::readWholeFile(reports).value_or("");
        EXPECT_NE(reported.find("downloadResult="), std::string::npos) << way.name << reported;
        EXPECT_EQ(fileBytes("runlog.txt").find("service unreachable"), std::string::npos)
            << way.name;
    }
}

// Standard output holds exactly one JSON document; its figures are final.txt's and each
// server's own receiver total; the run log is on standard error, without a progress line, as
// standard error is no terminal here.
TEST_F(NoWindowProgram, JsonGivesTheResultAsOneDocument) {
    IperfServer first;
    IperfServer second;
    testing::RunningTestService service(grantingServers({&first, &second}));

    const int status = runProgramApart("--json --short-pauses --service 127.0.0.1:" +
                                       std::to_string(service.port()));
    const std::string out = fileBytes("stdout.txt");
    const std::string err = fileBytes("stderr.txt");
    ASSERT_TRUE(status == 0 || status == 1) << err;
    ASSERT_TRUE(nlohmann::json::accept(out)) << out;  // one document, nothing before or after
    const nlohmann::json document = nlohmann::json::parse(out);
    EXPECT_NE(err.find("click start button..."), std::string::npos) << err;
    EXPECT_EQ(out.find("click start button..."), std::string::npos);
    EXPECT_EQ(err.find('\r'), std::string::npos);

    EXPECT_EQ(document["version"], fileBytes(workspace::kLocalVersion));
    EXPECT_TRUE(std::regex_match(document["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
    // A loaded machine may keep a client past the runner's 13 s and fail its stage: the document
    // then tells that as truly as it tells a completed test.
    EXPECT_EQ(document["status"], status == 0 ? "completed" : "failed") << err;
    EXPECT_EQ(document["error"] == nullptr, status == 0);
    EXPECT_EQ(document["client_address"], "127.0.0.1");
    const std::regex summary(
        R"(.*downloadResult=([0-9.]+|error)Mbps, uploadResult=([0-9.]+|error)Mbps)");
    const std::string final = fileBytes(workspace::kFinal);
    std::smatch figures;
    ASSERT_TRUE(std::regex_match(final, figures, summary)) << final;
    EXPECT_EQ(document["download_mbps"], figureOrNull(figures[1]));
    EXPECT_EQ(document["upload_mbps"], figureOrNull(figures[2]));

    ASSERT_EQ(document["servers"].size(), 2U);
    const std::vector<std::uint16_t> ports = {first.port(), second.port()};
    for (std::size_t i = 0; i < 2; ++i) {
        const nlohmann::json& server = document["servers"][i];
        const std::string index = std::to_string(i);
        EXPECT_EQ(server["address"], "127.0.0.1");
        EXPECT_EQ(server["port"], ports[i]);
        EXPECT_EQ(server["download_mbps"],
                  ownReceiverTotal(fileBytes("speedTest/dn_speed_" + index + ".txt")));
        EXPECT_EQ(server["upload_mbps"],
                  ownReceiverTotal(fileBytes("speedTest/up_speed_" + index + ".txt")));
    }
    // Each stage's live totals as its live file has them (none where the file is missing).
    for (const auto& [stage, path] : {std::pair{"download", workspace::kDownloadLive},
                                      std::pair{"upload", workspace::kUploadLive}}) {
        std::vector<double> live;
        std::istringstream lines(fileBytes(path) == "<missing>" ? "" : fileBytes(path));
        for (double seconds = 0, total = 0; lines >> seconds >> total;) {
            live.push_back(total);
        }
        EXPECT_EQ(document["intervals"][stage].get<std::vector<double>>(), live) << stage;
    }
    for (const char* part : {"idle", "download", "upload"}) {
        const nlohmann::json& latency = document["latency_ms"][part];
        if (fileBytes(workspace::kLatency) == "<missing>") {
            EXPECT_EQ(latency, nullptr) << part;
        } else if (!latency.is_null()) {
            EXPECT_GE(latency["median"].get<double>(), 0) << part;
            EXPECT_GE(latency["samples"].get<int>(), 0) << part;
        }
    }
}

// A failed test tells only its own outcome, though the workspace still holds an earlier test's
// figures; with --json the bad argument and the window do not mix.
TEST_F(NoWindowProgram, JsonOfAFailedTestCarriesNoEarlierFigures) {
    putFile(workspace::kFinal,
            "Server IP=192.0.2.1, Server Port=5201, downloadResult=999.00Mbps, "
            "uploadResult=888.00Mbps");
    putFile(workspace::kDownloadSpeed,
            "[SUM] 0.00-10.00 sec 1 GBytes 999.00 Mbits/sec receiver\n\niperf Done.");
    putFile(workspace::kDownloadStatus, "2");
    putFile(workspace::kDownloadLive, "1.00 999.00\n");
    putFile(workspace::kLatency,
            "idle 1.00 0.00 10 0\ndownload 2.00 0.00 20 0\nupload 3.00 0.00 20 0\n");
    const std::uint16_t closedPort = freeLoopbackPort();
    EXPECT_EQ(
        runProgramApart("--short-pauses --json --service 127.0.0.1:" + std::to_string(closedPort)),
        1);
    const std::string out = fileBytes("stdout.txt");
    ASSERT_TRUE(nlohmann::json::accept(out)) << out;
    const nlohmann::json document = nlohmann::json::parse(out);
    EXPECT_EQ(document["status"], "failed");
    EXPECT_EQ(document["error"], "e001");
    EXPECT_EQ(document["client_address"], nullptr);
    EXPECT_EQ(document["download_mbps"], nullptr);
    EXPECT_EQ(document["upload_mbps"], nullptr);
    EXPECT_EQ(document["servers"], nlohmann::json::array());
    EXPECT_EQ(document["latency_ms"]["idle"], nullptr);
    EXPECT_EQ(document["intervals"]["download"], nlohmann::json::array());

    const std::string program = (folder() / "kestova-speedtest").string();
    const int status = std::system(
        (program + " --json > " + (folder() / "window.txt").string() + " 2>&1").c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    EXPECT_NE(fileBytes("window.txt").find("--json needs --no-window"), std::string::npos);
}

// On a terminal, standard error shows the stage as it runs on one line rewritten in place; the
// run log's lines stay whole around it.
TEST_F(NoWindowProgram, ATerminalShowsTheProgressInPlace) {
    IperfServer server;
    testing::RunningTestService service(grantingServers({&server}));
    ASSERT_EQ(runProgramOnATerminal("--short-pauses --service 127.0.0.1:" +
                                    std::to_string(service.port())),
              0)
        << fileBytes("terminal.txt");
    const std::string terminal = fileBytes("terminal.txt");
    EXPECT_NE(terminal.find("\rDownload: "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("\rUpload: "), std::string::npos) << terminal;
    // Every run log line starts on a line of its own: after a line feed, or after the carriage
    // return and spaces that take the progress line down.
    const std::regex takenDown(R"(\r +\r(end run |start run |click ))");
    EXPECT_TRUE(std::regex_search(terminal, takenDown)) << terminal;
    const std::regex runIntoTheLine(R"(Mbit/s(end run|start run))");
    EXPECT_FALSE(std::regex_search(terminal, runIntoTheLine)) << terminal;
}

TEST_F(NoWindowProgram, AnUnreachableServiceEndsWithStatusOne) {
    const std::uint16_t closedPort = freeLoopbackPort();
    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(closedPort)), 1);
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
}

TEST_F(NoWindowProgram, AFailedStageEndsWithStatusOne) {
    tools::TestServiceConfig config;
    config.servers = {"127.0.0.1:" + std::to_string(freeLoopbackPort())};  // nobody serves there
    config.latestVersion = fileBytes(workspace::kLocalVersion);
    testing::RunningTestService service(config);
    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port())),
              1);
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e002");
    EXPECT_NE(fileBytes(workspace::kFinal).find("downloadResult=errorMbps"), std::string::npos);
}

#ifdef KESTOVA_HAS_WINDOW
// The window comes from its module beside the program: it opens and stays until closed.
TEST_F(NoWindowProgram, TheWindowComesFromItsModule) {
    const std::string program = (folder() / "kestova-speedtest").string();
    const std::string service = "--service 127.0.0.1:" + std::to_string(freeLoopbackPort());
    const auto run = [&] {
        const std::string command = "QT_QPA_PLATFORM=offscreen timeout 8 " + program + " " +
                                    service + " > " + (folder() / "window.txt").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(), 124) << fileBytes("window.txt");  // still open when timeout ended it
    EXPECT_EQ(fileBytes("window.txt").find("cannot be shown"), std::string::npos);

    std::filesystem::remove(folder() / "libkestova-window.so");
    EXPECT_EQ(run(), 2);
    EXPECT_NE(fileBytes("window.txt").find("the window cannot be shown"), std::string::npos);
}
#endif

// The program's exit status, standard output and standard error, each kept apart.
struct Outputs {
    int status = -1;
    std::string out;
    std::string err;
};

Outputs runKeepingOutputs(const std::filesystem::path& folder, const std::string& arguments) {
    const std::string command = "timeout 300 " + (folder / "kestova-speedtest").string() + " " +
                                arguments + " > " + (folder / "out.txt").string() + " 2> " +
                                (folder / "err.txt").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            platform::readWholeFile((folder / "out.txt").string()).value_or(""),
            platform::readWholeFile((folder / "err.txt").string()).value_or("")};
}

TEST_F(NoWindowProgram, HelpAndVersionPrintOnStandardOutputAndEndWithStatusZero) {
    const Outputs help = runKeepingOutputs(folder(), "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    const std::string builtIn = serviceText(ServiceEndpoint{});
    for (const char* shown :
         {"--workdir DIR", "--service [https://|http://]HOST[:PORT]", "--service-ca FILE",
          "--no-window", "--short-pauses", "--help", "--version", "  0  ", "  1  ", "  2  ",
          "  3  ", "  4  ", "a newer version is required", builtIn.c_str(), kUpgradePageAddress}) {
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown << " in\n" << help.out;
    }
    const Outputs version = runKeepingOutputs(folder(), "--no-window --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kestova-speedtest " + fileBytes(workspace::kLocalVersion) + "\n");
    EXPECT_EQ(version.err, "");
}

// A newer version on offer: no test, exit 3, and one line that names both versions.
TEST_F(NoWindowProgram, ARequiredUpgradeEndsWithStatusThreeAndSaysWhich) {
    tools::TestServiceConfig config;
    config.latestVersion = "9.9.9";
    config.reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(config);
    const Outputs run =
        runKeepingOutputs(folder(), "--no-window --short-pauses --service 127.0.0.1:" +
                                        std::to_string(service.port()));
    EXPECT_EQ(run.status, 3);
    const std::string local = fileBytes(workspace::kLocalVersion);
    EXPECT_EQ(run.err, "kestova-speedtest: a newer version is required: this is version " + local +
                           ", the service offers 9.9.9; get it from " +
                           std::string(kUpgradePageAddress) + "\n");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "1");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "0");
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "<missing>");
    EXPECT_EQ(fileBytes("reports.txt"), "<missing>");

    // With --json the document says so as well; standard error holds the same one line.
    const Outputs json =
        runKeepingOutputs(folder(), "--no-window --json --short-pauses --service 127.0.0.1:" +
                                        std::to_string(service.port()));
    EXPECT_EQ(json.status, 3);
    EXPECT_EQ(json.err, run.err);
    ASSERT_TRUE(nlohmann::json::accept(json.out)) << json.out;
    const nlohmann::json document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["status"], "upgrade required");
    EXPECT_EQ(document["error"], nullptr);
    EXPECT_EQ(document["client_address"], nullptr);
    EXPECT_EQ(document["download_mbps"], nullptr);
    EXPECT_EQ(document["servers"], nlohmann::json::array());
}

// A place of the program folder that another user could change, and how it came to be so.
struct LoosePlace {
    const char* name;
    const char* path;       // in the program folder
    mode_t mode;            // its mode, or 0 where it is given to another user instead
    const char* complaint;  // how the line states it, with the place's full path after or before
};

class NoWindowProgramInALooseFolder : public testing::ProgramUnderTest,
                                      public ::testing::WithParamInterface<LoosePlace> {};

// Others could change what the scripts are or run: the program says so in one line, ends with
// status 2 and touches nothing, not even the workspace's lock file, though the service grants a
// server.
TEST_P(NoWindowProgramInALooseFolder, EndsWithStatusTwoAndStartsNoScript) {
    const LoosePlace& place = GetParam();
    if (place.mode == 0) {
        const struct passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || nobody == nullptr) {
            GTEST_SKIP() << "only the administrator can give a folder to another user";
        }
        ASSERT_EQ(::chown(place.path, nobody->pw_uid, static_cast<gid_t>(-1)), 0);
    } else {
        ASSERT_EQ(::chmod(place.path, place.mode), 0);
    }
    IperfServer server;
    testing::RunningTestService service(grantingServers({&server}));

    const Outputs run =
        runKeepingOutputs(folder(), "--no-window --short-pauses --service 127.0.0.1:" +
                                        std::to_string(service.port()));

    EXPECT_EQ(run.status, 2);
    const std::string full = std::filesystem::canonical(place.path).string();
    const std::string said = std::string(place.complaint).find("belongs") == 0
                                 ? full + " " + place.complaint
                                 : std::string(place.complaint) + " " + full;
    EXPECT_EQ(run.err, "kestova-speedtest: no test runs here: " + said +
                           ", who could then change what the test runs\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(fileBytes("runDownloadIperf_0.sh"), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kLockFile), "<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Places, NoWindowProgramInALooseFolder,
    ::testing::Values(
        LoosePlace{"program_folder_0777", ".", 0777, "other users can write"},
        LoosePlace{"program_folder_0775", ".", 0775, "other users can write"},
        LoosePlace{"pages_folder_0777", "speedTest", 0777, "other users can write"},
        LoosePlace{"parameter_file_0666", "speedTest/iperf_command_parameter_config.txt", 0666,
                   "other users can write"},
        LoosePlace{"iperf_folder_0775", "iperf", 0775, "other users can write"},
        LoosePlace{"program_folder_of_another_user", ".", 0, "belongs to another user"}),
    [](const ::testing::TestParamInfo<LoosePlace>& row) { return std::string(row.param.name); });

TEST_F(NoWindowProgram, BadArgumentsEndWithStatusTwo) {
    EXPECT_EQ(runProgram("--service host:0"), 2);
    EXPECT_EQ(runProgram("--service [::1"), 2);
    EXPECT_EQ(runProgram("--service ftp://host"), 2);
    EXPECT_EQ(runProgram("--bogus"), 2);
    EXPECT_EQ(runProgram("--workdir /nonexistent/kestova"), 2);
}

}  // namespace
}  // namespace kestova

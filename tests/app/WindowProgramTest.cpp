// The program with its window, as a user runs it: on an X server of its own (Xvfb), driven by
// xdotool with real key presses and clicks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ProgramUnderTest.h"
#include "platform/ChildProcess.h"
#include "platform/TextFile.h"
#include "support/IperfServer.h"
#include "support/RunningTestService.h"
#include "support/StandInIperf.h"
#include "support/WaitUntil.h"
#include "tools/scripted_service/ScriptedService.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTitle = "Kestova Connection Speed Test";
constexpr std::chrono::milliseconds kReportDelay{4000};

// What the command printed on standard output.
std::string outputOf(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
            output += buffer.data();
        }
        ::pclose(pipe);
    }
    return output;
}

// A condition that runs a program (xdotool) or reads the X server is looked at every tenth of a
// second.
bool becomes(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    return test::waitUntil(condition, bound, 100ms);
}

class WindowProgram : public testing::ProgramUnderTest {
  protected:
    void SetUp() override {
        ProgramUnderTest::SetUp();
        startXServer();
        testing::installStandInIperf();
        config_.latestVersion = fileBytes(workspace::kLocalVersion);
        config_.servers = {"127.0.0.1:" + testing::kRecordedPorts[0]};
    }

    void TearDown() override {
        if (program_.valid() && programRunning()) {
            // The program's timeout wrapper passes the signal on to the program.
            const std::string pid = fileBytes("program.pid");
            if (!pid.empty() && pid != "<missing>") {
                ::kill(std::stoi(pid), SIGTERM);
            }
            program_.wait();
        }
        stopXServer();
        ProgramUnderTest::TearDown();
    }

    void stopXServer() {
        if (xServer_) {
            ::kill(xServer_->pid(), SIGTERM);
            xServer_->waitForExit(5s);
            xServer_.reset();
        }
    }

    // An X server on a display of its own, with no window manager.
    void startXServer() {
        for (int display = 90 + ::getpid() % 100; display < 300 && !xServer_; ++display) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
                std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock")) {
                continue;
            }
            std::optional<platform::ChildProcess> started = platform::ChildProcess::startProgram(
                {"Xvfb", ":" + std::to_string(display), "-screen", "0", "1280x1024x24", "-nolisten",
                 "tcp"});
            if (!started) {
                break;
            }
            xServer_ = std::make_unique<platform::ChildProcess>(std::move(*started));
            // Ours, and answering: a server that could not listen on the display (another
            // machine user's holds it) ends, and may leave the name behind.
            const std::string name = ":" + std::to_string(display);
            const auto answers = [&] {
                return !xServer_->waitForExit(0ms) &&
                       outputOf("DISPLAY=" + name + " xdotool getdisplaygeometry 2>/dev/null") ==
                           "1280 1024\n";
            };
            if (becomes(answers, 10s)) {
                display_ = ":" + std::to_string(display);
            } else {
                stopXServer();
            }
        }
        ASSERT_FALSE(display_.empty()) << "no X server could be started";
    }

    std::string xdotool(const std::string& arguments) const {
        return outputOf("DISPLAY=" + display_ + " xdotool " + arguments + " 2>/dev/null");
    }

    // The program's window, or the empty text when it has none on the screen.
    std::string windowId() const {
        const std::string found =
            xdotool(std::string("search --onlyvisible --name '") + kTitle + "'");
        return found.substr(0, found.find('\n'));
    }

    void startWindowProgram(std::uint16_t servicePort) {
        // The shell leaves its process id and becomes the timeout wrapper of the program.
        const std::string command =
            "echo $$ > " + (folder() / "program.pid").string() + "; DISPLAY=" + display_ +
            " QT_QPA_PLATFORM=xcb exec timeout 300 " + (folder() / "kestova-speedtest").string() +
            " --short-pauses --service 127.0.0.1:" + std::to_string(servicePort) + " > " +
            (folder() / "runlog.txt").string() + " 2>&1";
        program_ = std::async(std::launch::async, [command] {
            const int status = std::system(command.c_str());
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        });
        ASSERT_TRUE(becomes([this] { return !windowId().empty(); }, 90s))
            << fileBytes("runlog.txt");
    }

    bool programRunning() { return program_.wait_for(0s) != std::future_status::ready; }

    // Clicks Start until the test has begun (Start waits for the version check).
    // Clicks Start until the test has begun. A test against stand-in servers may pass its
    // download status "1" between two looks, so any value but start-up's "0" says it began; a
    // second click then would press Restart.
    void pressStart() {
        const bool started = becomes(
            [this] {
                xdotool("mousemove --window " + windowId() + " 489 809 click 1");
                return test::waitUntil(
                    [this] {
                        const std::string status = fileBytes(workspace::kDownloadStatus);
                        return status != "0" && status != "<missing>";
                    },
                    2s);
            },
            60s);
        ASSERT_TRUE(started) << fileBytes("runlog.txt");
    }

    void pressEscape() { xdotool("windowfocus --sync " + windowId() + " key Escape"); }

    // Escape until the program has ended; its exit status, or -1 when it still runs after 30 s
    // (the test's end then ends it).
    int endWithEscape() {
        const bool ended = becomes(
            [this] {
                pressEscape();
                return !programRunning();
            },
            30s);
        return ended ? program_.get() : -1;
    }

    const std::string& display() const { return display_; }

    // Two real iperf3 servers, which the test service (config_) grants; they run until the test
    // has ended.
    const std::array<testing::IperfServer, 2>& grantTwoServers() {
        servers_.emplace();
        config_ = grantingServers({&(*servers_)[0], &(*servers_)[1]});
        return *servers_;
    }

    tools::TestServiceConfig config_;
    std::future<int> program_;

  private:
    std::unique_ptr<platform::ChildProcess> xServer_;
    std::string display_;
    std::optional<std::array<testing::IperfServer, 2>> servers_;
};

// The same with the real iperf3 client in place of the stand-in, for tests against real servers.
class WindowProgramWithRealIperf : public WindowProgram {
  protected:
    void SetUp() override {
        WindowProgram::SetUp();
        std::filesystem::remove(workspace::kIperfClient);
        std::filesystem::create_symlink(
            std::filesystem::read_symlink(std::string(KESTOVA_DIST_DIR) + "/iperf/iperf3"),
            workspace::kIperfClient);
    }
};

// Escape while the test runs does nothing: the test runs on to its report, and once the buttons
// are back Escape ends the program.
TEST_F(WindowProgram, EscapeMidTestLeavesTheTestRunningToItsReport) {
    const std::string reportLog = (folder() / "reports.txt").string();
    config_.reportLog = reportLog;
    testing::RunningTestService service(config_);
    putFile("iperf/recorded/hold", "");
    startWindowProgram(service.port());
    pressStart();

    pressEscape();
    // Nothing should follow the key: the program would end, and its window go.
    EXPECT_FALSE(becomes([this] { return !programRunning() || windowId().empty(); }, 1s));
    EXPECT_TRUE(programRunning());
    EXPECT_FALSE(windowId().empty());
    std::filesystem::remove("iperf/recorded/hold");

    ASSERT_TRUE(becomes([&] { return fileBytes(reportLog) != "<missing>"; }, 60s));
    EXPECT_TRUE(programRunning());
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");

    EXPECT_EQ(endWithEscape(), 0) << fileBytes("runlog.txt");
    EXPECT_NE(fileBytes(workspace::kFinal), "<missing>");
}

// A program folder that other users can write: the window shows why in a message instead of
// starting (no start-up, no status file, no lock file), and once the message is answered the
// program ends with status 2.
TEST_F(WindowProgram, AFolderOthersCanWriteShowsWhyInsteadOfStarting) {
    testing::RunningTestService service(config_);
    ASSERT_EQ(::chmod(folder().c_str(), 0777), 0);
    startWindowProgram(service.port());
    const std::string shown = xdotool("getwindowgeometry " + windowId());
    EXPECT_EQ(shown.find("1200x853"), std::string::npos) << "the test window itself: " << shown;

    EXPECT_TRUE(becomes(
        [this] {
            xdotool("windowfocus --sync " + windowId() + " key Return");
            return !programRunning();
        },
        30s));
    EXPECT_EQ(program_.get(), 2) << fileBytes("runlog.txt");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kLockFile), "<missing>");
}

// Closing the window after the test while its report is still on its way: the window goes at
// once, and the program ends only when the report has been answered.
TEST_F(WindowProgram, ClosingAfterTheTestStillDeliversTheReport) {
    tools::ScriptedService service([this](const std::string& head) {
        std::vector<tools::ScriptStep> steps;
        if (head.find("log_result_dynamic") != std::string::npos) {
            steps.push_back(tools::ScriptStep::wait(kReportDelay));
        }
        steps.push_back(tools::ScriptStep::send(tools::answerRequest(config_, head, "127.0.0.1")));
        return steps;
    });
    startWindowProgram(service.port());
    pressStart();
    ASSERT_TRUE(waitForFile(workspace::kUploadStatus, "2", 60s)) << fileBytes("runlog.txt");

    ASSERT_TRUE(becomes(
        [this] {
            pressEscape();
            return windowId().empty();
        },
        kReportDelay / 2));
    EXPECT_TRUE(programRunning());
    EXPECT_EQ(fileBytes(workspace::kFinal), "<missing>") << fileBytes("runlog.txt");

    EXPECT_EQ(program_.get(), 0) << fileBytes("runlog.txt");
    EXPECT_NE(fileBytes(workspace::kFinal), "<missing>");
}

// How the program is ended mid-test, with or without its window, while real iperf3 clients run
// against a real server: it ends them (or, killed outright, its scripts' keepers do) and sends no
// report. The window's tests run in the module's core, which is the program's: the program's own
// signal path ends them.
struct EndCase {
    const char* name;
    bool window;
    int signal;          // 0: the X server goes away
    int expectedStatus;  // the negated signal when the signal itself ended the program
};

class ProgramEnd : public WindowProgramWithRealIperf,
                   public ::testing::WithParamInterface<EndCase> {
  protected:
    // The program itself, not a wrapper, so that the signal reaches it; its process id.
    int spawnProgramItself(bool window, std::uint16_t servicePort) {
        return spawnShell(
            (window ? "DISPLAY=" + display() + " QT_QPA_PLATFORM=xcb " : std::string()) + "exec " +
            (folder() / "kestova-speedtest").string() + (window ? "" : " --no-window") +
            " --short-pauses --service 127.0.0.1:" + std::to_string(servicePort) + " > " +
            (folder() / "runlog.txt").string() + " 2>&1");
    }
};

TEST_P(ProgramEnd, EndsTheClientsAndSendsNoReport) {
    const EndCase& c = GetParam();
    const auto& [first, second] = grantTwoServers();
    config_.reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(config_);
    // A client that another test left behind at a port since reused is not this program's.
    const std::vector<int> before = testing::iperfClientsOf(first.port());
    const auto programsClients = [&] {
        std::vector<int> clients = testing::iperfClientsOf(first.port());
        for (const int client : testing::iperfClientsOf(second.port())) {
            clients.push_back(client);
        }
        std::erase_if(clients, [&](int pid) { return std::ranges::count(before, pid) != 0; });
        return clients;
    };
    const int program = spawnProgramItself(c.window, service.port());
    if (c.window) {
        // Looked for every 100 ms: each look is a new client of the X server.
        ASSERT_TRUE(becomes([this] { return !windowId().empty(); }, 90s))
            << display() << " answers " << xdotool("getdisplaygeometry") << fileBytes("runlog.txt");
        pressStart();
    }
    ASSERT_TRUE(test::waitUntil([&] { return programsClients().size() == 2; }, 30s))
        << fileBytes("runlog.txt");

    if (c.signal == 0) {
        stopXServer();
    } else {
        ::kill(program, c.signal);
    }
    // The clients get a second to end on TERM before they are killed.
    EXPECT_EQ(exitStatusOf(program, 10s), std::optional<int>(c.expectedStatus))
        << fileBytes("runlog.txt");
    if (c.signal == SIGKILL) {
        EXPECT_TRUE(test::waitUntil([&] { return programsClients().empty(); }, 10s));
    } else {
        EXPECT_TRUE(programsClients().empty());
    }
    EXPECT_EQ(fileBytes("reports.txt"), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kFinal), "<missing>");
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgramEnd,
                         ::testing::Values(EndCase{"window_INT", true, SIGINT, 130},
                                           EndCase{"window_TERM", true, SIGTERM, 143},
                                           EndCase{"window_HUP", true, SIGHUP, 129},
                                           EndCase{"window_QUIT", true, SIGQUIT, 131},
                                           EndCase{"window_KILL", true, SIGKILL, -SIGKILL},
                                           EndCase{"window_display_gone", true, 0, 1},
                                           EndCase{"no_window_INT", false, SIGINT, 130},
                                           EndCase{"no_window_TERM", false, SIGTERM, 143},
                                           EndCase{"no_window_HUP", false, SIGHUP, 129},
                                           EndCase{"no_window_QUIT", false, SIGQUIT, 131},
                                           EndCase{"no_window_KILL", false, SIGKILL, -SIGKILL}),
                         [](const auto& param) { return std::string(param.param.name); });

// Two programs in one workspace at once, each with or without its window. The first holds the
// workspace while the service holds its first request (the version check); the second ends, with
// status 4 without a window and 0 with one, having written nothing there and asked the service
// nothing; then the first test runs to its end with its own figures and its one history line.
struct SecondCase {
    const char* name;
    bool firstWindow;
    bool secondWindow;
};

class SecondProgram : public WindowProgramWithRealIperf,
                      public ::testing::WithParamInterface<SecondCase> {
  protected:
    // The second program, its outputs in second.txt; its exit status.
    std::future<int> startSecondProgram(bool window, std::uint16_t servicePort) {
        const std::string command =
            (window ? "DISPLAY=" + display() + " QT_QPA_PLATFORM=xcb " : std::string()) +
            "timeout 120 " + (folder() / "kestova-speedtest").string() +
            (window ? "" : " --no-window") +
            " --short-pauses --service 127.0.0.1:" + std::to_string(servicePort) + " > " +
            (folder() / "second.txt").string() + " 2>&1";
        return std::async(std::launch::async, [command] {
            const int status = std::system(command.c_str());
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        });
    }

    // Every file of the workspace with its bytes and when it was last written, but for the
    // outputs of the programs themselves.
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> workspaceFiles()
        const {
        std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder())) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name != "runlog.txt" && name != "second.txt" &&
                name != "program.pid") {
                files[entry.path().string()] = {fileBytes(entry.path().string()),
                                                entry.last_write_time()};
            }
        }
        return files;
    }
};

TEST_P(SecondProgram, EndsWithoutTouchingTheFirstOnesTest) {
    const SecondCase& c = GetParam();
    grantTwoServers();
    std::atomic<bool> released{false};
    std::atomic<int> connections{0};
    tools::ScriptedService service([&](const std::string& head) {
        if (connections++ == 0) {
            test::waitUntil([&] { return released.load(); }, 120s);
        }
        return std::vector<tools::ScriptStep>{
            tools::ScriptStep::send(tools::answerRequest(config_, head, "127.0.0.1"))};
    });
    // Whatever the test's end, the service's thread is let go before the service ends.
    struct Release {
        std::atomic<bool>& released;
        ~Release() { released.store(true); }
    } release{released};

    std::future<int> firstProgram;
    if (c.firstWindow) {
        startWindowProgram(service.port());
    } else {
        firstProgram =
            startProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port()));
    }
    ASSERT_TRUE(test::waitUntil([&] { return connections.load() == 1; }, 60s))
        << fileBytes("runlog.txt");
    const auto before = workspaceFiles();

    std::future<int> secondProgram = startSecondProgram(c.secondWindow, service.port());
    const std::string held =
        "a test is already running in " + std::filesystem::canonical(folder()).string() + "\n";
    if (!c.secondWindow) {
        EXPECT_EQ(secondProgram.get(), kExitWorkspaceTaken);
        EXPECT_EQ(fileBytes("second.txt"), "kestova-speedtest: " + held);
    } else if (c.firstWindow) {
        EXPECT_EQ(secondProgram.get(), 0) << fileBytes("second.txt");
        EXPECT_TRUE(test::waitUntil(
            [this] {
                return fileBytes("runlog.txt").find("brought the window to the front") !=
                       std::string::npos;
            },
            10s))
            << fileBytes("runlog.txt");
        EXPECT_FALSE(windowId().empty());
    } else {
        // The message, in a box of the program's title, is answered with Return.
        ASSERT_TRUE(becomes([this] { return !windowId().empty(); }, 60s))
            << fileBytes("second.txt");
        EXPECT_TRUE(becomes(
            [&] {
                xdotool("windowfocus --sync " + windowId() + " key Return");
                return secondProgram.wait_for(0s) == std::future_status::ready;
            },
            30s));
        EXPECT_EQ(secondProgram.get(), 0);
        EXPECT_NE(fileBytes("second.txt").find(held), std::string::npos) << fileBytes("second.txt");
    }
    EXPECT_EQ(workspaceFiles(), before);
    EXPECT_EQ(service.requests().size(), 1U);

    released.store(true);
    if (c.firstWindow) {
        pressStart();
        ASSERT_TRUE(waitForFile(workspace::kUploadStatus, "2", 120s)) << fileBytes("runlog.txt");
        ASSERT_TRUE(
            test::waitUntil([] { return fileBytes(workspace::kFinal) != "<missing>"; }, 60s));
        EXPECT_EQ(endWithEscape(), 0) << fileBytes("runlog.txt");
    } else {
        EXPECT_EQ(firstProgram.get(), 0) << fileBytes("runlog.txt");
    }
    // The first test's own figures, and its one line in the history.
    const std::string final = fileBytes(workspace::kFinal);
    EXPECT_NE(final.find("downloadResult=" + fileBytes(workspace::kDownloadFigure) + "Mbps"),
              std::string::npos)
        << final;
    EXPECT_NE(final.find("uploadResult=" + fileBytes(workspace::kUploadFigure) + "Mbps"),
              std::string::npos)
        << final;
    EXPECT_EQ(platform::splitLines(fileBytes(workspace::kHistory)).size(), 2U)
        << fileBytes(workspace::kHistory);
}

INSTANTIATE_TEST_SUITE_P(Cases, SecondProgram,
                         ::testing::Values(SecondCase{"window_beside_window", true, true},
                                           SecondCase{"window_beside_no_window", false, true},
                                           SecondCase{"no_window_beside_window", true, false},
                                           SecondCase{"no_window_beside_no_window", false, false}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova

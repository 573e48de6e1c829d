// Command scripts on Windows: run through cmd.exe without a window, waited for within a bound, left
// running past it, and ended with everything they started.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/TextFile.h"
#include "support/ProgramFolderFixture.h"
#include "support/TestData.h"
#include "support/WaitUntil.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The line a download script holds, for the first recorded server.
constexpr const char* kDownloadLine =
    "iperf\\iperf3.exe -c 127.0.0.1 -p 25301 -f m -P 20 -l 1024k -R -t 10 > "
    "speedTest\\dn_speed_0.txt\r\n";

class WindowsScript : public testing::ProgramFolderTest {
  protected:
    // The stand-in iperf\iperf3.exe and its recording of the first server's download.
    void installStandIn() {
        std::filesystem::create_directories("iperf/recorded");
        std::filesystem::copy_file(KESTOVA_STAND_IN_IPERF, "iperf/iperf3.exe");
        std::filesystem::copy_file(testing::testDataPath("iperf3/dn_speed_0.txt"),
                                   "iperf/recorded/dn_25301.txt");
    }
    // The path of a file of the folder as UTF-8 text.
    std::string inFolder(const std::string& name) const {
        const std::u8string path = (folder() / std::filesystem::u8path(name)).u8string();
        return std::string(path.begin(), path.end());
    }

    static bool running(int pid) {
        HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
        if (process == nullptr) {
            return false;
        }
        const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        ::CloseHandle(process);
        return runs;
    }
};

TEST_F(WindowsScript, ABatchFileRunsThroughTheCommandInterpreterInTheCurrentFolder) {
    installStandIn();
    putFile("runDownloadIperf_0.bat", kDownloadLine);
    std::optional<ChildProcess> script =
        ChildProcess::startShellScript(inFolder("runDownloadIperf_0.bat"));
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->waitForExit(60s));
    // What the stand-in printed in text mode, through the script's redirection.
    const std::string recorded = fileBytes("iperf/recorded/dn_25301.txt");
    std::string expected;
    for (const char c : recorded) {
        expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(fileBytes("speedTest/dn_speed_0.txt"), expected);
    EXPECT_EQ(readLines("speedTest/dn_speed_0.txt"), splitLines(recorded));
}

TEST_F(WindowsScript, PathsWithSpacesAndBeyondAsciiRun) {
    const std::string name = "folder with spaces \xc3\xbc\xe4\xb8\xad";
    std::filesystem::create_directories(std::filesystem::u8path(name));
    ASSERT_TRUE(writeWholeFile(name + "/run me.bat", "echo ran> \"%~dp0out.txt\"\n"));
    std::optional<ChildProcess> script =
        ChildProcess::startShellScript(inFolder(name + "/run me.bat"));
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->waitForExit(60s));
    EXPECT_EQ(readWholeFile(name + "/out.txt"), "ran\r\n");
}

// cmd.exe reads its command line for %NAME% (within quotes too), "^" and "&" outside quotes and,
// with delayed expansion, !NAME!: whatever the program folder is called, the script runs in it and
// its output lands there.
class ScriptInAFolderNamed : public WindowsScript,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(ScriptInAFolderNamed, RunsThereAndWritesItsOutput) {
    const std::filesystem::path named = std::filesystem::u8path(GetParam());
    std::filesystem::create_directories(named / "speedTest");
    std::filesystem::current_path(named);
    installStandIn();
    putFile("runDownloadIperf_0.bat", kDownloadLine);
    std::optional<ChildProcess> script =
        ChildProcess::startShellScript(inCurrentFolder("runDownloadIperf_0.bat"));
    ASSERT_TRUE(script);
    EXPECT_TRUE(script->waitForExit(60s));
    EXPECT_EQ(readLines("speedTest/dn_speed_0.txt"),
              splitLines(fileBytes("iperf/recorded/dn_25301.txt")));
}

INSTANTIATE_TEST_SUITE_P(Names, ScriptInAFolderNamed,
                         ::testing::Values("with spaces", "100% sure", "%PATH%", "%OS%x%OS%",
                                           "caret ^ here", "this & that", "bang!OS!",
                                           "all %OS% ^&! of them",
                                           "Pr\xc3\xbc"
                                           "fung-\xe6\xb5\x8b\xe8\xaf\x95"));

// A script outside the current folder is named by its whole path: one holding a "%" is not run
// rather than run under a name cmd.exe would change.
TEST_F(WindowsScript, AScriptElsewhereWithAPercentInItsPathDoesNotStart) {
    std::filesystem::create_directories("50%OS%");
    putFile("50%OS%/run.bat", "echo ran> ran.txt\r\n");
    EXPECT_FALSE(ChildProcess::startShellScript(inFolder("50%OS%/run.bat")));
    EXPECT_EQ(fileBytes("ran.txt"), "<missing>");
}

TEST_F(WindowsScript, AMissingScriptDoesNotStart) {
    EXPECT_FALSE(ChildProcess::startShellScript(inFolder("runDownloadIperf_7.bat")));
    EXPECT_FALSE(ChildProcess::startShellScript(inFolder("speedTest")));
}

// The wait is bounded (the runner's 13000 ms, shorter here); a script that outlives it runs on and
// its late output still lands.
TEST_F(WindowsScript, TheWaitIsBoundedAndALateScriptRunsOn) {
    installStandIn();
    putFile("iperf/recorded/hold", "");
    putFile("runDownloadIperf_0.bat", kDownloadLine);
    std::optional<ChildProcess> script =
        ChildProcess::startShellScript(inFolder("runDownloadIperf_0.bat"));
    ASSERT_TRUE(script);
    constexpr auto kBound = 1500ms;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(script->waitForExit(kBound));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, kBound);
    EXPECT_LT(waited, kBound * 4);
    EXPECT_TRUE(running(script->pid()));

    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_TRUE(script->waitForExit(60s));
    EXPECT_NE(fileBytes("speedTest/dn_speed_0.txt").find("iperf Done."), std::string::npos);
}

// A script let go of while it runs is not stopped by its owner; ending the running scripts ends it
// and the iperf3 it started, so that nothing writes into the next stage's files.
TEST_F(WindowsScript, EndingRunningScriptsEndsThemWithWhatTheyStarted) {
    installStandIn();
    putFile("iperf/recorded/hold", "");
    putFile("runDownloadIperf_0.bat", kDownloadLine);
    int pid = -1;
    {
        std::optional<ChildProcess> script =
            ChildProcess::startShellScript(inFolder("runDownloadIperf_0.bat"));
        ASSERT_TRUE(script);
        pid = script->pid();
        EXPECT_FALSE(script->waitForExit(500ms));
    }
    EXPECT_TRUE(running(pid));
    EXPECT_EQ(endRunningScripts(2s), 1u);
    EXPECT_TRUE(test::waitUntil([pid] { return !running(pid); }, 5s));
    std::filesystem::remove("iperf/recorded/hold");
    // The held iperf3 was ended too: let go, it would print within a second; it never does (the
    // script may not have come as far as making its output file).
    EXPECT_FALSE(test::waitUntil(
        [] {
            const std::string output = fileBytes("speedTest/dn_speed_0.txt");
            return output != "" && output != "<missing>";
        },
        1s));
    const std::string output = fileBytes("speedTest/dn_speed_0.txt");
    EXPECT_TRUE(output == "" || output == "<missing>") << output;
    EXPECT_EQ(endRunningScripts(2s), 0u);
}

TEST_F(WindowsScript, AProgramStartsWithItsArgumentsQuoted) {
    std::optional<ChildProcess> program =
        ChildProcess::startProgram({"cmd.exe", "/d", "/c", "echo started> started.txt"});
    ASSERT_TRUE(program);
    EXPECT_TRUE(program->waitForExit(60s));
    EXPECT_EQ(readWholeFile("started.txt"), "started\r\n");
}

TEST_F(WindowsScript, OutputIsCapturedWithinItsTimeOut) {
    const std::optional<std::string> output =
        ChildProcess::captureOutput({"cmd.exe", "/d", "/c", "echo captured"}, 60s);
    ASSERT_TRUE(output);
    EXPECT_EQ(*output, "captured\r\n");
}

}  // namespace
}  // namespace kestova::platform

#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ProgramFolderFixture.h"
#include "support/WaitUntil.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ChildProcessTest = testing::ProgramFolderTest;

// The state letter of a process ('X' when it is gone).
char stateOf(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return 'X';
    }
    const std::size_t afterName = text.rfind(')');
    return afterName + 2 < text.size() ? text[afterName + 2] : 'X';
}

// A process that has ended counts as gone even while it waits to be reaped: an orphan's zombie
// is its new parent's to reap.
bool isRunning(int pid) {
    const char state = stateOf(pid);
    return state != 'Z' && state != 'X';
}

// Waits up to the bound for the file to hold a line, and gives its words as numbers.
std::vector<int> numbersWhenWritten(const std::string& path, std::chrono::milliseconds bound) {
    std::string line;
    static_cast<void>(test::waitUntil(
        [&] {
            std::ifstream in(path);
            return std::getline(in, line) && in.good();
        },
        bound));
    std::istringstream words(line);
    std::vector<int> numbers;
    for (int number = 0; words >> number;) {
        numbers.push_back(number);
    }
    return numbers;
}

// "SigBlk:\tHEX\nSigIgn:\tHEX\n" from /proc as the sets of signals 1 to 31 blocked and ignored.
std::string standardSignals(const std::string& status) {
    const auto standard = [&status](const std::string& name) {
        const std::size_t at = status.find(name + ":\t");
        return at == std::string::npos
                   ? std::string("?")
                   : std::to_string(
                         std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16) &
                         0x7fffffffULL);
    };
    return "blocked " + standard("SigBlk") + ", ignored " + standard("SigIgn");
}

// Starts the script and lets go of it, as the runner does when its wait runs out.
void startAndLetGo(const std::string& path) {
    std::optional<ChildProcess> script = ChildProcess::startShellScript(path);
    ASSERT_TRUE(script.has_value());
    EXPECT_FALSE(script->waitForExit(50ms));
}

TEST_F(ChildProcessTest, ChildrenStartWithDefaultSignalsAndNoneBlocked) {
    // This process ignores SIGPIPE, as the program does, and blocks SIGUSR1 on this thread.
    const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigset_t previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);

    const std::string report = "grep -E '^Sig(Blk|Ign):' /proc/self/status";
    putFile("signals.sh", report + " > speedTest/signals.txt\n");
    std::optional<ChildProcess> script = ChildProcess::startShellScript("signals.sh");
    ASSERT_TRUE(script.has_value());
    EXPECT_TRUE(script->waitForExit(10s));
    const std::optional<std::string> program =
        ChildProcess::captureOutput({"grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"}, 10s);

    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    std::signal(SIGPIPE, previousPipe);
    // The C library keeps two signals of its own (32 and 33) past 31; a program cannot use them.
    const std::string none = "blocked 0, ignored 0";
    EXPECT_EQ(standardSignals(fileBytes("speedTest/signals.txt")), none);
    EXPECT_EQ(standardSignals(program.value_or("")), none);
}

TEST_F(ChildProcessTest, AScriptRunsInAProcessGroupOfItsOwn) {
    putFile("group.sh", "echo $$ $(cut -d' ' -f5 /proc/$$/stat) > speedTest/group.txt\n");
    std::optional<ChildProcess> script = ChildProcess::startShellScript("group.sh");
    ASSERT_TRUE(script.has_value());
    EXPECT_TRUE(script->waitForExit(10s));
    const std::vector<int> pidAndGroup = numbersWhenWritten("speedTest/group.txt", 1s);
    ASSERT_EQ(pidAndGroup.size(), 2U);
    EXPECT_EQ(pidAndGroup[0], script->pid());
    EXPECT_EQ(pidAndGroup[1], script->pid());
    EXPECT_NE(pidAndGroup[1], ::getpgrp());
}

// A program killed outright (SIGKILL) cannot end its scripts: their keepers do, TERM first. The
// program is this test program run anew; the file where its script notes its child is named in
// the environment it inherits.
TEST_F(ChildProcessTest, AScriptEndsWhenItsProgramIsKilled) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* noted = "KESTOVA_TEST_SLEEPER_FILE";
    if (std::getenv(noted) == nullptr) {
        ::setenv(noted, (folder() / "sleeper.txt").c_str(), 1);
    }
    const std::string sleeperFile = std::getenv(noted);
    putFile("long.sh", std::string("sleep 60 &\necho $! > \"$") + noted + "\"\nwait\n");
    EXPECT_EXIT(
        {
            std::optional<ChildProcess> script = ChildProcess::startShellScript("long.sh");
            numbersWhenWritten(sleeperFile, 5s);
            ::raise(SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    const std::vector<int> sleeper = numbersWhenWritten(sleeperFile, 1s);
    ASSERT_EQ(sleeper.size(), 1U);
    EXPECT_TRUE(test::waitUntil([&] { return !isRunning(sleeper[0]); }, 5s));
}

// Once the program has begun to end, no script starts.
TEST_F(ChildProcessTest, NoScriptStartsOnceTheEndHasBegun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    putFile("quick.sh", "exit 0\n");
    EXPECT_EXIT(
        {
            const bool before = ChildProcess::startShellScript("quick.sh").has_value();
            endRunningScriptsForGood(100ms);
            const bool after = ChildProcess::startShellScript("quick.sh").has_value();
            std::_Exit(before && !after ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Scripts left running as the runner leaves them: each writes its own id and its background
// child's, so that the test sees that the whole group ends.
struct EndCase {
    const char* name;
    std::string script;
    bool stopped;    // the group stops itself
    bool needsKill;  // the group ignores TERM
};

class EndRunningScripts : public ChildProcessTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndRunningScripts, EndsTheWholeGroupWithinTheGrace) {
    const EndCase& c = GetParam();
    constexpr auto kGrace = 400ms;
    std::vector<int> pids;
    for (const std::string name : {"a", "b"}) {
        putFile(name + ".sh",
                c.script + "sleep 60 &\necho $$ $! > speedTest/" + name + ".txt\nsleep 60\n");
        startAndLetGo(name + ".sh");
        for (const int pid : numbersWhenWritten("speedTest/" + name + ".txt", 5s)) {
            pids.push_back(pid);
        }
    }
    ASSERT_EQ(pids.size(), 4U);
    if (c.stopped) {
        EXPECT_TRUE(test::waitUntil([&] { return stateOf(pids[0]) == 'T'; }, 5s));
    }

    const auto start = Clock::now();
    EXPECT_EQ(endRunningScripts(kGrace), 2U);
    const auto took = Clock::now() - start;
    for (const int pid : pids) {
        EXPECT_FALSE(isRunning(pid)) << pid;
    }
    if (c.needsKill) {
        EXPECT_GE(took, kGrace);
        EXPECT_LT(took, 3 * kGrace);
    } else {
        EXPECT_LT(took, kGrace);
    }
    EXPECT_EQ(endRunningScripts(kGrace), 0U);  // nothing is left to end
}

INSTANTIATE_TEST_SUITE_P(Cases, EndRunningScripts,
                         ::testing::Values(EndCase{"running", "", false, false},
                                           // A stopped group acts on TERM once it runs again.
                                           EndCase{"stopped", "(sleep 0.2; kill -STOP 0) &\n", true,
                                                   false},
                                           EndCase{"ignoring_term", "trap '' TERM\n", false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ChildProcessTest, EndRunningScriptsLeavesEndedScriptsAndOtherProgramsAlone) {
    putFile("quick.sh", "exit 0\n");
    std::optional<ChildProcess> quick = ChildProcess::startShellScript("quick.sh");
    ASSERT_TRUE(quick.has_value());
    EXPECT_TRUE(quick->waitForExit(10s));
    std::optional<ChildProcess> program = ChildProcess::startProgram({"sleep", "60"});
    ASSERT_TRUE(program.has_value());

    EXPECT_EQ(endRunningScripts(400ms), 0U);
    EXPECT_TRUE(isRunning(program->pid()));
    ::kill(program->pid(), SIGKILL);
    EXPECT_TRUE(program->waitForExit(10s));
}

// Two threads ending at once: each script is ended, and counted, once.
TEST_F(ChildProcessTest, EndRunningScriptsIsSafeFromSeveralThreadsAtOnce) {
    for (int i = 0; i < 8; ++i) {
        putFile("s" + std::to_string(i) + ".sh", "sleep 60\n");
        startAndLetGo("s" + std::to_string(i) + ".sh");
    }
    std::size_t first = 0;
    std::size_t second = 0;
    std::thread other([&second] { second = endRunningScripts(2s); });
    first = endRunningScripts(2s);
    other.join();
    EXPECT_EQ(first + second, 8U);
}

}  // namespace
}  // namespace kestova::platform

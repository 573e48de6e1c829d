// The program's ends, in a process of the test's own: what runs at std::terminate.
#include "app/TerminationSignals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/ChildProcess.h"
#include "support/ProgramFolderFixture.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using TerminationTest = testing::ProgramFolderTest;

// An exception that nobody catches, on a thread of the run: the scripts have ended by the time
// the handler that was there before (here the test's, which tells) runs and aborts.
TEST_F(TerminationTest, AnUncaughtExceptionOnAnyThreadEndsTheScriptsFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    putFile("long.sh", "sleep 60\n");
    EXPECT_EXIT(
        {
            std::set_terminate([] { std::_Exit(platform::waitForRunningScripts(0ms) ? 0 : 1); });
            endScriptsAtEveryEnd();
            std::optional<platform::ChildProcess> script =
                platform::ChildProcess::startShellScript("long.sh");
            if (!script) {
                std::_Exit(2);
            }
            std::thread([] { throw std::runtime_error("a fault on the run's thread"); }).join();
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kestova

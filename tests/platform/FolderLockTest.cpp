#include "platform/FolderLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/TextFile.h"
#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;
using FolderLockTest = testing::ProgramFolderTest;

std::optional<FolderLock> take(const std::string& lockFile, FolderLock::Outcome& outcome) {
    return FolderLock::take((std::filesystem::current_path() / lockFile).string(), outcome);
}

// One holder at a time, even within one process (each take opens the file anew); the lock goes
// with the object that held it. A lock file in a missing folder is no lock at all.
TEST_F(FolderLockTest, OneHolderAtATime) {
    FolderLock::Outcome outcome{};
    std::optional<FolderLock> first = take("workspace.lock", outcome);
    ASSERT_TRUE(first);
    EXPECT_EQ(outcome, FolderLock::Outcome::Taken);

    EXPECT_FALSE(take("workspace.lock", outcome));
    EXPECT_EQ(outcome, FolderLock::Outcome::HeldElsewhere);

    first.reset();
    EXPECT_TRUE(take("workspace.lock", outcome));
    EXPECT_EQ(outcome, FolderLock::Outcome::Taken);

    EXPECT_FALSE(take("absent/workspace.lock", outcome));
    EXPECT_EQ(outcome, FolderLock::Outcome::Unavailable);
}

#ifndef _WIN32
// A script started while the lock is held does not keep it: once its holder lets go, the lock is
// free although the script still runs.
TEST_F(FolderLockTest, NoScriptKeepsTheLock) {
    ASSERT_TRUE(writeWholeFile("waits.sh", "sleep 30\n"));
    FolderLock::Outcome outcome{};
    std::optional<FolderLock> held = take("workspace.lock", outcome);
    ASSERT_TRUE(held);
    std::optional<ChildProcess> script = ChildProcess::startShellScript("waits.sh");
    ASSERT_TRUE(script);

    held.reset();
    EXPECT_TRUE(take("workspace.lock", outcome));
    EXPECT_EQ(outcome, FolderLock::Outcome::Taken);
    EXPECT_FALSE(script->waitForExit(0ms));
    endRunningScripts(100ms);
    EXPECT_TRUE(script->waitForExit(10s));
}
#endif

}  // namespace
}  // namespace kestova::platform

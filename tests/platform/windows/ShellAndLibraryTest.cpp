// Opening an address through the shell, and functions from a library, on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/OpenAddress.h"
#include "platform/SharedLibrary.h"
#include "platform/TextFile.h"
#include "support/ProgramFolderFixture.h"
#include "support/WaitUntil.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;

using WindowsShell = testing::ProgramFolderTest;

// The shell opens what it is given with the program registered for it, without waiting: a batch
// file runs, as an address would open in the browser.
TEST_F(WindowsShell, TheShellOpensWhatItIsGivenWithoutWaiting) {
    ASSERT_TRUE(writeWholeFile("opened.bat", "@echo opened> \"%~dp0opened.txt\"\n"));
    const std::u8string path = (folder() / "opened.bat").u8string();
    EXPECT_TRUE(openAddressDetached(std::string(path.begin(), path.end())));
    // The file is made by the redirection before the text comes.
    EXPECT_TRUE(test::waitUntil(
        [] { return readWholeFile("opened.txt") == std::optional<std::string>("opened\r\n"); },
        10s));
    EXPECT_EQ(readWholeFile("opened.txt"), "opened\r\n");
    EXPECT_FALSE(openAddressDetached((folder() / "absent.bat").string()));
}

TEST(WindowsLibrary, AFunctionIsFoundOrTheReasonGiven) {
    std::string error;
    EXPECT_NE(loadLibraryFunction("kernel32.dll", "GetTickCount", error), nullptr);
    EXPECT_EQ(loadLibraryFunction("kernel32.dll", "NoSuchFunction", error), nullptr);
    EXPECT_NE(error.find("NoSuchFunction"), std::string::npos);
    EXPECT_EQ(loadLibraryFunction("no-such-library.dll", "f", error), nullptr);
    EXPECT_NE(error.find("no-such-library.dll"), std::string::npos);
}

}  // namespace
}  // namespace kestova::platform

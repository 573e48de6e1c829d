// Files and the program folder on Windows: wide paths, text files, and readers that hold a file.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProgramFolder.h"
#include "platform/TextFile.h"
#include "platform/windows/FileSizeLimit.h"
#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

using WindowsFiles = testing::ProgramFolderTest;

// A folder name beyond ASCII, as UTF-8: "Jürgen 中".
const std::string kFolderName = "J\xc3\xbcrgen \xe4\xb8\xad";

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST_F(WindowsFiles, PathsBeyondAsciiAreTheSameFileForEveryReaderAndWriter) {
    std::filesystem::create_directory(std::filesystem::u8path(kFolderName));
    ASSERT_TRUE(writeWholeFile(kFolderName + "/dn_status.txt", "1"));
    EXPECT_EQ(readWholeFile(kFolderName + "/dn_status.txt"), "1");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(kFolderName) / "dn_status.txt"));
}

// The runner's script path: the current folder, a backslash and the name, however the folder is
// spelled.
TEST_F(WindowsFiles, TheScriptPathIsTheCurrentFolderAndTheName) {
    const std::filesystem::path target = folder() / std::filesystem::u8path(kFolderName);
    std::filesystem::create_directory(target);
    ASSERT_FALSE(enterProgramFolder(utf8Of(target)));
    EXPECT_EQ(inCurrentFolder("runDownloadIperf_12.bat"),
              utf8Of(target) + "\\runDownloadIperf_12.bat");
}

// A reader that holds the file without letting it be replaced (as a page or an editor may) does
// not cost the new value: the file is written in place.
TEST_F(WindowsFiles, AFileHeldByAReaderIsStillWritten) {
    ASSERT_TRUE(writeWholeFile("speedTest/dn_status.txt", "0"));
    HANDLE reader =
        ::CreateFileW(L"speedTest\\dn_status.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(writeWholeFile("speedTest/dn_status.txt", "-1"));
    ::CloseHandle(reader);
    EXPECT_EQ(readWholeFile("speedTest/dn_status.txt"), "-1");
    // No temporary file is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("speedTest")) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

// A write that fails halfway (the disk full, here a file size limit as RLIMIT_FSIZE sets on Linux)
// leaves the file as it was, whether a reader holds it or not, and no temporary file beside it.
struct HalfwayCase {
    const char* name;
    bool existed;
    bool held;  // by a reader that does not let it be replaced
};

class AWriteThatFailsHalfway : public WindowsFiles,
                               public ::testing::WithParamInterface<HalfwayCase> {
  protected:
    void TearDown() override {
        limitFileSize(std::nullopt);
        WindowsFiles::TearDown();
    }
};

TEST_P(AWriteThatFailsHalfway, LeavesTheOldContentAndNoTemporaryFile) {
    if (GetParam().existed) {
        putFile("speedTest/x.txt", "old");
    }
    HANDLE reader = INVALID_HANDLE_VALUE;
    if (GetParam().held) {
        reader =
            ::CreateFileW(L"speedTest\\x.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    }
    limitFileSize(1024);
    const bool written = writeWholeFile("speedTest/x.txt", std::string(4096, 'n'));
    limitFileSize(std::nullopt);
    if (reader != INVALID_HANDLE_VALUE) {
        ::CloseHandle(reader);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(fileBytes("speedTest/x.txt"), GetParam().existed ? "old" : "<missing>");
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator("speedTest")) {
        entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(entries,
              GetParam().existed ? std::vector<std::string>{"x.txt"} : std::vector<std::string>{});
    // Without the limit the same write succeeds.
    EXPECT_TRUE(writeWholeFile("speedTest/x.txt", std::string(4096, 'n')));
    EXPECT_EQ(fileBytes("speedTest/x.txt"), std::string(4096, 'n'));
}

INSTANTIATE_TEST_SUITE_P(Cases, AWriteThatFailsHalfway,
                         ::testing::Values(HalfwayCase{"Replaced", true, false},
                                           HalfwayCase{"HeldByAReader", true, true},
                                           HalfwayCase{"New", false, false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(WindowsFiles, TextFilesStoreLineFeedsAsCrLfAndReadBackTheSame) {
    ASSERT_TRUE(writeWholeFile("speedTest/http_status.txt", "WSAStartup failed.\n"));
    EXPECT_EQ(fileBytes("speedTest/http_status.txt"), "WSAStartup failed.\r\n");
    EXPECT_EQ(readLines("speedTest/http_status.txt"),
              (std::vector<std::string>{"WSAStartup failed."}));
}

}  // namespace
}  // namespace kestova::platform

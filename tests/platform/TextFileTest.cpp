#include "platform/TextFile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/SystemSpelling.h"
#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

struct LinesCase {
    std::string text;
    std::vector<std::string> lines;
};

class SplitLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(SplitLines, FollowsTheLineRules) {
    EXPECT_EQ(splitLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLines,
    ::testing::Values(LinesCase{"", {}}, LinesCase{"2", {"2"}}, LinesCase{"a\nb\n", {"a", "b"}},
                      LinesCase{"a\r\nb", {"a", "b"}},    // written on Windows
                      LinesCase{"a\r", {"a\r"}},          // no line feed: the CR stays
                      LinesCase{"a\r\r\n", {"a\r"}},      // only the CR before the LF goes
                      LinesCase{"\n\nx", {"", "", "x"}},  // empty lines count
                      LinesCase{std::string("a\0b\n", 4), {std::string("a\0b", 3)}}));

using TextFile = testing::ProgramFolderTest;

// A line feed is stored as the system's line end (CR LF on Windows), every other byte as it is.
TEST_F(TextFile, WritesATextFileOfTheSystemAndReplacesOldContent) {
    ASSERT_TRUE(writeWholeFile("speedTest/x.txt", "a much longer old content\n"));
    ASSERT_TRUE(writeWholeFile("speedTest/x.txt", "1\n2"));
    EXPECT_EQ(fileBytes("speedTest/x.txt"), std::string("1") + std::string(kTextLineEnd) + "2");
    EXPECT_EQ(asStoredText(std::string("a\r\n\0\n", 5)),
              std::string("a\r") + std::string(kTextLineEnd) + std::string(1, '\0') +
                  std::string(kTextLineEnd));
    EXPECT_EQ(readFirstLine("speedTest/x.txt"), "1");
}

TEST_F(TextFile, AMissingFileReadsEmpty) {
    EXPECT_FALSE(readWholeFile("speedTest/none.txt"));
    EXPECT_TRUE(readLines("speedTest/none.txt").empty());
    EXPECT_EQ(readFirstLine("speedTest/none.txt"), "");
    EXPECT_FALSE(writeWholeFile("noFolder/x.txt", "1"));
}

#ifndef _WIN32
// How a file is replaced, on POSIX. (On Windows, in the platform's Windows tests.)
std::set<std::string> workspaceEntries() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("speedTest")) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A reader that looks while the file is rewritten sees one whole content or the other.
TEST_F(TextFile, AReaderNeverSeesAHalfWrittenFile) {
    const std::string first(256 * 1024, 'a');
    const std::string second(256 * 1024, 'b');
    ASSERT_TRUE(writeWholeFile("speedTest/dn_status.txt", first));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            writeWholeFile("speedTest/dn_status.txt", i % 2 == 0 ? second : first);
        }
        done.store(true);
    });
    int reads = 0;
    int partial = 0;
    while (!done.load()) {
        const std::string seen = fileBytes("speedTest/dn_status.txt");
        partial += seen != first && seen != second ? 1 : 0;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(partial, 0) << "of " << reads << " reads";
    EXPECT_EQ(workspaceEntries(), std::set<std::string>{"dn_status.txt"});
}

// What may stand at a workspace name: the write leaves it, and what it points to, as they are.
struct PlantedCase {
    const char* name;
    std::function<void()> plant;
    std::function<bool()> untouched;
    bool asRootToo;  // root writes through file modes, as it always did
};

class PlantedAtTheName : public TextFile, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(PlantedAtTheName, IsNotWrittenThroughNorReplaced) {
    if (!GetParam().asRootToo && ::geteuid() == 0) {
        GTEST_SKIP() << "root writes through file modes";
    }
    GetParam().plant();
    const auto before = workspaceEntries();
    EXPECT_FALSE(writeWholeFile("speedTest/x.txt", "1"));  // returns at once, also for a pipe
    EXPECT_TRUE(GetParam().untouched());
    EXPECT_EQ(workspaceEntries(), before);  // no temporary file left behind
}

const std::string kOutside = "../outside.txt";

void plantFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string bytesOf(const std::string& path) {
    return readWholeFile(path).value_or("<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedAtTheName,
    ::testing::Values(PlantedCase{"link_to_a_file_outside",
                                  [] {
                                      plantFile("outside.txt", "keep");
                                      std::filesystem::create_symlink(kOutside, "speedTest/x.txt");
                                  },
                                  [] {
                                      return bytesOf("outside.txt") == "keep" &&
                                             std::filesystem::is_symlink("speedTest/x.txt");
                                  },
                                  true},
                      PlantedCase{
                          "link_to_a_missing_file_outside",
                          [] { std::filesystem::create_symlink(kOutside, "speedTest/x.txt"); },
                          [] { return !std::filesystem::exists("outside.txt"); }, true},
                      PlantedCase{"pipe", [] { ASSERT_EQ(::mkfifo("speedTest/x.txt", 0600), 0); },
                                  [] { return std::filesystem::is_fifo("speedTest/x.txt"); }, true},
                      PlantedCase{"read_only_file",
                                  [] {
                                      plantFile("speedTest/x.txt", "0");
                                      std::filesystem::permissions(
                                          "speedTest/x.txt", std::filesystem::perms::owner_read);
                                  },
                                  [] { return bytesOf("speedTest/x.txt") == "0"; }, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(TextFile, APipeAtTheNameReadsAsMissingAtOnce) {
    ASSERT_EQ(::mkfifo("speedTest/x.txt", 0600), 0);
    EXPECT_FALSE(readWholeFile("speedTest/x.txt"));
}

TEST_F(TextFile, TheNewContentKeepsTheFilesPermissions) {
    putFile("speedTest/x.txt", "old");
    std::filesystem::permissions("speedTest/x.txt", std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::owner_write |
                                                        std::filesystem::perms::group_read);
    ASSERT_TRUE(writeWholeFile("speedTest/x.txt", "new"));
    EXPECT_EQ(std::filesystem::status("speedTest/x.txt").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
}

// A write that cannot be finished (here: over the file size limit) leaves the old content.
TEST_F(TextFile, AWriteThatFailsHalfwayLeavesTheOldContent) {
    putFile("speedTest/x.txt", "old");
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeWholeFile("speedTest/x.txt", std::string(4096, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(fileBytes("speedTest/x.txt"), "old");
    EXPECT_EQ(workspaceEntries(), std::set<std::string>{"x.txt"});
}

// Children started while files are being written and read inherit none of their descriptors.
TEST_F(TextFile, NoChildInheritsADescriptorOfAFile) {
    std::atomic<bool> done{false};
    std::thread busy([&done] {
        while (!done.load()) {
            writeWholeFile("speedTest/x.txt", std::string(64 * 1024, 'x'));
            static_cast<void>(readWholeFile("speedTest/x.txt"));
        }
    });
    std::string leaked;
    for (int i = 0; i < 200 && leaked.empty(); ++i) {
        const std::optional<std::string> descriptors =
            ChildProcess::captureOutput({"ls", "-l", "/proc/self/fd"}, std::chrono::seconds(10));
        if (descriptors && descriptors->find("speedTest") != std::string::npos) {
            leaked = *descriptors;
        }
    }
    done.store(true);
    busy.join();
    EXPECT_EQ(leaked, "");
}
// Whatever stands at an output name, a fresh file of this program's own replaces it; what a link
// points to is left as it is.
struct FreshFileCase {
    const char* name;
    std::function<void()> plant;
};

class FreshFile : public TextFile, public ::testing::WithParamInterface<FreshFileCase> {};

TEST_P(FreshFile, ReplacesWhatStandsAtTheNameByAnEmptyFileOfItsOwn) {
    plantFile("outside.txt", "keep");
    GetParam().plant();
    const std::optional<FileIdentity> made = createFreshFile("speedTest/x.txt");
    ASSERT_TRUE(made);
    EXPECT_TRUE(nameStandsFor("speedTest/x.txt", *made));
    EXPECT_FALSE(std::filesystem::is_symlink("speedTest/x.txt"));
    EXPECT_EQ(bytesOf("speedTest/x.txt"), "");
    EXPECT_EQ(bytesOf("outside.txt"), "keep");
    EXPECT_EQ(workspaceEntries(), std::set<std::string>{"x.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FreshFile,
    ::testing::Values(
        FreshFileCase{"nothing", [] {}},
        FreshFileCase{"an_earlier_output", [] { plantFile("speedTest/x.txt", "earlier"); }},
        FreshFileCase{"link_to_a_file_outside",
                      [] { std::filesystem::create_symlink(kOutside, "speedTest/x.txt"); }},
        FreshFileCase{"link_to_a_missing_file",
                      [] { std::filesystem::create_symlink("../none.txt", "speedTest/x.txt"); }},
        FreshFileCase{"pipe", [] { ASSERT_EQ(::mkfifo("speedTest/x.txt", 0600), 0); }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(TextFile, AFolderAtAnOutputNameIsNoFreshFile) {
    std::filesystem::create_directory("speedTest/x.txt");
    EXPECT_FALSE(createFreshFile("speedTest/x.txt"));
    EXPECT_TRUE(std::filesystem::is_directory("speedTest/x.txt"));
}

// A name replaced after its creation (by a link to the very file, another file, or nothing) no
// longer stands for the file made.
TEST_F(TextFile, ANameReplacedAfterItsCreationNoLongerStandsForIt) {
    const std::optional<FileIdentity> made = createFreshFile("speedTest/x.txt");
    ASSERT_TRUE(made);
    std::filesystem::rename("speedTest/x.txt", "speedTest/y.txt");
    std::filesystem::create_symlink("y.txt", "speedTest/x.txt");
    EXPECT_FALSE(nameStandsFor("speedTest/x.txt", *made));
    std::filesystem::remove("speedTest/x.txt");
    EXPECT_FALSE(nameStandsFor("speedTest/x.txt", *made));
    plantFile("speedTest/x.txt", "");
    EXPECT_FALSE(nameStandsFor("speedTest/x.txt", *made));
    std::filesystem::rename("speedTest/y.txt", "speedTest/x.txt");
    EXPECT_TRUE(nameStandsFor("speedTest/x.txt", *made));
}
#endif

}  // namespace
}  // namespace kestova::platform

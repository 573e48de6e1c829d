#include "platform/FileTail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

// What may stand at a followed output's name: only a regular file is read; anything else reads
// as missing, at once, and a link is not followed to what it points to.
struct StandingCase {
    const char* name;
    std::function<void()> plant;
    bool read;
};

class FollowedName : public testing::ProgramFolderTest,
                     public ::testing::WithParamInterface<StandingCase> {};

TEST_P(FollowedName, IsReadOnlyWhenItIsARegularFile) {
    putFile("outside.txt", "outside");
    GetParam().plant();
    const std::optional<FileTail> tail = readFileTail("speedTest/x.txt", 0, 1024);
    EXPECT_EQ(tail.has_value(), GetParam().read);
    if (tail) {
        EXPECT_EQ(tail->bytes, "lines");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FollowedName,
    ::testing::Values(
        StandingCase{"regular_file",
                     [] { std::ofstream("speedTest/x.txt", std::ios::binary) << "lines"; }, true},
        StandingCase{"link_to_a_file_outside",
                     [] { std::filesystem::create_symlink("../outside.txt", "speedTest/x.txt"); },
                     false},
        // Opened as before, this would wait for a writer that never comes.
        StandingCase{"pipe", [] { ASSERT_EQ(::mkfifo("speedTest/x.txt", 0600), 0); }, false},
        StandingCase{"folder", [] { std::filesystem::create_directory("speedTest/x.txt"); }, false},
        StandingCase{"nothing", [] {}, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova::platform

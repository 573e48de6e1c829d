#include "platform/TextFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace kestova::platform

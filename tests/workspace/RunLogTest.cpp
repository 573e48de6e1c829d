#include "workspace/RunLog.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestova {
namespace {

TEST(RunLog, FragmentsMakeOneLineEndedByALineFeed) {
    ::testing::internal::CaptureStdout();
    runLog() << "start run runDownloadIperf index:" << 12 << " "
             << "T";
    runLog() << "click start button...";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "start run runDownloadIperf index:12 T\nclick start button...\n");
}

TEST(RunLog, LinesFromManyThreadsAtOnceStayWhole) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 400;
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLinesEach; ++i) {
                runLog() << "writer " << t << " line " << i << " " << std::string(40, 'x') << "|";
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::istringstream output(::testing::internal::GetCapturedStdout());
    const std::regex whole(R"(writer [0-9]+ line [0-9]+ x{40}\|)");
    int lines = 0;
    for (std::string line; std::getline(output, line); ++lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(lines, kThreads * kLinesEach);
}

std::string formatUtc(std::time_t time) {
    std::tm parts{};
#ifdef _WIN32
    ::gmtime_s(&parts, &time);
#else
    ::gmtime_r(&time, &parts);
#endif
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

TEST(RunLog, TimestampIsLocalTimeInTheFixedPattern) {
    // A zone eight hours east of UTC, given by rule so that no zone database is needed.
#ifdef _WIN32
    ::_putenv_s("TZ", "KST-8");
    ::_tzset();
#else
    ::setenv("TZ", "KST-8", 1);
    ::tzset();
#endif
    const std::time_t before = std::time(nullptr);
    const std::string stamp = currentTimestamp();
    const std::time_t after = std::time(nullptr);
#ifdef _WIN32
    ::_putenv_s("TZ", "");
    ::_tzset();
#else
    ::unsetenv("TZ");
    ::tzset();
#endif
    ASSERT_EQ(stamp.size(), 19U);
    EXPECT_TRUE(stamp == formatUtc(before + 8 * 3600) || stamp == formatUtc(after + 8 * 3600))
        << stamp;
}

}  // namespace
}  // namespace kestova

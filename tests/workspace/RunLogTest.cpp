#include "workspace/RunLog.h"

#include "workspace/InPlaceLine.h"

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

// Whatever a line carries, no control character reaches the terminal; its line feeds stay.
TEST(RunLog, ControlCharactersOfALineAreShownAsEscapes) {
    ::testing::internal::CaptureStdout();
    runLog() << "our iperf server | IP address: 10.0.0.1\x1b[2J\xc2\x9b"
             << "0m , port: 5201\r\x7f\nnext";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "our iperf server | IP address: 10.0.0.1\\x1b[2J\\xc2\\x9b0m , port: "
              "5201\\r\\x7f\nnext\n");
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

TEST(RunLog, GoesToStandardErrorWhenSentThere) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    sendRunLogTo(RunLogStream::StandardError);
    runLog() << "click start button...";
    sendRunLogTo(RunLogStream::StandardOutput);
    runLog() << "end run downloadTest...";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "click start button...\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "end run downloadTest...\n");
}

// The in-place line is taken down before a run log line and put back after it, and a shorter
// text covers what was left of a longer one.
TEST(RunLog, LinesAreWrittenAroundTheInPlaceLine) {
    const std::string first = "Download: second 1, 500.25 Mbit/s";
    const std::string blank(first.size(), ' ');
    for (const RunLogStream stream : {RunLogStream::StandardOutput, RunLogStream::StandardError}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        sendRunLogTo(stream);
        showInPlaceLine(first);
        runLog() << "end run runDownloadIperf index:0";
        showInPlaceLine("Upload: starting");
        showInPlaceLine("Upload: starting");  // unchanged: nothing written
        clearInPlaceLine();
        runLog() << "last";
        sendRunLogTo(RunLogStream::StandardOutput);
        const std::string log = "end run runDownloadIperf index:0\n";
        const std::string before = "\r" + first + "\r" + blank + "\r";
        const std::string after = first + "\rUpload: starting" +
                                  std::string(first.size() - 16, ' ') + "\rUpload: starting" +
                                  "\r" + std::string(16, ' ') + "\r";
        const std::string err = ::testing::internal::GetCapturedStderr();
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (stream == RunLogStream::StandardOutput) {
            EXPECT_EQ(err, before + after);
            EXPECT_EQ(out, log + "last\n");
        } else {
            EXPECT_EQ(err, before + log + after + "last\n");
            EXPECT_EQ(out, "");
        }
    }
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

#include "workspace/RunLog.h"

#include <gtest/gtest.h>

#include <ctime>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/StreamRecorder.h"
#include "workspace/InPlaceLine.h"

namespace kestova {
namespace {

TEST(RunLog, FragmentsMakeOneLineEndedByALineFeed) {
    const testing::StreamRecorder out(std::cout);
    runLog() << "start run runDownloadIperf index:" << 12 << " "
             << "T";
    runLog() << "click start button...";
    EXPECT_EQ(out.text(), "start run runDownloadIperf index:12 T\nclick start button...\n");
}

// Whatever a line carries, no control character reaches the terminal; its line feeds stay.
TEST(RunLog, ControlCharactersOfALineAreShownAsEscapes) {
    const testing::StreamRecorder out(std::cout);
    runLog() << "our iperf server | IP address: 10.0.0.1\x1b[2J\xc2\x9b"
             << "0m , port: 5201\r\x7f\nnext";
    EXPECT_EQ(out.text(),
              "our iperf server | IP address: 10.0.0.1\\x1b[2J\\xc2\\x9b0m , port: "
              "5201\\r\\x7f\nnext\n");
}

TEST(RunLog, LinesFromManyThreadsAtOnceStayWhole) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 400;
    const testing::StreamRecorder out(std::cout);
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
    std::istringstream output(out.text());
    const std::regex whole(R"(writer [0-9]+ line [0-9]+ x{40}\|)");
    int lines = 0;
    for (std::string line; std::getline(output, line); ++lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
    }
    EXPECT_EQ(lines, kThreads * kLinesEach);
}

TEST(RunLog, GoesToStandardErrorWhenSentThere) {
    const testing::StreamRecorder out(std::cout);
    const testing::StreamRecorder err(std::cerr);
    sendRunLogTo(RunLogStream::StandardError);
    runLog() << "click start button...";
    sendRunLogTo(RunLogStream::StandardOutput);
    runLog() << "end run downloadTest...";
    EXPECT_EQ(err.text(), "click start button...\n");
    EXPECT_EQ(out.text(), "end run downloadTest...\n");
}

// The in-place line is taken down before a run log line and put back after it, and a shorter
// text covers what was left of a longer one.
TEST(RunLog, LinesAreWrittenAroundTheInPlaceLine) {
    const std::string first = "Download: second 1, 500.25 Mbit/s";
    const std::string blank(first.size(), ' ');
    for (const RunLogStream stream : {RunLogStream::StandardOutput, RunLogStream::StandardError}) {
        const testing::StreamRecorder outRecorder(std::cout);
        const testing::StreamRecorder errRecorder(std::cerr);
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
        const std::string err = errRecorder.text();
        const std::string out = outRecorder.text();
        if (stream == RunLogStream::StandardOutput) {
            EXPECT_EQ(err, before + after);
            EXPECT_EQ(out, log + "last\n");
        } else {
            EXPECT_EQ(err, before + log + after + "last\n");
            EXPECT_EQ(out, "");
        }
    }
}

// A sink set takes each whole line in place of the stream, from every thread, until it is emptied.
TEST(RunLog, ASinkTakesTheLinesInPlaceOfTheStream) {
    const testing::StreamRecorder out(std::cout);
    std::string lines;
    sendRunLogToSink([&lines](std::string_view line) { lines.append(line); });
    runLog() << "click start button...";
    std::thread([] { runLog() << "end run downloadTest... " << 1; }).join();
    sendRunLogToSink({});
    runLog() << "after";
    EXPECT_EQ(lines, "click start button...\nend run downloadTest... 1\n");
    EXPECT_EQ(out.text(), "after\n");
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

#include "workspace/Text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

#include "support/InTimeZone.h"

namespace kestova {
namespace {

TEST(Trimmed, TakesWhiteSpaceFromBothEnds) {
    const struct {
        std::string text;
        std::string trimmed;
    } cases[] = {{"", ""},
                 {" \t\n\v\f\r", ""},
                 {"1.2.3", "1.2.3"},
                 {" \t1.2.3\r\n", "1.2.3"},
                 {"\v940.25\f", "940.25"},
                 {"  a b  ", "a b"}};
    for (const auto& c : cases) {
        EXPECT_EQ(trimmed(c.text), c.trimmed) << '"' << c.text << '"';
    }
}

TEST(WholeNumber, IsTheWholeTextOrNothing) {
    const struct {
        std::string text;
        std::optional<double> number;
    } cases[] = {
        {"940.25", 940.25},   {"-1", -1},           {"1e3", 1000},        {"", std::nullopt},
        {" 5", std::nullopt}, {"5 ", std::nullopt}, {"5x", std::nullopt}, {"error", std::nullopt},
        {"+5", std::nullopt}, {"9,5", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(wholeNumber<double>(c.text), c.number) << '"' << c.text << '"';
    }
    EXPECT_EQ(wholeNumber<unsigned>("5201"), 5201U);
    EXPECT_EQ(wholeNumber<unsigned>("-1"), std::nullopt);
    EXPECT_EQ(wholeNumber<unsigned>("99999999999"), std::nullopt);
    EXPECT_EQ(wholeNumber<std::size_t>("20"), 20U);
    // "inf" is a number to from_chars; callers that need a finite figure ask for one.
    ASSERT_TRUE(wholeNumber<double>("inf"));
    EXPECT_TRUE(std::isinf(*wholeNumber<double>("inf")));
}

TEST(TwoDecimals, AreFixedPointWithoutGrouping) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{1878.5, "1878.50"},         {940, "940.00"}, {0, "0.00"},    {0.005, "0.01"},
                 {1234567.891, "1234567.89"}, {-2.5, "-2.50"}, {0.375, "0.38"}};
    for (const auto& c : cases) {
        EXPECT_EQ(twoDecimals(c.value), c.text) << c.value;
    }
}

// 2026-12-10 13:10:55 UTC.
constexpr std::time_t kEnded = 1796908255;

TEST(IsoLocalTime, CarriesTheLocalOffset) {
    const struct {
        const char* zone;
        const char* time;
    } cases[] = {{"UTC0", "2026-12-10T13:10:55+00:00"},
                 {"CST-8", "2026-12-10T21:10:55+08:00"},
                 {"IST-5:30", "2026-12-10T18:40:55+05:30"},
                 {"NST3:30", "2026-12-10T09:40:55-03:30"}};
    for (const auto& c : cases) {
        const testing::InTimeZone zone(c.zone);
        EXPECT_EQ(isoLocalTime(kEnded), c.time) << c.zone;
        EXPECT_EQ(localTimestamp(kEnded), std::string(c.time).substr(0, 19).replace(10, 1, " "))
            << c.zone;
    }
}

TEST(ReadLiveLine, TakesTheSecondsAndTheTotal) {
    const struct {
        std::string line;
        std::optional<double> seconds;
        double mbps;
        std::string total;
    } cases[] = {{"1.00 940.25", 1.0, 940.25, "940.25"},
                 {"10.00 1878.50\r", 10.0, 1878.5, "1878.50"},
                 {"  2.00 \t 5.00  ", 2.0, 5.0, "5.00"},
                 {"3.00", std::nullopt, 0, ""},
                 {"", std::nullopt, 0, ""},
                 {"x 5.00", std::nullopt, 0, ""},
                 {"1.00 5.00 7", std::nullopt, 0, ""},
                 {"1.00 -", std::nullopt, 0, ""}};
    for (const auto& c : cases) {
        const std::optional<LiveLine> live = readLiveLine(c.line);
        ASSERT_EQ(live.has_value(), c.seconds.has_value()) << '"' << c.line << '"';
        if (live) {
            EXPECT_EQ(live->seconds, *c.seconds) << c.line;
            EXPECT_EQ(live->mbps, c.mbps) << c.line;
            EXPECT_EQ(live->total, c.total) << c.line;
        }
    }
}

}  // namespace
}  // namespace kestova

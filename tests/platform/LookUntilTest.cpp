#include "platform/LookUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace kestova::platform {
namespace {

struct LookCase {
    const char* name;
    int yesAtLook;  // 0: never
    std::chrono::milliseconds bound;
    bool answer;
    int looks;  // how many looks were taken; -1: at least two
};

class LookUntilCases : public ::testing::TestWithParam<LookCase> {};

TEST_P(LookUntilCases, LooksUntilYesOrTheBound) {
    const LookCase& c = GetParam();
    int looks = 0;
    const bool answer = lookUntil(c.bound, std::chrono::milliseconds(1), [&] {
        ++looks;
        return looks == c.yesAtLook;
    });
    EXPECT_EQ(answer, c.answer);
    if (c.looks < 0) {
        EXPECT_GE(looks, 2);
    } else {
        EXPECT_EQ(looks, c.looks);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookUntilCases,
    ::testing::Values(
        // A yes at the first look needs no pause.
        LookCase{"yes_at_once", 1, std::chrono::milliseconds(1000), true, 1},
        // A bound already passed still gives the one look that may say yes.
        LookCase{"no_bound_yes", 1, std::chrono::milliseconds(0), true, 1},
        LookCase{"no_bound_no", 0, std::chrono::milliseconds(0), false, 1},
        // A later yes within the bound is found.
        LookCase{"yes_at_the_third_look", 3, std::chrono::milliseconds(10000), true, 3},
        // A look that never says yes ends at the bound, having looked again meanwhile.
        LookCase{"never_yes", 0, std::chrono::milliseconds(20), false, -1}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace kestova::platform

#include "workspace/TextEscape.h"

#include <gtest/gtest.h>

#include <string>

namespace kestova {
namespace {

struct EscapeCase {
    const char* name;
    std::string text;
    std::string escaped;       // line feeds escaped
    std::string keepingFeeds;  // line feeds kept
};

class ControlCharacters : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(ControlCharacters, AreShownAsEscapes) {
    EXPECT_EQ(withControlCharactersEscaped(GetParam().text), GetParam().escaped);
    EXPECT_EQ(withControlCharactersEscaped(GetParam().text, LineFeeds::Kept),
              GetParam().keepingFeeds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlCharacters,
    ::testing::Values(
        EscapeCase{"plain_address", "192.0.2.10:5201", "192.0.2.10:5201", "192.0.2.10:5201"},
        EscapeCase{"line_end_and_tab", "a\nb\r\tc", "a\\nb\\r\\tc", "a\nb\\r\\tc"},
        EscapeCase{"escape_sequence", "\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07",
                   "\\x1b[2J\\x1b]0;title\\x07"},
        EscapeCase{"nul_and_delete", std::string("a\0b\x7f", 4), "a\\x00b\\x7f", "a\\x00b\\x7f"},
        EscapeCase{"c1_in_utf8",
                   "a\xc2\x80 \xc2\x9b"
                   "2J \xc2\x9f",
                   "a\\xc2\\x80 \\xc2\\x9b2J \\xc2\\x9f", "a\\xc2\\x80 \\xc2\\x9b2J \\xc2\\x9f"},
        EscapeCase{"c1_as_lone_bytes",
                   "\x9b"
                   "2J\x85",
                   "\\x9b2J\\x85", "\\x9b2J\\x85"},
        EscapeCase{"utf8_beyond_c1_stays",
                   "\xc2\xa0 caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad \xf0\x9f\x98\x80",
                   "\xc2\xa0 caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad \xf0\x9f\x98\x80",
                   "\xc2\xa0 caf\xc3\xa9 \xe2\x82\xac \xe4\xb8\xad \xf0\x9f\x98\x80"},
        EscapeCase{"cut_sequence_then_c1", "\xe2\x82x\x9b", "\xe2\\x82x\\x9b", "\xe2\\x82x\\x9b"},
        EscapeCase{"backslash_stays", "a\\x1b", "a\\x1b", "a\\x1b"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova

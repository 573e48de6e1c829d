#include "service/ReplyBody.h"

#include <gtest/gtest.h>

#include <string>

namespace kestova {
namespace {

struct BodyCase {
    const char* name;
    std::string reply;
    std::string body;
};

std::string okReply(const std::string& lengthHeader, const std::string& body) {
    return "HTTP/1.1 200 OK\r\n" + lengthHeader + "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

class ExtractReplyBody : public ::testing::TestWithParam<BodyCase> {};

TEST_P(ExtractReplyBody, CutsTheBodyByItsLength) {
    EXPECT_EQ(extractReplyBody(GetParam().reply), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractReplyBody,
    ::testing::Values(
        BodyCase{"exact", okReply("Content-Length: 7", "1.2.3.4"), "1.2.3.4"},
        BodyCase{"shorter_length_drops_the_rest", okReply("Content-Length: 3", "1.2.3.4"), "1.2"},
        BodyCase{"longer_length_keeps_what_is_there", okReply("Content-Length: 20", "1.2.3.4"),
                 "1.2.3.4"},
        BodyCase{"no_space_after_colon_loses_first_digit", okReply("Content-Length:17", "x"), "x"},
        BodyCase{"no_space_one_digit_reads_zero", okReply("Content-Length:7", "1.2.3.4"), ""},
        BodyCase{"lower_case_header_is_not_found", okReply("content-length: 7", "1.2.3.4"), ""},
        BodyCase{"negative_length_gives_the_rest", okReply("Content-Length: -1", "abc"), "abc"},
        BodyCase{"length_with_trailing_letters", okReply("Content-Length: 2abc", "abc"), "ab"},
        BodyCase{"huge_length_gives_the_rest", okReply("Content-Length: 99999999999999999", "ab"),
                 "ab"},
        BodyCase{"crlf_kept_in_body", okReply("Content-Length: 7", "2.5.1\r\n"), "2.5.1\r\n"},
        BodyCase{"zero_byte_in_body", okReply("Content-Length: 7", std::string("1.2\0.3.4", 8)),
                 std::string("1.2\0.3.", 7)},
        BodyCase{"missing_header_gives_empty", "HTTP/1.1 200 OK\r\n\r\n1.2.3.4", ""},
        BodyCase{"missing_empty_line_gives_empty", "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n", ""},
        BodyCase{"header_cut_after_colon", "HTTP/1.1 200 OK\r\nContent-Length:", ""},
        BodyCase{"empty_reply", "", ""},
        BodyCase{"empty_body", okReply("Content-Length: 0", ""), ""},
        BodyCase{"length_only_in_the_body_is_no_length",
                 "HTTP/1.1 200 OK\r\n\r\nContent-Length: 30\r\n", ""},
        BodyCase{"length_in_the_body_after_the_header_s_own",
                 okReply("Content-Length: 5", "2.5.1Content-Length: 30"), "2.5.1"},
        BodyCase{"length_header_cut_by_the_empty_line",
                 "HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n7\nabc", ""}),
    [](const ::testing::TestParamInfo<BodyCase>& param) { return std::string(param.param.name); });

TEST(AnnouncedBody, IsKnownOnceTheHeaderIsComplete) {
    EXPECT_FALSE(announcedBody("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n"));
    EXPECT_FALSE(announcedBody("HTTP/1.1 200 OK\r\n\r\nContent-Length: 7"));  // only in the body
    const auto body = announcedBody(okReply("Content-Length: 7", "1.2"));
    ASSERT_TRUE(body);
    EXPECT_EQ(body->length, 7);
    EXPECT_EQ(okReply("Content-Length: 7", "1.2").substr(body->start), "1.2");
}

}  // namespace
}  // namespace kestova

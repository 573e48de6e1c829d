#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::tools {

struct TestServiceConfig {
    // "ADDR:PORT" texts, assigned in this order at every server assignment.
    std::vector<std::string> servers;
    std::string latestVersion = "1.0.0";
    // Where every result report's query is appended, one line each; empty keeps none.
    std::string reportLog;
    // How long one connection may last as a whole, from its acceptance to the answer sent.
    std::chrono::milliseconds connectionBound{5000};
};

// Reads "ADDR:PORT,ADDR:PORT,..."; nothing when an entry lacks its address or port.
std::optional<std::vector<std::string>> parseServerList(std::string_view text);

// The complete HTTP reply to one request head (the bytes up to its empty line). Result reports are
// appended to the report log as a side effect. A request target that holds a control character
// gets 400 and is never logged.
std::string answerRequest(const TestServiceConfig& config, std::string_view requestHead,
                          std::string_view clientAddress);

// The body of the server assignment reply: "resultCode=0,ipAddress=A,port=P,..." or, without
// servers, a refusal.
std::string assignmentBody(const std::vector<std::string>& servers);

}  // namespace kestova::tools

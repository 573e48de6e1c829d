#include "tools/test_service/TestServiceAnswers.h"

#include <algorithm>
#include <fstream>

namespace kestova::tools {

namespace {

constexpr std::string_view kVersionPath = "/speedtest25g/speedtest/check_pc_client_version.jsp";
constexpr std::string_view kAddressPath = "/speedtest/test-ip.jsp";
constexpr std::string_view kAssignmentPath = "/speedtest25g/speedtest/request_process_dynamic.jsp";
constexpr std::string_view kReportPath = "/speedtest25g/speedtest/log_result_dynamic.jsp";

std::string reply(std::string_view status, std::string_view body) {
    std::string text = "HTTP/1.1 ";
    text.append(status).append("\r\n");
    text.append("Content-Type: text/plain\r\n");
    text.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    text.append("Connection: close\r\n\r\n");
    text.append(body);
    return text;
}

// The target of "GET target HTTP/1.1", or the empty text for any other request line.
std::string_view requestTarget(std::string_view head) {
    const std::string_view line = head.substr(0, head.find("\r\n"));
    constexpr std::string_view kGet = "GET ";
    if (line.substr(0, kGet.size()) != kGet) {
        return {};
    }
    const std::string_view rest = line.substr(kGet.size());
    return rest.substr(0, rest.rfind(' '));
}

bool holdsControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

void appendReport(const std::string& reportLog, std::string_view query) {
    if (reportLog.empty()) {
        return;
    }
    std::ofstream out(reportLog, std::ios::binary | std::ios::app);
    out << query << '\n';
}

}  // namespace

std::optional<std::vector<std::string>> parseServerList(std::string_view text) {
    std::vector<std::string> servers;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = text.substr(0, comma);
        const std::size_t colon = entry.rfind(':');
        if (colon == std::string_view::npos || colon == 0 || colon + 1 == entry.size()) {
            return std::nullopt;
        }
        servers.emplace_back(entry);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    }
    return servers;
}

std::string assignmentBody(const std::vector<std::string>& servers) {
    if (servers.empty()) {
        return "resultCode=1,";
    }
    std::string body = "resultCode=0,";
    for (const std::string& server : servers) {
        const std::size_t colon = server.rfind(':');
        body.append("ipAddress=").append(server.substr(0, colon)).append(",");
        body.append("port=").append(server.substr(colon + 1)).append(",");
    }
    return body;
}

std::string answerRequest(const TestServiceConfig& config, std::string_view requestHead,
                          std::string_view clientAddress) {
    const std::string_view target = requestTarget(requestHead);
    if (holdsControlCharacter(target)) {
        return reply("400 Bad Request", "bad request");
    }
    const std::string_view path = target.substr(0, target.find('?'));
    if (path == kVersionPath) {
        return reply("200 OK", config.latestVersion);
    }
    if (path == kAddressPath) {
        return reply("200 OK", clientAddress);
    }
    if (path == kAssignmentPath) {
        return reply("200 OK", assignmentBody(config.servers));
    }
    if (path == kReportPath) {
        const std::size_t question = target.find('?');
        appendReport(config.reportLog, question == std::string_view::npos
                                           ? std::string_view{}
                                           : target.substr(question + 1));
        return reply("200 OK", "OK");
    }
    return reply("404 Not Found", "not found");
}

}  // namespace kestova::tools

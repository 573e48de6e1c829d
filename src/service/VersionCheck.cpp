#include "service/VersionCheck.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/TextFile.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "workspace/StatusFile.h"
#include "workspace/Text.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

VersionCheckResult reportUnreachable() {
    writeStatusFile(workspace::kVersionStatus, "2");
    writeStatusFile(workspace::kDownloadStatus, "-1");
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, "e001");
    return VersionCheckResult::ServiceUnreachable;
}

// The status line says 200: "HTTP/x.y 200" followed by a space or the line's end.
bool statusIsOk(std::string_view reply) {
    const std::string_view line = reply.substr(0, reply.find("\r\n"));
    if (line.substr(0, 5) != "HTTP/") {
        return false;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    const std::string_view code = line.substr(space + 1);
    return code.substr(0, 3) == "200" && (code.size() == 3 || code[3] == ' ');
}

// A version is 1 to 32 letters, digits, '.', '-' or '_'.
bool isVersionText(std::string_view text) {
    const auto versionCharacter = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '.' || c == '-' || c == '_';
    };
    return !text.empty() && text.size() <= 32 &&
           std::all_of(text.begin(), text.end(), versionCharacter);
}

// The service answered only when it said 200 and its whole header came, with a version for a
// body. Silence, a reply cut inside its header, bytes that are no HTTP, an error page, a captive
// portal's login page or a body that reads empty say nothing about the latest version.
bool isVersionAnswer(std::string_view reply) {
    return statusIsOk(reply) && reply.find("\r\n\r\n") != std::string_view::npos &&
           isVersionText(trimmed(extractReplyBody(reply)));
}

}  // namespace

VersionCheckResult checkClientVersion(const ServiceEndpoint& endpoint) {
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requests::kVersionCheck);
    // A service that could not be asked, or gave no answer, is unreachable: that is no reason to
    // send an up-to-date client to the upgrade page and end it.
    if (outcome.status != ExchangeStatus::Replied || !isVersionAnswer(outcome.reply)) {
        return reportUnreachable();
    }
    const std::string latestVersion = extractReplyBody(outcome.reply);
    writeWorkspaceFile(workspace::kLatestVersion, latestVersion);
    const VersionCheckResult result =
        compareVersions(latestVersion, platform::readFirstLine(workspace::kLocalVersion));
    writeStatusFile(workspace::kVersionStatus, result == VersionCheckResult::UpToDate ? "0" : "1");
    return result;
}

VersionCheckResult compareVersions(std::string_view latestVersion, std::string_view localVersion) {
    return trimmed(latestVersion) == localVersion ? VersionCheckResult::UpToDate
                                                  : VersionCheckResult::UpgradeRequired;
}

}  // namespace kestova

#include "service/VersionCheck.h"

#include <string>
#include <string_view>

#include "platform/TextFile.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

VersionCheckResult reportUnreachable() {
    writeStatusFile(workspace::kVersionStatus, "2");
    writeStatusFile(workspace::kDownloadStatus, "-1");
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, "e001");
    return kServiceUnreachable;
}

// An answer of the service is an HTTP reply with its whole header. Silence, a reply cut inside
// its header or bytes that are no HTTP at all say nothing about the latest version.
bool isServiceAnswer(std::string_view reply) {
    return reply.substr(0, 5) == "HTTP/" && reply.find("\r\n\r\n") != std::string_view::npos;
}

}  // namespace

VersionCheckResult checkClientVersion(const ServiceEndpoint& endpoint) {
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requests::kVersionCheck);
    // A service that could not be asked, or gave no answer, is unreachable: that is no reason to
    // send an up-to-date client to the upgrade page and end it.
    if (outcome.status != ExchangeStatus::Replied || !isServiceAnswer(outcome.reply)) {
        return reportUnreachable();
    }
    const std::string latestVersion = extractReplyBody(outcome.reply);
    writeWorkspaceFile(workspace::kLatestVersion, latestVersion);
    const VersionCheckResult result =
        compareVersions(latestVersion, platform::readFirstLine(workspace::kLocalVersion));
    writeStatusFile(workspace::kVersionStatus, result == kVersionUpToDate ? "0" : "1");
    return result;
}

VersionCheckResult compareVersions(std::string_view latestVersion, std::string_view localVersion) {
    return trimmed(latestVersion) == localVersion ? kVersionUpToDate : kUpgradeRequired;
}

}  // namespace kestova

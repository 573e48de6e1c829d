#include "service/VersionCheck.h"

#include <string>
#include <string_view>

#include "platform/TextFile.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "testrun/StatusFile.h"
#include "testrun/WorkspaceFiles.h"

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

int reportUnreachable() {
    writeStatusFile(workspace::kVersionStatus, "2");
    writeStatusFile(workspace::kDownloadStatus, "-1");
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, "e001");
    return kServiceUnreachable;
}

}  // namespace

int checkClientVersion(const ServiceEndpoint& endpoint) {
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requests::kVersionCheck);
    // Without a socket the service cannot be asked at all: that is an unreachable service, not
    // a reason to send an up-to-date client to the upgrade page.
    if (outcome.status != ExchangeStatus::Replied) {
        return reportUnreachable();
    }
    const std::string latestVersion = extractReplyBody(outcome.reply);
    writeStatusFile(workspace::kLatestVersion, latestVersion);
    const std::string localVersion = platform::readFirstLine(workspace::kLocalVersion);
    if (trimmed(latestVersion) == localVersion) {
        writeStatusFile(workspace::kVersionStatus, "0");
        return kVersionUpToDate;
    }
    writeStatusFile(workspace::kVersionStatus, "1");
    return kUpgradeRequired;
}

}  // namespace kestova

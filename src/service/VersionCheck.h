#pragma once

#include <string_view>

#include "service/ServiceEndpoint.h"

namespace kestova {

// What the version check came to; speedTest/version.txt holds its number ("0", "1" or "2").
enum class VersionCheckResult { UpToDate = 0, UpgradeRequired = 1, ServiceUnreachable = 2 };

// Asks the service for the latest version and compares it, trimmed, with the first line of
// speedTest/localVersion.txt, untrimmed: equal texts are up to date, any difference requires an
// upgrade. Writes the result to speedTest/version.txt and the reply body to
// speedTest/latest_version.txt; an unreachable service also leaves "-1", "-1" and "e001" in the
// stage status files and the error code. Only a 200 reply whose trimmed body is a version (1 to
// 32 letters, digits, '.', '-', '_') is an answer; anything else counts as unreachable.
VersionCheckResult checkClientVersion(const ServiceEndpoint& endpoint);

// Up to date when the latest version, trimmed of white space at both ends, equals the local
// version byte for byte; an upgrade is required otherwise. There is no order of versions, only
// equality.
VersionCheckResult compareVersions(std::string_view latestVersion, std::string_view localVersion);

}  // namespace kestova

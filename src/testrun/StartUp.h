#pragma once

#include <string>

#include "platform/SystemValues.h"
#include "service/ServiceEndpoint.h"

namespace kestova {

// What start-up learned about this machine and this client.
struct StartUpFacts {
    std::string language;   // "zh", "en", or empty when unknown
    int browserRecent = 0;  // 1 when the web engine is recent enough
    int versionResult = 0;  // 0 up to date, 1 upgrade required, 2 service unreachable
};

// Before the start-up checks: both stage statuses "0" (no test yet) and an empty version status
// (no answer yet).
void resetStatusFiles();

// The start-up checks, in their order: both stage statuses "0" and an empty version status (no
// test yet, no answer yet), then the language, the web engine and the version check.
StartUpFacts runStartUpChecks(const platform::SystemValues& values,
                              const ServiceEndpoint& endpoint);

}  // namespace kestova

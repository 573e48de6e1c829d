#pragma once

#include "platform/SystemValues.h"
#include "service/ServiceEndpoint.h"
#include "service/VersionCheck.h"

namespace kestova {

// Only the display language "zh" chooses Chinese; every other one, or none, English.
enum class DisplayLanguage { English, Chinese };
enum class WebEngine { TooOld, Recent };

// What start-up learned about this machine and this client.
struct StartUpFacts {
    DisplayLanguage language = DisplayLanguage::English;
    WebEngine webEngine = WebEngine::TooOld;
    VersionCheckResult version = VersionCheckResult::ServiceUnreachable;

    // The upgrade is offered (its page and its button) only where the page can show it.
    bool updateOffered() const {
        return version == VersionCheckResult::UpgradeRequired && webEngine == WebEngine::Recent;
    }
};

// The checks that ask nothing of the network, in their order: both stage statuses "0" and an
// empty version status (no test yet, no answer yet), then the language and the web engine. The
// version is left for checkClientVersion.
StartUpFacts checkThisMachine(const platform::SystemValues& values);

// All of start-up: this machine, then the version check with the service.
StartUpFacts runStartUpChecks(const platform::SystemValues& values,
                              const ServiceEndpoint& endpoint);

}  // namespace kestova

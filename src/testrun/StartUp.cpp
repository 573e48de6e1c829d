#include "testrun/StartUp.h"

#include "probes/BrowserVersionProbe.h"
#include "probes/LanguageProbe.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

StartUpFacts checkThisMachine(const platform::SystemValues& values) {
    writeStatusFile(workspace::kDownloadStatus, "0");
    writeStatusFile(workspace::kUploadStatus, "0");
    writeStatusFile(workspace::kVersionStatus, "");
    StartUpFacts facts;
    facts.language =
        detectLanguage(values) == "zh" ? DisplayLanguage::Chinese : DisplayLanguage::English;
    facts.webEngine = detectIeVersion(values) == 1 ? WebEngine::Recent : WebEngine::TooOld;
    return facts;
}

StartUpFacts runStartUpChecks(const platform::SystemValues& values,
                              const ServiceEndpoint& endpoint) {
    StartUpFacts facts = checkThisMachine(values);
    facts.version = checkClientVersion(endpoint);
    return facts;
}

}  // namespace kestova

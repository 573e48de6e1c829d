#include "testrun/StartUp.h"

#include "probes/BrowserVersionProbe.h"
#include "probes/LanguageProbe.h"
#include "service/VersionCheck.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

void resetStatusFiles() {
    writeStatusFile(workspace::kDownloadStatus, "0");
    writeStatusFile(workspace::kUploadStatus, "0");
    writeStatusFile(workspace::kVersionStatus, "");
}

StartUpFacts runStartUpChecks(const platform::SystemValues& values,
                              const ServiceEndpoint& endpoint) {
    resetStatusFiles();
    StartUpFacts facts;
    facts.language = detectLanguage(values);
    facts.browserRecent = detectIeVersion(values);
    facts.versionResult = checkClientVersion(endpoint);
    return facts;
}

}  // namespace kestova

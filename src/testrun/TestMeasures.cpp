#include "testrun/TestMeasures.h"

#include "service/NameLookup.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

void writeLatencyFile(const TestMeasures& measures) {
    writeWorkspaceFile(workspace::kLatency, latencyLine("idle", measures.idle) +
                                                latencyLine("download", measures.download) +
                                                latencyLine("upload", measures.upload));
}

void forgetEarlierMeasures() {
    for (const char* path :
         {workspace::kDownloadLive, workspace::kUploadLive, workspace::kDownloadServers,
          workspace::kUploadServers, workspace::kDownloadFigure, workspace::kUploadFigure}) {
        writeWorkspaceFile(path, "");
    }
    writeLatencyFile(TestMeasures{});
}

void measureIdleLatency(TestMeasures& measures, const ServiceEndpoint& service,
                        const TestRunTiming& timing) {
    forgetEarlierMeasures();
    measures = TestMeasures{};
    measures.service = resolveWithin(service.host, service.port, service.connectTimeout);
    writeLatencyFile(measures);
    if (measures.service) {
        measures.idle =
            latencyFiguresOf(sampleLatency(*measures.service, timing.idleLatencySamples,
                                           timing.idleLatencySpacing, timing.latencyTimeout));
        writeLatencyFile(measures);
    }
}

}  // namespace kestova

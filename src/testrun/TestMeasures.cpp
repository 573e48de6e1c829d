#include "testrun/TestMeasures.h"

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

std::shared_ptr<IdleLatency> startIdleLatency(const ServiceEndpoint& service,
                                              const TestRunTiming& timing,
                                              const NameResolver& lookUpService) {
    return std::make_shared<IdleLatency>(service.host, service.port, timing.idleLatencySamples,
                                         timing.idleLatencySpacing, timing.idleLatencyBound,
                                         lookUpService);
}

void takeIdleLatency(TestMeasures& measures, IdleLatency* started, const ServiceEndpoint& service,
                     const TestRunTiming& timing) {
    forgetEarlierMeasures();
    const IdleLatency::Taken taken =
        started ? started->finish()
                : startIdleLatency(service, timing, platform::resolveAll)->finish();
    measures = TestMeasures{};
    measures.service = taken.peer;
    measures.idle = latencyFiguresOf(taken.series);
    writeLatencyFile(measures);
}

}  // namespace kestova

#include "testrun/StageWatch.h"

#include "iperf/IperfOutput.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

bool isDownload(StageDirection direction) {
    return direction == StageDirection::Download;
}

}  // namespace

StageWatch::StageWatch(const StageRun& run, StageDirection direction)
    : measures_(*run.measures),
      direction_(direction),
      live_(isDownload(direction) ? iperf::kDownloadBaseName : iperf::kUploadBaseName,
            run.servers.size(),
            isDownload(direction) ? workspace::kDownloadLive : workspace::kUploadLive,
            run.timing.livePeriod),
      latency_(run.measures->service, run.timing.loadedLatencyPeriod, run.timing.latencyTimeout) {
    writeWorkspaceFile(
        isDownload(direction) ? workspace::kDownloadServers : workspace::kUploadServers, "");
}

void StageWatch::clientsEnded() {
    (isDownload(direction_) ? measures_.download : measures_.upload) =
        latencyFiguresOf(latency_.stop());
    writeLatencyFile(measures_);
}

void StageWatch::merged(const StageMerge& merge) {
    live_.finish(merge.intervals);
    const ServerCount count{merge.serversCompleted, merge.serversRun};
    (isDownload(direction_) ? measures_.downloadServers : measures_.uploadServers) = count;
    writeWorkspaceFile(
        isDownload(direction_) ? workspace::kDownloadServers : workspace::kUploadServers,
        count.text());
}

}  // namespace kestova

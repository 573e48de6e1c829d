#include "testrun/StageWatch.h"

#include "iperf/IperfOutput.h"
#include "iperf/MeasuredWindows.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

bool isDownload(StageDirection direction) {
    return direction == StageDirection::Download;
}

// The windows of the servers the merge counted; none when one of them is not known, since then
// the stage cannot tell whether they coincide.
std::vector<iperf::MeasuredWindow> windowsOf(const StageMerge& merge,
                                             const std::vector<std::optional<double>>& startedAt) {
    std::vector<iperf::MeasuredWindow> windows;
    for (std::size_t index = 0; index < merge.receivers.size(); ++index) {
        if (!merge.receivers[index]) {
            continue;
        }
        if (index >= startedAt.size() || !startedAt[index]) {
            return {};
        }
        windows.push_back({*merge.receivers[index], *startedAt[index]});
    }
    return windows;
}

}  // namespace

void StageWatch::writeStageFigure(const StageMerge& merge,
                                  const std::vector<std::optional<double>>& startedAt) {
    const iperf::StageFigure figure =
        iperf::stageFigureOf(merge.figure, windowsOf(merge, startedAt));
    if (figure.explanation) {
        runLog() << *figure.explanation;
    }
    writeWorkspaceFile(
        isDownload(direction_) ? workspace::kDownloadFigure : workspace::kUploadFigure,
        figure.text == iperf::kNoFigure ? std::string() : figure.text);
}

StageWatch::StageWatch(const StageRun& run, StageDirection direction)
    : measures_(*run.measures),
      direction_(direction),
      live_(isDownload(direction) ? iperf::kDownloadBaseName : iperf::kUploadBaseName,
            run.servers.size(),
            isDownload(direction) ? workspace::kDownloadLive : workspace::kUploadLive,
            run.timing.livePeriod, run.servers,
            isDownload(direction) ? iperf::ArrivedTotals::Side::ClientsReceived
                                  : iperf::ArrivedTotals::Side::ServersReceived),
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
    const std::vector<std::optional<double>> startedAt = live_.finish(merge.intervals);
    writeStageFigure(merge, startedAt);
    const ServerCount count{merge.serversCompleted, merge.serversRun};
    (isDownload(direction_) ? measures_.downloadServers : measures_.uploadServers) = count;
    writeWorkspaceFile(
        isDownload(direction_) ? workspace::kDownloadServers : workspace::kUploadServers,
        count.text());
}

}  // namespace kestova

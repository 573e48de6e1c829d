#include "app/TerminalProgress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "platform/TextFile.h"
#include "workspace/InPlaceLine.h"
#include "workspace/Text.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

using namespace std::chrono_literals;

constexpr auto kLookEvery = 500ms;

std::optional<LiveLine> latestLiveLine(const std::vector<std::string>& lines) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (const std::optional<LiveLine> live = readLiveLine(*line)) {
            return live;
        }
    }
    return std::nullopt;
}

std::string stageLine(const char* stage, const std::vector<std::string>& live) {
    const std::optional<LiveLine> latest = latestLiveLine(live);
    if (!latest) {
        return std::string(stage) + ": starting";
    }
    return std::string(stage) + ": second " + std::to_string(std::lround(latest->seconds)) + ", " +
           std::string(latest->total) + " Mbit/s";
}

}  // namespace

std::string progressLine(std::string_view downloadStatus, std::string_view uploadStatus,
                         const std::vector<std::string>& downloadLive,
                         const std::vector<std::string>& uploadLive) {
    if (uploadStatus == "1") {
        return stageLine("Upload", uploadLive);
    }
    if (downloadStatus == "1") {
        return stageLine("Download", downloadLive);
    }
    return {};
}

TerminalProgress::TerminalProgress() : thread_([this] { showUntilStopped(); }) {}

TerminalProgress::~TerminalProgress() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
    clearInPlaceLine();
}

void TerminalProgress::showUntilStopped() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stop_) {
        guard.unlock();
        const std::string download = platform::readFirstLine(workspace::kDownloadStatus);
        const std::string upload = platform::readFirstLine(workspace::kUploadStatus);
        // An empty status file is one being written: it says nothing new, so the line stays.
        if (!download.empty() && !upload.empty()) {
            showInPlaceLine(progressLine(download, upload,
                                         platform::readLines(workspace::kDownloadLive),
                                         platform::readLines(workspace::kUploadLive)));
        }
        guard.lock();
        stopped_.wait_for(guard, kLookEvery, [this] { return stop_; });
    }
}

}  // namespace kestova

#include "testrun/TestHistory.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/TextFile.h"
#include "service/ResultReport.h"
#include "workspace/Text.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

// A stage's figure when it is a number, as the merged file wrote it; empty otherwise.
std::string numberOrEmpty(const std::string& figure) {
    return wholeNumber<double>(figure) ? figure : std::string{};
}

std::string millisecondsOf(const LatencyFigures& figures) {
    return figures.medianMs ? twoDecimals(*figures.medianMs) : std::string{};
}

std::string serversOf(const TestMeasures& measures) {
    std::optional<ServerCount> fewest;
    for (const std::optional<ServerCount>& count :
         {measures.downloadServers, measures.uploadServers}) {
        if (count && (!fewest || count->completed < fewest->completed)) {
            fewest = count;
        }
    }
    return fewest ? fewest->text() : std::string{};
}

std::string outcomeOf(const TestMeasures& measures, bool completed) {
    if (completed) {
        return "completed";
    }
    const bool downloadCompleted =
        measures.downloadServers && measures.downloadServers->completed > 0;
    return downloadCompleted ? "e003" : "e002";
}

}  // namespace

HistoryEntry historyOfStages(const TestMeasures& measures, bool completed, std::time_t endedAt) {
    HistoryEntry entry;
    entry.time = isoLocalTime(endedAt);
    entry.downloadMbps = numberOrEmpty(downloadFigure());
    entry.uploadMbps = numberOrEmpty(uploadFigure());
    entry.idleMs = millisecondsOf(measures.idle);
    entry.downloadMs = millisecondsOf(measures.download);
    entry.uploadMs = millisecondsOf(measures.upload);
    entry.servers = serversOf(measures);
    entry.outcome = outcomeOf(measures, completed);
    return entry;
}

HistoryEntry historyWithoutStages(const std::string& errorCode, std::time_t endedAt) {
    HistoryEntry entry;
    entry.time = isoLocalTime(endedAt);
    entry.outcome = errorCode;
    return entry;
}

std::string historyLine(const HistoryEntry& entry) {
    return entry.time + "," + entry.downloadMbps + "," + entry.uploadMbps + "," + entry.idleMs +
           "," + entry.downloadMs + "," + entry.uploadMs + "," + entry.servers + "," +
           entry.outcome + "\n";
}

namespace {

// The history's header line and its last kHistoryTests lines; every line ends with its feed.
std::string withLastTestsOnly(const std::string& content) {
    const std::size_t headerEnd = content.find('\n');
    if (headerEnd == std::string::npos) {
        return content;
    }
    // Back from the last line feed, past kHistoryTests of them: the oldest line kept starts there.
    std::size_t start = content.size() - 1;
    for (std::size_t lines = 0; lines < kHistoryTests; ++lines) {
        const std::size_t feed = content.rfind('\n', start - 1);
        if (feed == headerEnd || feed == std::string::npos) {
            return content;
        }
        start = feed;
    }
    return content.substr(0, headerEnd + 1) + content.substr(start + 1);
}

}  // namespace

bool appendToHistory(const HistoryEntry& entry) {
    // Two tests may end at once (Restart while the last report is still being sent): one append
    // at a time, so that neither line is lost.
    static std::mutex appending;
    const std::lock_guard<std::mutex> guard(appending);
    const std::string path = workspace::kHistory;
    std::error_code error;
    std::string content;
    if (std::filesystem::exists(path, error)) {
        std::optional<std::string> existing = platform::readWholeFile(path);
        if (!existing) {
            return false;
        }
        content = std::move(*existing);
    }
    if (content.empty()) {
        content = std::string(kHistoryHeader) + "\n";
    } else if (content.back() != '\n') {
        content += "\n";
    }
    content += historyLine(entry);
    content = withLastTestsOnly(content);
    const std::string copy = path + ".new";
    if (!platform::writeWholeFile(copy, content)) {
        std::filesystem::remove(copy, error);
        return false;
    }
    std::filesystem::rename(copy, path, error);
    if (error) {
        std::filesystem::remove(copy, error);
        return false;
    }
    return true;
}

}  // namespace kestova

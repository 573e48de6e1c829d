#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "testrun/TestMeasures.h"

namespace kestova {

// The first line of speedTest/history.csv.
inline constexpr const char* kHistoryHeader =
    "time,download_mbps,upload_mbps,idle_ms,download_ms,upload_ms,servers,outcome";

// One ended test as its history line tells it; an empty field where there is no figure.
struct HistoryEntry {
    std::string time;  // local time, ISO 8601 with its offset
    std::string downloadMbps;
    std::string uploadMbps;
    std::string idleMs;
    std::string downloadMs;
    std::string uploadMs;
    std::string servers;  // "<completed>/<run>", the fewer completed of the stages that merged
    std::string outcome;  // "completed" or the error code
};

// A test that reached the stages: the figures of the merged files (as the result report takes
// them), the latency medians and the server counts it measured.
HistoryEntry historyOfStages(const TestMeasures& measures, bool completed, std::time_t endedAt);

// A test that ended before its stages, with the error code it wrote.
HistoryEntry historyWithoutStages(const std::string& errorCode, std::time_t endedAt);

// The entry's fields joined by commas, and a line feed.
std::string historyLine(const HistoryEntry& entry);

// The tests history.csv keeps: the last ones, after its header line.
inline constexpr std::size_t kHistoryTests = 1000;

// Appends the entry's line to speedTest/history.csv, which is created with its header line, and
// drops the oldest lines beyond the last kHistoryTests, so that the file never grows without bound.
// The file is written whole to a temporary copy that then takes its place, so that it is never left
// half written; when the file there cannot be read, or the copy cannot be written, nothing
// changes. False then.
bool appendToHistory(const HistoryEntry& entry);

}  // namespace kestova

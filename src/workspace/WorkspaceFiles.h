#pragma once

#include "platform/SystemSpelling.h"

// Every file of the workspace and of the program folder that the program names. Paths are relative
// to the program folder; each file has exactly one spelling, so that every reader opens the file
// its writer wrote.
namespace kestova::workspace {

inline constexpr const char* kFolder = "speedTest";

inline constexpr const char* kDownloadStatus = "speedTest/dn_status.txt";
inline constexpr const char* kUploadStatus = "speedTest/up_status.txt";
inline constexpr const char* kErrorCode = "speedTest/error.txt";
inline constexpr const char* kVersionStatus = "speedTest/version.txt";

inline constexpr const char* kIpAddress = "speedTest/ip_address.txt";
inline constexpr const char* kHttpStatus = "speedTest/http_status.txt";
inline constexpr const char* kLatestVersion = "speedTest/latest_version.txt";
inline constexpr const char* kLocalVersion = "speedTest/localVersion.txt";
inline constexpr const char* kIperfParameters = "speedTest/iperf_command_parameter_config.txt";
// The stages' iperf3 outputs: "speedTest/<base>_<index>.txt" for each server, the merged output
// "speedTest/<base>.txt".
inline constexpr const char* kDownloadSpeedBase = "dn_speed";
inline constexpr const char* kUploadSpeedBase = "up_speed";
inline constexpr const char* kDownloadSpeed = "speedTest/dn_speed.txt";
inline constexpr const char* kUploadSpeed = "speedTest/up_speed.txt";
// Beside the merged outputs, while and after a stage runs: its per-second totals as they come
// ("<end of the interval> <Mbit/s>" lines) and how many servers it counted ("<completed>/<run>").
inline constexpr const char* kDownloadLive = "speedTest/dn_live.txt";
inline constexpr const char* kUploadLive = "speedTest/up_live.txt";
inline constexpr const char* kDownloadServers = "speedTest/dn_servers.txt";
// A completed stage's figure, which counts each second once: the merged file's figure where the
// servers measured over the same time, the one over all their windows where they did not.
inline constexpr const char* kDownloadFigure = "speedTest/dn_figure.txt";
inline constexpr const char* kUploadFigure = "speedTest/up_figure.txt";
inline constexpr const char* kUploadServers = "speedTest/up_servers.txt";
// The latency idle and under load: lines "<phase> <median ms> <jitter ms> <samples> <lost>".
inline constexpr const char* kLatency = "speedTest/latency.txt";
// One line for every test that ended.
inline constexpr const char* kHistory = "speedTest/history.csv";
inline constexpr const char* kHttpReturn = "speedTest/http_return.txt";
inline constexpr const char* kFinal = "speedTest/final.txt";
inline constexpr const char* kLanguageCode = "speedTest/lang2.txt";
inline constexpr const char* kLanguage = "speedTest/lang.txt";
inline constexpr const char* kIeVersionValue = "speedTest/ie_version.txt";
inline constexpr const char* kIeVersion = "speedTest/ie_version2.txt";
inline constexpr const char* kIndexPage = "speedTest/index.html";
inline constexpr const char* kDownloadPage = "speedTest/download.html";

// The files the install puts into speedTest/: a user's own workspace gets a copy of each.
inline constexpr const char* kInstalledFiles[] = {kIndexPage, kDownloadPage,
                                                  "speedTest/speedtest.js",
                                                  "speedTest/speedtest.css", kIperfParameters};

// Beside speedTest/: the lock one program at a time holds on the workspace for its whole life.
inline constexpr const char* kLockFile = "kestova-speedtest.lock";

// iperf/iperf3 (on Windows iperf\iperf3.exe).
inline constexpr const char* kIperfClient = platform::kIperfClientPath;

}  // namespace kestova::workspace

#include "app/ResultDocument.h"

#include <array>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string_view>

#include "iperf/IperfOutput.h"
#include "platform/TextFile.h"
#include "service/ResultReport.h"
#include "testrun/TestHistory.h"
#include "workspace/Text.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

using Json = nlohmann::ordered_json;

// The text without white space at its ends as a number, or nothing when it is not one ("error",
// empty, trailing text).
template <typename Number>
std::optional<Number> numberOf(std::string_view text) {
    return wholeNumber<Number>(trimmed(text));
}

template <typename Number>
Json jsonOf(const std::optional<Number>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// A stage's figure as the result report writes it to final.txt, when the stage ran in this test.
Json stageFigureOf(bool ran, const std::string& figure) {
    return ran ? jsonOf(numberOf<double>(figure)) : Json(nullptr);
}

// One server's own receiver total in its output, when its stage ran in this test.
Json serverFigureOf(bool ran, const std::string& outputPath) {
    return ran ? jsonOf(
                     numberOf<double>(iperf::figureOfMergedLines(platform::readLines(outputPath))))
               : Json(nullptr);
}

Json serversOf(const ResultInputs& inputs) {
    Json servers = Json::array();
    for (std::size_t index = 0; index < inputs.servers.size(); ++index) {
        const OurIperfServer& server = inputs.servers[index];
        servers.push_back({
            {"address", server.ipAddress},
            {"port", jsonOf(numberOf<unsigned>(server.port))},
            {"download_mbps", serverFigureOf(inputs.downloadRan, iperf::downloadOutputPath(index))},
            {"upload_mbps", serverFigureOf(inputs.uploadRan, iperf::uploadOutputPath(index))},
        });
    }
    return servers;
}

// "<name> <median ms> <jitter ms> <samples> <lost>": the line of that name, or null.
Json latencyOf(bool measured, std::string_view name, const std::vector<std::string>& lines) {
    if (!measured) {
        return nullptr;
    }
    for (const std::string& line : lines) {
        std::array<std::string_view, 5> fields{};
        std::string_view rest = trimmed(line);
        std::size_t count = 0;
        while (!rest.empty() && count < fields.size()) {
            const std::size_t gap = rest.find_first_of(" \t");
            fields[count++] = rest.substr(0, gap);
            rest = gap == std::string_view::npos ? std::string_view{} : trimmed(rest.substr(gap));
        }
        if (count < fields.size() || !rest.empty() || fields[0] != name) {
            continue;
        }
        // Without an answered sample the median and the jitter are "-": null here.
        const auto samples = numberOf<unsigned>(fields[3]);
        const auto lost = numberOf<unsigned>(fields[4]);
        if (!samples || !lost) {
            return nullptr;
        }
        return {{"median", jsonOf(numberOf<double>(fields[1]))},
                {"jitter", jsonOf(numberOf<double>(fields[2]))},
                {"samples", *samples},
                {"lost", *lost}};
    }
    return nullptr;
}

// The live totals of a stage that ran: the second figure of each "<seconds> <Mbit/s>" line.
Json intervalsOf(bool ran, const char* livePath) {
    Json totals = Json::array();
    if (!ran) {
        return totals;
    }
    for (const std::string& line : platform::readLines(livePath)) {
        if (const std::optional<LiveLine> live = readLiveLine(line)) {
            totals.push_back(live->mbps);
        }
    }
    return totals;
}

Json textOrNull(std::string_view text) {
    text = trimmed(text);
    return text.empty() ? Json(nullptr) : Json(std::string(text));
}

const char* statusName(TestEnd end) {
    switch (end) {
        case TestEnd::Completed:
            return "completed";
        case TestEnd::UpgradeRequired:
            return "upgrade required";
        case TestEnd::Failed:
            break;
    }
    return "failed";
}

}  // namespace

EarlierMerges EarlierMerges::note() {
    EarlierMerges earlier;
    earlier.download_ = fingerprintOf(workspace::kDownloadSpeed);
    earlier.upload_ = fingerprintOf(workspace::kUploadSpeed);
    return earlier;
}

bool EarlierMerges::downloadRewritten() const {
    return !(fingerprintOf(workspace::kDownloadSpeed) == download_);
}

bool EarlierMerges::uploadRewritten() const {
    return !(fingerprintOf(workspace::kUploadSpeed) == upload_);
}

EarlierMerges::Fingerprint EarlierMerges::fingerprintOf(const char* path) {
    std::error_code failed;
    Fingerprint fingerprint;
    const auto modified = std::filesystem::last_write_time(path, failed);
    if (failed) {
        return fingerprint;
    }
    fingerprint.exists = true;
    fingerprint.modified = static_cast<long long>(modified.time_since_epoch().count());
    fingerprint.size = std::filesystem::file_size(path, failed);
    return fingerprint;
}

ResultInputs resultInputsNow(TestEnd end, const EarlierMerges& earlier,
                             const std::vector<OurIperfServer>& assigned) {
    ResultInputs inputs;
    inputs.end = end;
    inputs.time = isoLocalTimeNow();
    // A stage that ran ends with its merge; a completed test ran both.
    inputs.downloadRan = end == TestEnd::Completed || earlier.downloadRewritten();
    inputs.uploadRan = end == TestEnd::Completed || earlier.uploadRewritten();
    if (inputs.downloadRan) {
        inputs.servers = assigned;
    }
    return inputs;
}

std::string resultDocument(const ResultInputs& inputs) {
    const bool tested = inputs.end != TestEnd::UpgradeRequired;
    const std::string address = platform::readFirstLine(workspace::kIpAddress);
    const std::vector<std::string> latency = platform::readLines(workspace::kLatency);
    Json document = {
        {"version", textOrNull(platform::readFirstLine(workspace::kLocalVersion))},
        {"time", inputs.time},
        {"status", statusName(inputs.end)},
        {"error", inputs.end == TestEnd::Failed
                      ? textOrNull(platform::readFirstLine(workspace::kErrorCode))
                      : Json(nullptr)},
        // The address lookup leaves "error" when it failed.
        {"client_address",
         tested && trimmed(address) != "error" ? textOrNull(address) : Json(nullptr)},
        {"download_mbps", stageFigureOf(inputs.downloadRan, downloadFigure())},
        {"upload_mbps", stageFigureOf(inputs.uploadRan, uploadFigure())},
        {"servers", serversOf(inputs)},
        {"latency_ms",
         {{"idle", latencyOf(inputs.downloadRan, "idle", latency)},
          {"download", latencyOf(inputs.downloadRan, "download", latency)},
          {"upload", latencyOf(inputs.uploadRan, "upload", latency)}}},
        {"intervals",
         {{"download", intervalsOf(inputs.downloadRan, workspace::kDownloadLive)},
          {"upload", intervalsOf(inputs.uploadRan, workspace::kUploadLive)}}},
    };
    // Texts from files may hold any bytes; a byte that is not UTF-8 becomes U+FFFD.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string isoLocalTimeNow() {
    return isoLocalTime(std::time(nullptr));
}

}  // namespace kestova

#include "iperf/IperfOutput.h"

#include "iperf/SummaryLines.h"
#include "platform/TextFile.h"
#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

const std::string* totalLine(const std::vector<std::string>& lines) {
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (holdsDoneMarker(lines[k])) {
            return k < 2 ? nullptr : &lines[k - 2];
        }
    }
    return nullptr;
}

std::string figureOfLine(std::string_view line) {
    const std::size_t bytesAt = line.find("Bytes");
    const std::size_t unitAt = line.find("Mbits/sec");
    if (bytesAt == std::string_view::npos || unitAt == std::string_view::npos ||
        unitAt < bytesAt + 5) {
        return kNoFigure;
    }
    const std::string_view figure = trimmed(line.substr(bytesAt + 5, unitAt - bytesAt - 5));
    return figure.empty() ? std::string(kNoFigure) : std::string(figure);
}

}  // namespace

std::string outputPath(std::string_view baseName, std::size_t index) {
    return std::string(workspace::kFolder) + "/" + std::string(baseName) + "_" +
           std::to_string(index) + ".txt";
}

std::string mergedOutputPath(std::string_view baseName) {
    return std::string(workspace::kFolder) + "/" + std::string(baseName) + ".txt";
}

std::string downloadOutputPath(std::size_t index) {
    return outputPath(kDownloadBaseName, index);
}

std::string uploadOutputPath(std::size_t index) {
    return outputPath(kUploadBaseName, index);
}

std::string downloadProbeOutputPath() {
    return std::string(workspace::kFolder) + "/dn_probe.txt";
}

std::string uploadProbeOutputPath() {
    return std::string(workspace::kFolder) + "/up_probe.txt";
}

std::optional<ReceiverTotal> receiverTotalOf(const std::vector<std::string>& lines) {
    std::optional<ReceiverTotal> total;
    for (const std::string& line : lines) {
        if (holdsDoneMarker(line)) {
            break;
        }
        const std::vector<std::string_view> tokens = tokensOf(line);
        if (!isSummaryLine(line) || tokens.empty() || tokens.back() != "receiver") {
            continue;
        }
        const std::optional<double> seconds = intervalLengthOf(line);
        const std::optional<double> mbps = bitrateOfLine(line);
        if (seconds && mbps && *seconds > 0) {
            total = ReceiverTotal{*mbps, *seconds};
        }
    }
    return total;
}

std::string figureOfMergedLines(const std::vector<std::string>& lines) {
    const std::string* line = totalLine(lines);
    return line != nullptr ? figureOfLine(*line) : std::string(kNoFigure);
}

void emptyOutputFile(const std::string& path) {
    // A name that cannot be made a file of this program's own fails its script's start later.
    static_cast<void>(platform::createFreshFile(path));
}

}  // namespace kestova::iperf

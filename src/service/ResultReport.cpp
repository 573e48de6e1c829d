#include "service/ResultReport.h"

#include <string_view>

#include "platform/TextFile.h"
#include "service/HttpExchange.h"
#include "service/RequestLines.h"
#include "testrun/StatusFile.h"
#include "testrun/WorkspaceFiles.h"

namespace kestova {

namespace {

constexpr std::string_view kNoFigure = "error";

bool stageCompleted(const std::string& statusPath) {
    for (const std::string& line : platform::readLines(statusPath)) {
        if (line.find('2') != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The receiver's total stands two lines above the marker, with the empty line between them.
const std::string* totalLine(const std::vector<std::string>& lines) {
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].find("iperf Done.") != std::string::npos) {
            return k < 2 ? nullptr : &lines[k - 2];
        }
    }
    return nullptr;
}

std::string figureOfLine(std::string_view line) {
    constexpr std::string_view kWhiteSpace = " \f\n\r\t\v";
    const std::size_t bytesAt = line.find("Bytes");
    const std::size_t unitAt = line.find("Mbits/sec");
    if (bytesAt == std::string_view::npos || unitAt == std::string_view::npos ||
        unitAt < bytesAt + 5) {
        return std::string(kNoFigure);
    }
    std::string_view figure = line.substr(bytesAt + 5, unitAt - bytesAt - 5);
    const std::size_t last = figure.find_last_not_of(kWhiteSpace);
    if (last == std::string_view::npos) {
        return std::string(kNoFigure);
    }
    figure = figure.substr(0, last + 1);
    return std::string(figure.substr(figure.find_first_not_of(kWhiteSpace)));
}

std::string joined(const std::vector<OurIperfServer>& servers, std::string OurIperfServer::*field) {
    std::string text;
    for (const OurIperfServer& server : servers) {
        if (!text.empty()) {
            text += ",";
        }
        text += server.*field;
    }
    return text;
}

}  // namespace

std::string stageFigure(const std::string& statusPath, const std::string& mergedPath) {
    if (!stageCompleted(statusPath)) {
        return std::string(kNoFigure);
    }
    return figureOfMergedLines(platform::readLines(mergedPath));
}

std::string figureOfMergedLines(const std::vector<std::string>& lines) {
    const std::string* line = totalLine(lines);
    return line != nullptr ? figureOfLine(*line) : std::string(kNoFigure);
}

std::string reportQuery(const std::vector<OurIperfServer>& servers, const std::string& download,
                        const std::string& upload) {
    return "ipAddress=" + joined(servers, &OurIperfServer::ipAddress) + "&" +
           "port=" + joined(servers, &OurIperfServer::port) + "&" + "downloadResult=" + download +
           "&" + "uploadResult=" + upload + "&platform=Win";
}

std::string finalSummary(const std::vector<OurIperfServer>& servers, const std::string& download,
                         const std::string& upload) {
    return "Server IP=" + joined(servers, &OurIperfServer::ipAddress) + ", " +
           "Server Port=" + joined(servers, &OurIperfServer::port) + ", " +
           "downloadResult=" + download + "Mbps, " + "uploadResult=" + upload + "Mbps";
}

void logResult(const ServiceEndpoint& endpoint, const std::vector<OurIperfServer>& servers) {
    const std::string download = stageFigure(workspace::kDownloadStatus, workspace::kDownloadSpeed);
    const std::string upload = stageFigure(workspace::kUploadStatus, workspace::kUploadSpeed);
    const std::string requestLine = std::string(requests::kResultReportPrefix) +
                                    reportQuery(servers, download, upload) + " HTTP/1.1";
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requestLine);
    if (outcome.status != ExchangeStatus::Replied) {
        return;
    }
    writeStatusFile(workspace::kHttpReturn,
                    buildRequestText(requestLine, endpoint.hostHeader) + "\n" + outcome.reply);
    writeStatusFile(workspace::kFinal, finalSummary(servers, download, upload));
}

}  // namespace kestova

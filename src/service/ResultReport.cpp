#include "service/ResultReport.h"

#include <string_view>

#include "iperf/IperfOutput.h"
#include "platform/TextFile.h"
#include "service/HttpExchange.h"
#include "service/RequestLines.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

bool stageCompleted(const std::string& statusPath) {
    for (const std::string& line : platform::readLines(statusPath)) {
        if (line.find('2') != std::string::npos) {
            return true;
        }
    }
    return false;
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
        return iperf::kNoFigure;
    }
    return iperf::figureOfMergedLines(platform::readLines(mergedPath));
}

std::string stageFigure(const std::string& statusPath, const std::string& mergedPath,
                        const std::string& figurePath) {
    if (!stageCompleted(statusPath)) {
        return iperf::kNoFigure;
    }
    const std::string figure = platform::readFirstLine(figurePath);
    return figure.empty() ? stageFigure(statusPath, mergedPath) : figure;
}

std::string downloadFigure() {
    return stageFigure(workspace::kDownloadStatus, workspace::kDownloadSpeed,
                       workspace::kDownloadFigure);
}

std::string uploadFigure() {
    return stageFigure(workspace::kUploadStatus, workspace::kUploadSpeed, workspace::kUploadFigure);
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
    logResult(endpoint, servers, downloadFigure(), uploadFigure());
}

void logResult(const ServiceEndpoint& endpoint, const std::vector<OurIperfServer>& servers,
               const std::string& download, const std::string& upload) {
    const std::string requestLine = std::string(requests::kResultReportPrefix) +
                                    reportQuery(servers, download, upload) + " HTTP/1.1";
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requestLine);
    if (outcome.status != ExchangeStatus::Replied) {
        return;
    }
    writeWorkspaceFile(workspace::kHttpReturn,
                       buildRequestText(requestLine, endpoint.hostHeader) + "\n" + outcome.reply);
    writeWorkspaceFile(workspace::kFinal, finalSummary(servers, download, upload));
}

}  // namespace kestova

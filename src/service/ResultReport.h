#pragma once

#include <string>
#include <vector>

#include "iperf/OurIperfServer.h"
#include "service/ServiceEndpoint.h"

namespace kestova {

// A stage's figure: when a line of the status file holds "2", the text between "Bytes" and
// "Mbits/sec" on the line two above the merged file's "iperf Done." line, trimmed; "error" when
// the stage did not complete or no figure stands there.
std::string stageFigure(const std::string& statusPath, const std::string& mergedPath);
// The same, but the stage's figure file (speedTest/dn_figure.txt) gives the figure when it holds
// one: the figure that counts each second once, which the report, final.txt, the history and the
// result document all take.
std::string stageFigure(const std::string& statusPath, const std::string& mergedPath,
                        const std::string& figurePath);
std::string downloadFigure();
std::string uploadFigure();

// "ipAddress=A,B&port=P,Q&downloadResult=D&uploadResult=U&platform=Win", nothing escaped.
std::string reportQuery(const std::vector<OurIperfServer>& servers, const std::string& download,
                        const std::string& upload);

// "Server IP=A,B, Server Port=P,Q, downloadResult=DMbps, uploadResult=UMbps".
std::string finalSummary(const std::vector<OurIperfServer>& servers, const std::string& download,
                         const std::string& upload);

// Reports the test's figures and the servers it ran with to the service. Once connected, leaves
// the request and the raw reply in speedTest/http_return.txt and the summary in
// speedTest/final.txt; an unreachable service leaves both files as they were.
void logResult(const ServiceEndpoint& endpoint, const std::vector<OurIperfServer>& servers);
// The same with the figures given, as they were taken when the test ended: the workspace may hold
// a later test's by the time the report goes out.
void logResult(const ServiceEndpoint& endpoint, const std::vector<OurIperfServer>& servers,
               const std::string& download, const std::string& upload);

}  // namespace kestova

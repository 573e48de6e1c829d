#include "service/AddressLookup.h"

#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

void getIpAddress(const ServiceEndpoint& endpoint) {
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requests::kAddressLookup);
    writeWorkspaceFile(workspace::kIpAddress, outcome.status == ExchangeStatus::Replied
                                                  ? extractReplyBody(outcome.reply)
                                                  : std::string("error"));
}

}  // namespace kestova

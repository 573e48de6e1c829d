#pragma once

#include "service/ServiceEndpoint.h"

namespace kestova {

// Leaves in speedTest/ip_address.txt the address under which the service sees this client (the
// reply body as it came), or "error" when the service could not be reached.
void getIpAddress(const ServiceEndpoint& endpoint);

}  // namespace kestova

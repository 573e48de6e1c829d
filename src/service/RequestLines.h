#pragma once

// The request lines of the four exchanges with the test service.
namespace kestova::requests {

inline constexpr const char* kVersionCheck =
    "GET /speedtest25g/speedtest/check_pc_client_version.jsp HTTP/1.1";
inline constexpr const char* kAddressLookup = "GET /speedtest/test-ip.jsp HTTP/1.1";
inline constexpr const char* kServerAssignment =
    "GET /speedtest25g/speedtest/request_process_dynamic.jsp HTTP/1.1";
// Followed by the report's query and " HTTP/1.1".
inline constexpr const char* kResultReportPrefix =
    "GET /speedtest25g/speedtest/log_result_dynamic.jsp?";

}  // namespace kestova::requests

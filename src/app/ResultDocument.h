#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/ExitStatus.h"
#include "iperf/OurIperfServer.h"

namespace kestova {

// The files of a stage's merged output as they stood before a test, to tell afterwards whether the
// test's stage ran (its merge rewrites the file) or whether what the workspace holds for it is an
// earlier test's.
class EarlierMerges {
  public:
    static EarlierMerges note();
    bool downloadRewritten() const;
    bool uploadRewritten() const;

  private:
    struct Fingerprint {
        bool exists = false;
        long long modified = 0;
        unsigned long long size = 0;
        bool operator==(const Fingerprint&) const = default;
    };
    static Fingerprint fingerprintOf(const char* path);

    Fingerprint download_;
    Fingerprint upload_;
};

struct ResultInputs {
    TestEnd end = TestEnd::Failed;
    std::string time;                     // when the test ended, ISO 8601 local time with offset
    bool downloadRan = false;             // the download stage ran in this test
    bool uploadRan = false;               // the upload stage ran in this test
    std::vector<OurIperfServer> servers;  // the servers this test ran
};

// The inputs for the test that just ended: its end, the time now, which stages ran (by the merges
// and the status files) and the servers it ran.
ResultInputs resultInputsNow(TestEnd end, const EarlierMerges& earlier,
                             const std::vector<OurIperfServer>& assigned);

// The test's result as one JSON document and a line feed, from the files the test left in the
// workspace: version, time, status, error, client_address, download_mbps and upload_mbps (the
// figures the result report writes to final.txt), servers (each with its own receiver total),
// latency_ms and intervals (the live totals). A figure that a stage which did not run in this test
// would give is null (or an empty list), never an earlier test's.
std::string resultDocument(const ResultInputs& inputs);

// The local time now as ISO 8601 with the zone's offset, such as 2026-12-10T21:10:55+08:00.
std::string isoLocalTimeNow();

}  // namespace kestova

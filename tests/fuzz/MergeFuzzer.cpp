// Any iperf3 outputs of several servers (split at 0x01 bytes): the merge never stops the
// program, and its text is empty or ends with the marker on a line of its own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "iperf/SpeedFileMerge.h"
#include "platform/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<kestova::CollectedOutput> outputs;
    while (!input.empty()) {
        const std::size_t split = input.find('\x01');
        outputs.push_back(kestova::platform::splitLines(input.substr(0, split)));
        input = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    }
    const std::string merged = kestova::mergeCollectedOutputs(outputs);
    constexpr std::string_view kEnd = "\niperf Done.";
    const bool wellEnded = merged.size() >= kEnd.size() &&
                           std::string_view(merged).substr(merged.size() - kEnd.size()) == kEnd;
    if (outputs.empty() ? !merged.empty() : !wellEnded) {
        std::abort();
    }
    return 0;
}

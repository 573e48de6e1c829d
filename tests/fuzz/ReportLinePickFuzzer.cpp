// Any merged file: the report's figure is "error" or a trimmed, non-empty text from the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "iperf/IperfOutput.h"
#include "platform/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string figure =
        kestova::iperf::figureOfMergedLines(kestova::platform::splitLines(text));
    constexpr std::string_view kWhiteSpace = " \f\n\r\t\v";
    if (figure.empty() || kWhiteSpace.find(figure.front()) != std::string_view::npos ||
        kWhiteSpace.find(figure.back()) != std::string_view::npos) {
        std::abort();
    }
    if (figure != "error" && text.find(figure) == std::string_view::npos) {
        std::abort();
    }
    return 0;
}

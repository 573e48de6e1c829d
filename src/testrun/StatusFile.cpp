#include "testrun/StatusFile.h"

#include "platform/TextFile.h"

namespace kestova {

void writeStatusFile(const std::string& path, std::string_view value) {
    // A failed write is no news for the test run: the page sees the file unchanged.
    static_cast<void>(platform::writeWholeFile(path, value));
}

std::string readStatusFile(const std::string& path) { return platform::readFirstLine(path); }

}  // namespace kestova

#pragma once

#include <filesystem>
#include <string>

namespace kestova::testing {

// A file of tests/data, by its path below that folder.
inline std::filesystem::path testDataPath(const std::string& relative) {
    return std::filesystem::path(KESTOVA_TEST_DATA_DIR) / relative;
}

}  // namespace kestova::testing

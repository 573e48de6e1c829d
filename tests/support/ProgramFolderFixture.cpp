#include "support/ProgramFolderFixture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace kestova::testing {

void ProgramFolderTest::SetUp() {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestova-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "speedTest");
    std::filesystem::current_path(folder_);
}

void ProgramFolderTest::TearDown() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void ProgramFolderTest::putFile(const std::string& path, const std::string& bytes) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ProgramFolderTest::fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kestova::testing

#include "support/ProgramFolderFixture.h"

#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace kestova::testing {

void ProgramFolderTest::SetUp() {
    previous_ = std::filesystem::current_path();
    // A new folder of a random name, made by this test alone (create_directory is false when the
    // name is taken).
    std::random_device seed;
    std::mt19937_64 names(seed());
    const std::filesystem::path temporary = std::filesystem::temp_directory_path();
    bool made = false;
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        folder_ = temporary / ("kestova-test-" + std::to_string(names()));
        made = std::filesystem::create_directory(folder_);
    }
    ASSERT_TRUE(made);
    // The user's own, whatever the umask: the program runs no script from a folder others can
    // write.
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
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

#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace kestova::testing {

// Each test runs in a program folder of its own: a fresh temporary folder (the user's alone)
// holding an empty speedTest folder, made the current directory for the test and removed
// afterwards.
class ProgramFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& folder() const { return folder_; }
    // Writes a file of the program folder, creating its parent folders.
    static void putFile(const std::string& path, const std::string& bytes);
    // The whole content of a file, or "<missing>" when it cannot be read.
    static std::string fileBytes(const std::string& path);

  private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

}  // namespace kestova::testing

#include "platform/ProgramFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

using ProgramFolder = testing::ProgramFolderTest;

TEST_F(ProgramFolder, WorkdirBecomesTheCurrentFolder) {
    const std::filesystem::path target = folder() / "speedTest";
    EXPECT_FALSE(enterProgramFolder(target.string()));
    EXPECT_EQ(std::filesystem::current_path(), target);
}

TEST_F(ProgramFolder, WithoutWorkdirTheExecutablesFolderIsEntered) {
    const std::optional<std::string> executable = executableFolder();
    ASSERT_TRUE(executable);
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(*executable) / "platform_tests.exe"));
#else
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(*executable) / "platform_tests"));
#endif
    EXPECT_FALSE(enterProgramFolder(std::nullopt));
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(*executable));
}

TEST_F(ProgramFolder, AMissingWorkdirIsAnErrorAndChangesNothing) {
    const std::optional<std::string> error = enterProgramFolder((folder() / "absent").string());
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("absent"), std::string::npos);
    EXPECT_EQ(std::filesystem::current_path(), folder());
}

#ifdef _WIN32
// cmd.exe takes no network share nor "\\?\" name as its current folder: the scripts would run
// elsewhere. Such a program folder is refused, with why, before anything changes.
TEST_F(ProgramFolder, AFolderOffADriveLetterIsRefusedWithWhy) {
    const std::string local = folder().string();
    for (const std::string& named :
         {std::string("\\\\server\\share\\kestova"),
          std::string("\\\\?\\UNC\\server\\share\\kestova"), std::string("\\\\?\\") + local,
          std::string("\\\\localhost\\C$")}) {
        SCOPED_TRACE(named);
        const std::optional<std::string> error = enterProgramFolder(named);
        ASSERT_TRUE(error);
        EXPECT_NE(error->find("not on a drive letter"), std::string::npos) << *error;
        EXPECT_EQ(std::filesystem::current_path(), folder());
        // The program enters the workspace by its full name: the same name, refused the same.
        EXPECT_EQ(fullFolderPath(named), named);
    }
}
#endif

}  // namespace
}  // namespace kestova::platform

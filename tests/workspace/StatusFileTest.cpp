#include "workspace/StatusFile.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "support/ProgramFolderFixture.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using StatusFile = testing::ProgramFolderTest;

TEST_F(StatusFile, HoldsTheValueBytesWithoutALineEnd) {
    writeStatusFile(workspace::kDownloadStatus, "-1");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    writeStatusFile(workspace::kDownloadStatus, "2");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    writeStatusFile(workspace::kVersionStatus, "");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "");
}

TEST_F(StatusFile, AMissingSpeedTestFolderIsSilentAndNotCreated) {
    std::filesystem::remove_all("speedTest");
    writeStatusFile(workspace::kErrorCode, "e001");
    EXPECT_FALSE(std::filesystem::exists("speedTest"));
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "<missing>");
}

TEST_F(StatusFile, AFileThatCannotBeOpenedIsSkippedAndTheNextWriteHappens) {
    std::filesystem::create_directory(workspace::kDownloadStatus);  // not a file: cannot be opened
    writeStatusFile(workspace::kDownloadStatus, "1");
    writeStatusFile(workspace::kUploadStatus, "0");
    EXPECT_TRUE(std::filesystem::is_directory(workspace::kDownloadStatus));
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "0");
}

// A read-only file: by its mode for a normal user; root writes through modes, so there the file
// is made read-only by a read-only bind mount of it.
TEST_F(StatusFile, AReadOnlyFileKeepsItsValueAndTheNextWriteHappens) {
    const std::string path = (folder() / workspace::kDownloadStatus).string();
    putFile(path, "0");
    bool mounted = false;
    if (::geteuid() == 0) {
        mounted =
            ::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        if (!mounted) {
            ::umount(path.c_str());
            GTEST_SKIP() << "root without the right to mount: no way to make a file read-only";
        }
    } else {
        std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    }
    writeStatusFile(workspace::kDownloadStatus, "1");
    writeStatusFile(workspace::kUploadStatus, "0");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "0");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "0");
    if (mounted) {
        ::umount(path.c_str());
    }
}

}  // namespace
}  // namespace kestova

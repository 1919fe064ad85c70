// Windows only: the free space of a folder's volume, and the Win32 errors of the files'
// backend as the program's file errors.

#include "shots/win32/Win32FreeSpace.h"

#include <gtest/gtest.h>

#include "shell/ProgramError.h"
#include "shots/ShotsTestSupport.h"
#include "shots/windows/Win32Files.h"

namespace ostrelo {
namespace {

TEST(Win32FreeSpace, ReadsTheVolumeOfAFolderNamedInUtf8) {
  testing::TempFolder folder("Essai ä");
  const std::optional<DiskSpace> space = Win32FreeSpace().Read(folder.utf8());
  ASSERT_TRUE(space.has_value());
  EXPECT_GT(space->availableBytes, 0u);
  EXPECT_EQ(space->blockBytes & (space->blockBytes - 1), 0u) << space->blockBytes << ": a cluster is a power of two";
  EXPECT_EQ(folder.utf8().rfind(space->mountPoint, 0), 0u) << space->mountPoint;
  EXPECT_FALSE(Win32FreeSpace().Read(folder / "missing").has_value());
}

TEST(Win32Errors, AreTheProgramsFileErrors) {
  const std::pair<DWORD, int32_t> cases[] = {{ERROR_DISK_FULL, ErrorNumber::kDiskFull},
                                             {ERROR_HANDLE_DISK_FULL, ErrorNumber::kDiskFull},
                                             {ERROR_ACCESS_DENIED, ErrorNumber::kPermissionDenied},
                                             {ERROR_SHARING_VIOLATION, ErrorNumber::kPermissionDenied},
                                             {ERROR_WRITE_PROTECT, ErrorNumber::kPermissionDenied},
                                             {ERROR_FILE_NOT_FOUND, ErrorNumber::kPathNotFound},
                                             {ERROR_PATH_NOT_FOUND, ErrorNumber::kPathNotFound},
                                             {ERROR_INVALID_NAME, ErrorNumber::kFileAccess}};
  for (const auto& [error, number] : cases) EXPECT_EQ(FileError(ErrnoOf(error), "x").number(), number) << error;
}

}  // namespace
}  // namespace ostrelo

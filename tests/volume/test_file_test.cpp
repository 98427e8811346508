// The test file's place: <mount>/test/test.bin, never reached through a link.

#include "volume/test_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "support/sim_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zorv {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr int kRefused = ERROR_INVALID_PARAMETER;
constexpr int kNoUnbufferedIo = ERROR_INVALID_PARAMETER;
#else
constexpr int kRefused = EINVAL;
constexpr int kNoUnbufferedIo = EINVAL;
#endif

TEST(TestFile, PathsUnderTheMountPoint) {
  EXPECT_EQ(testFilePath("/media/data"), "/media/data/test/test.bin");
  EXPECT_EQ(testFilePath("/"), "/test/test.bin");
#ifdef _WIN32
  EXPECT_EQ(testFilePath("D:\\"), "D:\\test/test.bin");
#endif
}

TEST(TestFile, ATestFileWithAnotherNameOrALinkIsNotWritten) {
  test::TempDir mount;
  int error = 0;
  const NativeFile folder = openTestFolder(mount.path(), true, error);
  ASSERT_NE(folder, kNoFile) << error;
  const NativeFile file = openTestFile(mount.path(), folder, false, error);
  if (file == kNoFile && error == kNoUnbufferedIo)
    GTEST_SKIP() << "the temporary directory takes no unbuffered I/O";
  ASSERT_NE(file, kNoFile) << error;
  closeNativeFile(file);

  // test.bin as a second name of a file elsewhere on the volume.
  std::ofstream(mount.file("precious")) << "keep";
  fs::remove(mount.file("test/test.bin"));
  fs::create_hard_link(mount.file("precious"), mount.file("test/test.bin"));
  EXPECT_EQ(openTestFile(mount.path(), folder, false, error), kNoFile);
  EXPECT_EQ(error, kRefused);

  // test.bin as a symbolic link, where the system lets a test make one.
  fs::remove(mount.file("test/test.bin"));
  std::error_code linked;
  fs::create_symlink(mount.file("precious"), mount.file("test/test.bin"), linked);
  if (!linked) {
    EXPECT_EQ(openTestFile(mount.path(), folder, false, error), kNoFile);
    EXPECT_EQ(error, kRefused);
  }
  closeNativeFile(folder);

  // A link is never deleted as a leftover either; only a test file of its own.
  EXPECT_FALSE(deleteLeftoverTestFile(mount.path()));
  EXPECT_TRUE(fs::exists(mount.file("precious")));
  std::ifstream in(mount.file("precious"));
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");
}

TEST(TestFile, ALeftoverTestFileIsDeletedAndTheFreeSpaceIsKnown) {
  test::TempDir mount;
  fs::create_directory(mount.file("test"));
  std::ofstream(mount.file("test/test.bin")) << "an earlier run";
  std::ofstream(mount.file("test/other")) << "not the test's";
  EXPECT_TRUE(deleteLeftoverTestFile(mount.path()));
  EXPECT_FALSE(fs::exists(mount.file("test/test.bin")));
  EXPECT_TRUE(fs::exists(mount.file("test/other")));
  EXPECT_FALSE(deleteLeftoverTestFile(mount.path()));

  uint64_t bytes = 0;
  int error = -1;
  ASSERT_TRUE(volumeFreeBytes(mount.path(), bytes, error));
  EXPECT_EQ(error, 0);
  EXPECT_GT(bytes, 0u);
  EXPECT_FALSE(volumeFreeBytes(mount.file("no such folder"), bytes, error));
  EXPECT_NE(error, 0);
}

}  // namespace
}  // namespace zorv

// The test file's place: <mount>/test/test.bin, never reached through a link.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/sim_fixture.h"
#include "volume/test_file.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

TEST(TestFile, PathsUnderTheMountPoint) {
  EXPECT_EQ(testFilePath("/media/data"), "/media/data/test/test.bin");
  EXPECT_EQ(testFilePath("/"), "/test/test.bin");
}

TEST(TestFile, ATestFileWithAnotherNameOrALinkIsNotWritten) {
  test::TempDir mount;
  int error = 0;
  const int folder = openTestFolder(mount.path(), true, error);
  ASSERT_GE(folder, 0) << error;
  const int fd = openTestFile(folder, false, error);
  if (fd < 0 && error == EINVAL) GTEST_SKIP() << "the temporary directory takes no unbuffered I/O";
  ASSERT_GE(fd, 0) << error;
  ::close(fd);

  // test.bin as a second name of a file elsewhere on the volume.
  std::ofstream(mount.file("precious")) << "keep";
  fs::remove(mount.file("test/test.bin"));
  fs::create_hard_link(mount.file("precious"), mount.file("test/test.bin"));
  EXPECT_LT(openTestFile(folder, false, error), 0);
  EXPECT_EQ(error, EINVAL);

  // test.bin as a symbolic link.
  fs::remove(mount.file("test/test.bin"));
  fs::create_symlink(mount.file("precious"), mount.file("test/test.bin"));
  EXPECT_LT(openTestFile(folder, false, error), 0);
  EXPECT_EQ(error, EINVAL);
  ::close(folder);

  // A link is never deleted as a leftover either; only a test file of its own.
  EXPECT_FALSE(deleteLeftoverTestFile(mount.path()));
  EXPECT_TRUE(fs::exists(mount.file("precious")));
  std::ifstream in(mount.file("precious"));
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");
}

}  // namespace
}  // namespace zorv

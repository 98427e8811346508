#pragma once
// Where a volume test writes: the file test.bin in the folder test at the
// root of the volume (its mount point), and nowhere else. The folder must be
// a directory of the volume's own file system: a symbolic link or another
// file system mounted there is refused, so that the test never writes (or
// deletes) outside the volume it was given.

#include <cstdint>
#include <string>

namespace zorv {

// "<mount>/test" and "<mount>/test/test.bin" (one slash after a mount point
// that ends in one, such as "/").
std::string testFolderPath(const std::string& mount);
std::string testFilePath(const std::string& mount);

// The bytes an ordinary program may still write on the volume. False with
// the errno when the volume cannot be asked.
bool volumeFreeBytes(const std::string& mount, uint64_t& bytes, int& error);

// Opens the folder test of the volume, making it when create is set; -1
// with the errno (ENOTDIR for a folder that is not a directory of the
// volume's own file system).
int openTestFolder(const std::string& mount, bool create, int& error);

// Opens or creates test.bin in the folder for unbuffered reads and writes;
// writeThrough adds O_DSYNC (every write reaches the media before it
// completes). -1 with the errno; a test.bin that is not a regular file of
// its own (a link, a device, a file with a second name) is refused (EINVAL).
int openTestFile(int folderFd, bool writeThrough, int& error);

// Deletes test.bin of an earlier run when it is a regular file in the folder
// test of the volume's own file system; true when one was deleted.
bool deleteLeftoverTestFile(const std::string& mount);

}  // namespace zorv

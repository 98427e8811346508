#pragma once
// Where a volume test writes: the file test.bin in the folder test at the
// root of the volume (its mount point), and nowhere else. The folder must be
// a directory of the volume's own file system: a symbolic link (a reparse
// point on Windows) or another file system mounted there is refused, so that
// the test never writes (or deletes) outside the volume it was given.
//
// Errors are the system's numbers: errno on POSIX systems, GetLastError's
// code on Windows (the window prints them as "CreateFile: %d").

#include <cstdint>
#include <string>

#include "volume/native_file.h"

namespace zorv {

inline constexpr const char* kTestFolderName = "test";
inline constexpr const char* kTestFileName = "test.bin";

// "<mount>/test" and "<mount>/test/test.bin" (one separator after a mount
// point that ends in one, such as "/" or "D:\").
std::string testFolderPath(const std::string& mount);
std::string testFilePath(const std::string& mount);

// The bytes an ordinary program may still write on the volume. False with
// the error when the volume cannot be asked.
bool volumeFreeBytes(const std::string& mount, uint64_t& bytes, int& error);

// Opens the folder test of the volume, making it when create is set; kNoFile
// with the error (ENOTDIR / ERROR_DIRECTORY for a folder that is not a
// directory of the volume's own file system). While it is open the folder
// cannot be replaced.
NativeFile openTestFolder(const std::string& mount, bool create, int& error);

// Opens or creates test.bin in the open folder of the volume at mount for
// unbuffered reads and writes (queued: overlapped on Windows); writeThrough
// makes every write reach the media before it completes. kNoFile with the
// error; a test.bin that is not a regular file of its own (a link, a
// device, a file with a second name) is refused (EINVAL /
// ERROR_INVALID_PARAMETER).
NativeFile openTestFile(const std::string& mount, NativeFile folder, bool writeThrough, int& error);

// Deletes test.bin of an earlier run when it is a regular file in the folder
// test of the volume's own file system; true when one was deleted.
bool deleteLeftoverTestFile(const std::string& mount);

}  // namespace zorv

// The test file on POSIX systems: openat under the folder's descriptor, so
// that nothing on the path can be swapped for a link once the folder is open.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "volume/test_file.h"

namespace zorv {

namespace {

// The folder as a directory of the mount's own file system, not followed
// through a link.
int openFolderOnVolume(const std::string& mount, int& error) {
  const int root = ::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    error = errno;
    return -1;
  }
  struct stat rootStat {};
  ::fstat(root, &rootStat);
  const int folder = ::openat(root, kTestFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  error = errno;
  ::close(root);
  if (folder < 0) {
    if (error == ELOOP) error = ENOTDIR;
    return -1;
  }
  struct stat folderStat {};
  if (::fstat(folder, &folderStat) != 0 || folderStat.st_dev != rootStat.st_dev) {
    ::close(folder);
    error = ENOTDIR;
    return -1;
  }
  return folder;
}

}  // namespace

void closeNativeFile(NativeFile file) {
  if (file >= 0) ::close(file);
}

bool volumeFreeBytes(const std::string& mount, uint64_t& bytes, int& error) {
  struct statvfs s {};
  if (::statvfs(mount.c_str(), &s) != 0) {
    error = errno;
    return false;
  }
  bytes = uint64_t{s.f_bavail} * uint64_t{s.f_frsize};
  error = 0;
  return true;
}

NativeFile openTestFolder(const std::string& mount, bool create, int& error) {
  if (create) {
    const int root = ::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
      error = errno;
      return -1;
    }
    const int rc = ::mkdirat(root, kTestFolderName, 0755);
    error = errno;
    ::close(root);
    if (rc != 0 && error != EEXIST) return -1;
  }
  return openFolderOnVolume(mount, error);
}

NativeFile openTestFile(const std::string&, NativeFile folderFd, bool writeThrough, int& error) {
  int flags = O_RDWR | O_CREAT | O_DIRECT | O_NOFOLLOW | O_CLOEXEC;
  if (writeThrough) flags |= O_DSYNC;
  const int fd = ::openat(folderFd, kTestFileName, flags, 0644);
  if (fd < 0) {
    error = errno == ELOOP ? EINVAL : errno;
    return -1;
  }
  // A second name for the file (a hard link) would let the test write into
  // a file somewhere else on the volume.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    error = EINVAL;
    return -1;
  }
  return fd;
}

bool deleteLeftoverTestFile(const std::string& mount) {
  int error = 0;
  const int folder = openFolderOnVolume(mount, error);
  if (folder < 0) return false;
  struct stat st {};
  bool deleted = false;
  if (::fstatat(folder, kTestFileName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
    deleted = ::unlinkat(folder, kTestFileName, 0) == 0;
  ::close(folder);
  return deleted;
}

}  // namespace zorv

#endif  // _WIN32

#include "volume/test_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace zorv {

namespace {

constexpr const char* kFolder = "test";
constexpr const char* kFile = "test.bin";

std::string joined(const std::string& mount, const char* name) {
  if (!mount.empty() && mount.back() == '/') return mount + name;
  return mount + "/" + name;
}

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
  const int folder = ::openat(root, kFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

std::string testFolderPath(const std::string& mount) { return joined(mount, kFolder); }
std::string testFilePath(const std::string& mount) { return testFolderPath(mount) + "/" + kFile; }

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

int openTestFolder(const std::string& mount, bool create, int& error) {
  if (create) {
    const int root = ::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
      error = errno;
      return -1;
    }
    const int rc = ::mkdirat(root, kFolder, 0755);
    error = errno;
    ::close(root);
    if (rc != 0 && error != EEXIST) return -1;
  }
  return openFolderOnVolume(mount, error);
}

int openTestFile(int folderFd, bool writeThrough, int& error) {
  int flags = O_RDWR | O_CREAT | O_DIRECT | O_NOFOLLOW | O_CLOEXEC;
  if (writeThrough) flags |= O_DSYNC;
  const int fd = ::openat(folderFd, kFile, flags, 0644);
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
  if (::fstatat(folder, kFile, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
    deleted = ::unlinkat(folder, kFile, 0) == 0;
  ::close(folder);
  return deleted;
}

}  // namespace zorv

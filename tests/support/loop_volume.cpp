#include "support/loop_volume.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace zorv::test {

namespace {

// Runs a program quietly; its exit status, or -1 when it could not start.
int runQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

LoopVolume::LoopVolume(uint64_t bytes, Backing backing) : bytes_(bytes) {
  if (::geteuid() != 0) {
    skipReason = "needs root to attach a loop device and mount a file system";
    return;
  }
  if (dir_.path().empty()) {
    skipReason = "no temporary directory";
    return;
  }
  const std::string image = dir_.file("ext4 media.img");
  const int imageFd = ::open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (imageFd < 0 || ::ftruncate(imageFd, static_cast<off_t>(bytes)) != 0) {
    skipReason = std::string("cannot make the media file: ") + std::strerror(errno);
    if (imageFd >= 0) ::close(imageFd);
    return;
  }
  if (backing == Backing::Written) {
    std::vector<char> zeros(1 << 20, 0);
    for (uint64_t done = 0; done < bytes;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), bytes - done));
      const ssize_t w = ::pwrite(imageFd, zeros.data(), n, static_cast<off_t>(done));
      if (w <= 0) {
        skipReason = std::string("cannot write the media file: ") + std::strerror(errno);
        ::close(imageFd);
        return;
      }
      done += static_cast<uint64_t>(w);
    }
    ::fsync(imageFd);
  }
  const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) {
    ::close(imageFd);
    skipReason = std::string("no loop devices (/dev/loop-control: ") + std::strerror(errno) + ")";
    return;
  }
  // Another program may take the free device first: ask again.
  for (int attempt = 0; attempt < 20 && loopFd_ < 0; ++attempt) {
    const int n = ::ioctl(control, LOOP_CTL_GET_FREE);
    if (n < 0) break;
    const std::string path = "/dev/loop" + std::to_string(n);
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    if (::ioctl(fd, LOOP_SET_FD, imageFd) == 0) {
      loopFd_ = fd;
      device_ = path;
    } else {
      ::close(fd);
    }
  }
  ::close(control);
  ::close(imageFd);
  if (loopFd_ < 0) {
    skipReason = "no free loop device could be attached";
    return;
  }
  if (runQuietly({"mkfs.ext4", "-q", "-F", device_}) != 0) {
    skipReason = "mkfs.ext4 is missing or failed on " + device_;
    return;
  }
  mount_ = dir_.file("vol mount");
  ::mkdir(mount_.c_str(), 0755);
  if (::mount(device_.c_str(), mount_.c_str(), "ext4", 0, nullptr) != 0) {
    skipReason = "cannot mount ext4 from " + device_ + ": " + std::strerror(errno);
    return;
  }
  mounted_ = true;
}

LoopVolume::~LoopVolume() {
  if (mounted_) {
    // A file the kernel still finishes writing keeps the mount busy for a moment.
    for (int i = 0; i < 50 && ::umount2(mount_.c_str(), 0) != 0 && errno == EBUSY; ++i) ::usleep(100000);
  }
  if (loopFd_ >= 0) {
    ::ioctl(loopFd_, LOOP_CLR_FD, 0);
    ::close(loopFd_);
  }
}

}  // namespace zorv::test

#ifndef _WIN32
// POSIX systems; media_windows.cpp is the Windows counterpart.

#include "sim/media.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace zorv::sim {

namespace {

constexpr uint64_t kSector = 512;

std::string errnoText(int err) { return std::strerror(err); }

int preadAll(int fd, uint8_t* out, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) {  // past the end of a file that shrank: what is not there reads as zeros
      std::memset(out + done, 0, length - done);
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int pwriteAll(int fd, const uint8_t* in, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<size_t>(n);
  }
  return 0;
}

class SparseMedia : public SimMedia {
 public:
  // map may be null: where the address space cannot hold the whole drive
  // (a sanitizer's shadow memory, a small machine) reads use pread.
  SparseMedia(int fd, uint8_t* map, uint64_t sectors) : fd_(fd), map_(map), sectors_(sectors) {}
  ~SparseMedia() override {
    if (map_) ::munmap(map_, sectors_ * kSector);
    ::close(fd_);
  }
  uint64_t sectors() const override { return sectors_; }
  int read(uint64_t lba, uint32_t count, uint8_t* out) override {
    if (!map_) return preadAll(fd_, out, uint64_t{count} * kSector, lba * kSector);
    std::memcpy(out, map_ + lba * kSector, uint64_t{count} * kSector);
    return 0;
  }
  int write(uint64_t lba, uint32_t count, const uint8_t* in) override {
    return pwriteAll(fd_, in, uint64_t{count} * kSector, lba * kSector);
  }
  int flush() override { return ::fdatasync(fd_) == 0 ? 0 : errno; }

 private:
  int fd_;
  uint8_t* map_;
  uint64_t sectors_;
};

class FileMedia : public SimMedia {
 public:
  FileMedia(int directFd, int bufferedFd, uint64_t sectors)
      : directFd_(directFd), bufferedFd_(bufferedFd), sectors_(sectors) {}
  ~FileMedia() override {
    if (directFd_ >= 0) ::close(directFd_);
    ::close(bufferedFd_);
  }
  uint64_t sectors() const override { return sectors_; }

  int read(uint64_t lba, uint32_t count, uint8_t* out) override {
    size_t length = size_t{count} * kSector;
    if (useDirect(out)) {
      int err = preadAll(directFd_, out, length, lba * kSector);
      if (err != EINVAL) return err;
      directRefused();
    }
    return preadAll(bufferedFd_, out, length, lba * kSector);
  }

  int write(uint64_t lba, uint32_t count, const uint8_t* in) override {
    size_t length = size_t{count} * kSector;
    if (useDirect(in)) {
      int err = pwriteAll(directFd_, in, length, lba * kSector);
      if (err != EINVAL) return err;
      directRefused();
    }
    return pwriteAll(bufferedFd_, in, length, lba * kSector);
  }

  int flush() override { return ::fdatasync(bufferedFd_) == 0 ? 0 : errno; }

  int asyncFd() const override { return direct_.load(std::memory_order_relaxed) ? directFd_ : bufferedFd_; }
  bool asyncNeedsAlignment() const override { return direct_.load(std::memory_order_relaxed); }
  void directRefused() override { direct_.store(false, std::memory_order_relaxed); }

 private:
  bool useDirect(const void* buffer) const {
    return direct_.load(std::memory_order_relaxed) && reinterpret_cast<uintptr_t>(buffer) % 4096 == 0;
  }

  int directFd_;
  int bufferedFd_;
  uint64_t sectors_;
  std::atomic<bool> direct_{directFd_ >= 0};
};

}  // namespace

uint64_t mediaFileBytes(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": cannot be opened (" + errnoText(errno) + ")";
    return 0;
  }
  struct stat st {};
  uint64_t bytes = 0;
  if (::fstat(fd, &st) != 0) {
    error = path + ": cannot be sized (" + errnoText(errno) + ")";
  } else if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) error = path + ": cannot be sized (" + errnoText(errno) + ")";
  } else if (S_ISREG(st.st_mode)) {
    bytes = static_cast<uint64_t>(st.st_size);
  } else {
    error = path + ": neither a regular file nor a block device";
  }
  ::close(fd);
  return bytes;
}

std::unique_ptr<SimMedia> openSparseMedia(const std::string& path, uint64_t sectors, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  bool created = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);  // made by another process
  }
  if (fd < 0) {
    error = path + ": cannot be opened (" + errnoText(errno) + ")";
    return nullptr;
  }
  uint64_t bytes = sectors * kSector;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = path + ": cannot be sized (" + errnoText(errno) + ")";
    ::close(fd);
    return nullptr;
  }
  if (created || (st.st_size == 0 && bytes != 0)) {
    if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      error = path + ": cannot be made " + std::to_string(sectors) + " sectors long (" + errnoText(errno) + ")";
      ::close(fd);
      if (created) ::unlink(path.c_str());
      return nullptr;
    }
  } else if (static_cast<uint64_t>(st.st_size) != bytes) {
    error = path + ": holds " + std::to_string(st.st_size) + " bytes, the drive has " + std::to_string(sectors) +
            " sectors (" + std::to_string(bytes) + " bytes)";
    ::close(fd);
    return nullptr;
  }
  void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED | MAP_NORESERVE, fd, 0);
  return std::make_unique<SparseMedia>(fd, map == MAP_FAILED ? nullptr : static_cast<uint8_t*>(map), sectors);
}

std::unique_ptr<SimMedia> openFileMedia(const std::string& path, uint64_t& sectors, std::string& error) {
  uint64_t bytes = 0;
  if (!measureFileMedia(path, sectors, bytes, error)) return nullptr;
  int buffered = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (buffered < 0) {
    error = path + ": cannot be opened (" + errnoText(errno) + ")";
    return nullptr;
  }
  // Some file systems refuse O_DIRECT; the buffered descriptor then serves all.
  int direct = ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  return std::make_unique<FileMedia>(direct, buffered, sectors);
}

}  // namespace zorv::sim

#endif

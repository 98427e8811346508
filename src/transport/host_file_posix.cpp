#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "transport/host_file.h"

namespace zorv {

namespace {
std::string errnoText(int err) { return std::strerror(err); }
}  // namespace

HostFile::~HostFile() { close(); }
HostFile::HostFile(HostFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
HostFile& HostFile::operator=(HostFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void HostFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool HostFile::isOpen() const { return fd_ >= 0; }

std::optional<HostFile> HostFile::open(const std::string& path, Open how, OpenError& error) {
  int flags = O_CLOEXEC;
  switch (how) {
    case Open::ReadOnly: flags |= O_RDONLY; break;
    case Open::ReadWrite: flags |= O_RDWR; break;
    case Open::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Open::OpenOrCreate: flags |= O_RDWR | O_CREAT; break;
    case Open::Truncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    error.text = errnoText(errno);
    error.notFound = errno == ENOENT;
    error.alreadyExists = errno == EEXIST;
    return std::nullopt;
  }
  HostFile file;
  file.fd_ = fd;
  return file;
}

std::string HostFile::readAt(uint8_t* out, size_t length, uint64_t offset) const {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errnoText(errno);
    if (n == 0) {
      std::memset(out + done, 0, length - done);
      break;
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

std::string HostFile::writeAt(const uint8_t* in, size_t length, uint64_t offset) const {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return errnoText(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  return {};
}

std::string HostFile::size(uint64_t& bytes) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return errnoText(errno);
  bytes = static_cast<uint64_t>(st.st_size);
  return {};
}

std::string HostFile::resize(uint64_t bytes) const {
  return ::ftruncate(fd_, static_cast<off_t>(bytes)) == 0 ? std::string() : errnoText(errno);
}

std::string HostFile::syncData() const { return ::fdatasync(fd_) == 0 ? std::string() : errnoText(errno); }

void HostFile::lock(bool exclusive) const {
  while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
  }
}

void HostFile::unlock() const { ::flock(fd_, LOCK_UN); }

void* HostFile::map(size_t bytes, bool writable) const {
  void* p = ::mmap(nullptr, bytes, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd_, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void HostFile::unmap(void* address, size_t bytes) {
  if (address) ::munmap(address, bytes);
}

std::string replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? std::string() : errnoText(errno);
}

std::string publishNewFile(const std::string& from, const std::string& to) {
  return ::link(from.c_str(), to.c_str()) == 0 || errno == EEXIST ? std::string() : errnoText(errno);
}

std::string ownExecutablePath() { return "/proc/self/exe"; }

uint64_t hostProcessId() { return static_cast<uint64_t>(::getpid()); }

}  // namespace zorv

#endif
